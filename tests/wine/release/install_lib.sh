# Shared by the installer tests (sourced inside a Wine bed): the product's
# identifiers, registry and file snapshots of drive C:, and their comparison.
# `wine reg` and `wine cscript` have the bitness WINEBED_BITS names.

# No Linux menu entries outside the prefix for the shortcut.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}winemenubuilder.exe=d"

release_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
clsid='{AE9A5D2E-BBF9-4C49-A62B-3213850ACBF4}'
libid='{632E0650-8269-42D8-A170-07403C76533E}'
iid='{4D6FCCA6-267A-4400-AD8B-0B0E6E5ADE0B}'
product_name='Lorvane Quillon and Orbalin'
drive_c=$WINEPREFIX/drive_c
install_dir="$drive_c/Program Files/Lorvane"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
winpath() { echo "Z:${1//\//\\}"; }
query() { wine reg query "$@" 2>/dev/null | tr -d '\r'; }
# The default value of KEY (extra reg options may follow).
default_of() { query "$@" /ve | sed -n 's/^ *(Default) *REG_SZ *//p'; }
expect() {  # description expected actual
    [[ $2 == "$3" ]] || fail "$1: expected '$2', got '$3'"
}

# msiexec OPTION MSI, silent, with its verbose log in $work/NAME.log.
msiexec_log() {  # name msi option...
    local name=$1 msi=$2
    shift 2
    wine msiexec "$@" "$(winpath "$msi")" /qn /l*v "$(winpath "$work/$name.log")"
}

# Installs MSI; a failure is reported with the end of the log.
install_package() {  # msi
    msiexec_log install "$1" /i && return 0
    fail "msiexec /i $1: exit code $?"
    log_text "$work/install.log" | tail -40
    return 1
}

# The installer's log as text (Wine writes it in UTF-16 or in bytes).
log_text() {
    if [[ $(head -c2 "$1" | od -An -tx1 | tr -d ' ') == fffe ]]; then iconv -f utf-16 -t utf-8 "$1"; else cat "$1"; fi
}

# Start from a machine without Orbalin: take back a registration left by
# another test of this bed and the products left by an interrupted run;
# cscript registers the VBScript type library on first start, not ours to
# count.
clean_start() {  # msi...
    local msi left
    for msi in "$@"; do wine msiexec /x "$(winpath "$msi")" /qn >/dev/null 2>&1; done
    left=$(default_of "HKCR\\CLSID\\$clsid\\InprocServer32")
    [[ -n $left ]] && wine regsvr32 /u /s "$left" >/dev/null 2>&1
    # Either bitness's first start registers it, each in its own view.
    printf 'WScript.Echo "warm"\r\n' >"$work/warm.vbs"
    local bits
    for bits in 64 32; do
        WINEBED_BITS=$bits wine cscript //nologo "$(winpath "$work/warm.vbs")" >/dev/null 2>&1
    done
    return 0
}

snapshot() {  # name
    # Every file of drive C: but the temporary folders.
    (cd "$drive_c" && find . -path ./windows/temp -prune -o -path './users/*/Temp' -prune -o \
        -path './users/*/AppData/Local/Temp' -prune -o -print | sort) >"$work/$1-files.txt"
    wine reg export HKLM "$(winpath "$work/$1-hklm.reg")" /y >/dev/null 2>&1 &&
        wine reg export HKCU "$(winpath "$work/$1-hkcu.reg")" /y >/dev/null 2>&1 ||
        fail "reg export $1"
}

# Registry and drive C: of snapshot NAME against "before".
same_as_before() {  # name what
    local hive
    for hive in hklm hkcu; do
        python3 "$release_here/registry_diff.py" "$work/before-$hive.reg" "$work/$1-$hive.reg" ||
            fail "registry ($hive) differs $2"
    done
    diff "$work/before-files.txt" "$work/$1-files.txt" || fail "files differ $2 (C: drive)"
}

# The installed products of this name, as "ProductCode|DisplayVersion" lines.
installed_products() {  # [reg view option]
    query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s "$@" | awk -v name="$product_name" '
        /^HKEY_/ { key = $0; sub(/.*\\/, "", key); next }
        $1 == "DisplayName" { names[key] = substr($0, index($0, "REG_SZ") + 10) }
        $1 == "DisplayVersion" { versions[key] = substr($0, index($0, "REG_SZ") + 10) }
        END { for (k in names) if (names[k] == name) print k "|" versions[k] }' | sort
}

# A late-bound client of the installed server: cscript of the bitness
# WINEBED_BITS names; prints what the client said.
run_sale_line_client() {
    cp "$release_here/sale_line_client.vbs" "$work/"
    wine cscript //nologo "$(winpath "$work/sale_line_client.vbs")" 2>&1 | tr -d '\r'
}
sale_line_client_output=$'Orbalin.OrbalinObj: IOrbalinObj\nCode=A-17 Name=Bread Price=2.35 Quantity=3 DeviceNumber=2\nclient done'

report() {  # test name
    [[ $failures -eq 0 ]] && echo "$1 passed" || echo "$failures failure(s)"
    [[ $failures -eq 0 ]]
}
