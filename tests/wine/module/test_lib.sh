# Shared helpers of the Orbalin script tests (sourced; runs inside the bed).
set -euo pipefail

: "${LORVANE_BUILD_DIR:?}" "${LORVANE_SOURCE_DIR:?}"
failures=0

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }
finish() {
    if ((failures)); then echo "$failures check(s) failed"; exit 1; fi
    echo "all checks passed"
}

# The identifiers, from their one source.
identifier() {
    sed -n "s/^set($1 *\"\\({[^\"]*}\\)\")/\\1/p" "$LORVANE_SOURCE_DIR/server/contract/identifiers.cmake"
}
CLSID=$(identifier ORBALIN_CLSID)
LIBID=$(identifier ORBALIN_LIBID)
IID=$(identifier ORBALIN_IID)
[[ -n $CLSID && -n $LIBID && -n $IID ]] || { echo "cannot read the identifiers"; exit 1; }

# The tree's bitness: the built-ins started by name (wine reg, wine
# regsvr32, wine cscript) are of the same one, and so is the registry view.
BITS=${WINEBED_BITS:-64}
SYSKIND=win$BITS

ORBALIN_DLL=$LORVANE_BUILD_DIR/server/module/Orbalin.dll
DETECTOR_SIM=$LORVANE_BUILD_DIR/devtools/detector-sim/detector-sim.exe

# Z:\ path of a Linux path.
winpath() { local p=$1; echo "Z:${p//\//\\}"; }

# The data of value NAME ("" for the default value) of KEY below HKCR, or
# the word ABSENT when the key or value does not exist.
reg_value() {
    local key=$1 name=$2 out
    if [[ -z $name ]]; then
        out=$(wine reg query "HKCR\\$key" /ve 2>/dev/null | tr -d '\r') || { echo ABSENT; return; }
        name='(Default)'
    else
        out=$(wine reg query "HKCR\\$key" /v "$name" 2>/dev/null | tr -d '\r') || { echo ABSENT; return; }
    fi
    # "    NAME    REG_SZ    DATA"; a default value that was never set has no data.
    awk -v n="$name" 'index($0, "    " n "    ") == 1 {
        rest = substr($0, length(n) + 9); sub(/^[A-Z_]+/, "", rest); sub(/^    /, "", rest)
        print rest; found = 1 }
        END { if (!found) print "ABSENT" }' <<<"$out"
}

key_exists() { wine reg query "HKCR\\$1" >/dev/null 2>&1; }

# Subkey names directly below KEY, one a line, sorted.
subkeys() {
    wine reg query "HKCR\\$1" 2>/dev/null | tr -d '\r' | awk -v k="HKEY_CLASSES_ROOT\\$1\\" '
        index($0, k) == 1 { print substr($0, length(k) + 1) }' | sort
}

expect_value() {
    local key=$1 name=$2 want=$3 got
    got=$(reg_value "$key" "$name")
    if [[ $got == "$want" ]]; then pass "$key [${name:-default}] = $want"; else fail "$key [${name:-default}]: want '$want', got '$got'"; fi
}

expect_absent() {
    if key_exists "$1"; then fail "$1 still exists"; else pass "$1 absent"; fi
}

# Every key and value that registration makes, as one text.
registry_dump() {
    local key
    for key in Orbalin.OrbalinObj.1 Orbalin.OrbalinObj "CLSID\\$CLSID" "TypeLib\\$LIBID" "Interface\\$IID"; do
        echo "== $key"
        wine reg query "HKCR\\$key" /s 2>/dev/null | tr -d '\r' || echo "(absent)"
    done
}

# The profile value [Orbalin] Orbalin=PATH of the user's win.ini, which
# names the detector program; an empty PATH removes the section.
set_profile() {
    local win_ini=$WINEPREFIX/drive_c/windows/win.ini
    touch "$win_ini"
    python3 - "$win_ini" "$1" <<'PY'
import sys
path, value = sys.argv[1], sys.argv[2]
lines = open(path, encoding="latin-1").read().replace("\r\n", "\n").split("\n")
out, skip = [], False
for line in lines:
    if line.startswith("["):
        skip = line.strip().lower() == "[orbalin]"
    if not skip:
        out.append(line)
while out and out[-1] == "":
    out.pop()
if value:
    out += ["[Orbalin]", "Orbalin=" + value]
open(path, "w", encoding="latin-1", newline="\r\n").write("\n".join(out) + "\n")
PY
}

# Starts detector-sim in the background (pid in detector_pid) with its
# received texts going to LOG; it ends by itself (give --exit-after). Ready
# when a status read through the server finds its form, so the options must
# include --status 7 and Orbalin must be registered.
start_detector() {
    local log=$1; shift
    : >"$log"
    wine "$DETECTOR_SIM" --log "$(winpath "$log")" "$@" >/dev/null 2>&1 &
    detector_pid=$!
    local probe
    probe=$(mktemp "$LORVANE_BUILD_DIR/tests/wine/module/probe.XXXXXX.vbs")
    printf '%s\r\n' 'Set pos = CreateObject("Orbalin.OrbalinObj")' \
        'If pos.CheckStatus() = 7 Then WScript.Echo "forms=yes"' >"$probe"
    for _ in $(seq 50); do
        if wine cscript //nologo "$(winpath "$probe")" 2>/dev/null | grep -q 'forms=yes'; then
            rm -f "$probe"; return 0
        fi
        sleep 0.1
    done
    rm -f "$probe"
    fail "detector-sim did not come up"
}
