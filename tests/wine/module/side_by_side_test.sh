#!/usr/bin/env bash
# Both builds of Orbalin.dll in one WoW64 prefix, as on 64-bit Windows: the
# x64 one registered by the 64-bit regsvr32, the x86 one by syswow64's, each
# in its own registry view. A 64-bit and a 32-bit VBScript client each load
# the library of their own bitness and drive it against detector-sim;
# unregistering either build leaves the other one registered and working.
#
#   side_by_side_test.sh WIN32_BUILD_DIR     (run inside the bed; needs 32-bit Wine)
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/test_lib.sh"

win32_build=${1:?usage: side_by_side_test.sh WIN32_BUILD_DIR}
if ! why=$("$LORVANE_SOURCE_DIR/tests/wine/wine32-probe"); then
    echo "SKIP: $why"; exit 77
fi
[[ -f $win32_build/server/module/Orbalin.dll ]] || { echo "SKIP: no 32-bit Orbalin.dll in $win32_build"; exit 77; }

work=$(mktemp -d "$LORVANE_BUILD_DIR/tests/wine/module/side-by-side.XXXXXX")
mkdir -p "$work/x64" "$work/x86"
cp "$ORBALIN_DLL" "$work/x64/Orbalin.dll"
cp "$win32_build/server/module/Orbalin.dll" "$work/x86/Orbalin.dll"
declare -A dll=([64]=$(winpath "$work/x64/Orbalin.dll") [32]=$(winpath "$work/x86/Orbalin.dll"))
as() { local bits=$1; shift; WINEBED_BITS=$bits "$@"; }
register() { as "$1" wine regsvr32 /s "${@:2}" "${dll[$1]}" >/dev/null 2>&1; }
cleanup() {
    set_profile ""
    register 64 /u; register 32 /u
    rm -rf "$work"
}
trap cleanup EXIT
cp "$here/sale_line.vbs" "$work/"
set_profile "$(winpath "$DETECTOR_SIM")"

# The view of one bitness: its InprocServer32 (ABSENT when unregistered).
server_of() { as "$1" reg_value "CLSID\\$CLSID\\InprocServer32" ""; }

# A client of one bitness sends COMMAND; it must load the library of its own
# bitness and no other, and finish.
client() {  # bits command
    WINEBED_BITS=$1 WINEDEBUG=-all,+loaddll wine cscript //nologo "$(winpath "$work/sale_line.vbs")" \
        Orbalin.OrbalinObj "$2" >"$work/client-$1.out" 2>&1 </dev/null || true
    tr -d '\r' <"$work/client-$1.out" >"$work/client-$1.txt"
    local own=x$1 other=x86
    [[ $1 == 32 ]] && own=x86 other=x64
    # Wine's trace doubles each backslash of a path.
    grep -q 'Loaded L".*\\\\'"$own"'\\\\Orbalin.dll"' "$work/client-$1.txt" &&
        ! grep -q '\\\\'"$other"'\\\\Orbalin.dll"' "$work/client-$1.txt" && grep -qx done "$work/client-$1.txt"
}
# Both clients against one detector-sim; the texts it received, one a line.
run_both() {  # label, then for each bitness: want (works|fails)
    local label=$1 want64=$2 want32=$3 log=$work/$1.log bits want
    start_detector_as "$log" --status 7 --exit-after 12000
    for bits in 64 32; do
        want=want$bits
        if client "$bits" "$bits"; then
            [[ ${!want} == works ]] && pass "$label: $bits-bit client drives its own library" ||
                fail "$label: $bits-bit client still works"
        else
            [[ ${!want} == fails ]] && pass "$label: $bits-bit client finds no server" ||
                fail "$label: $bits-bit client: $(grep -v ':loaddll:\|^fixme' "$work/client-$bits.txt" | head -5; grep -i orbalin "$work/client-$bits.txt")"
        fi
    done
    wait "$detector_pid" || true
    local expected=()
    [[ $want64 == works ]] && expected+=('1|0|0|0|0|0' '64|3|A-17|Bread|2.000000|1.250000')
    [[ $want32 == works ]] && expected+=('1|0|0|0|0|0' '32|3|A-17|Bread|2.000000|1.250000')
    [[ $(tr -d '\r' <"$log") == "$(printf '%s\n' "${expected[@]}")" ]] && pass "$label: detector texts" ||
        fail "$label: detector received:"$'\n'"$(tr -d '\r' <"$log")"
}
# start_detector probes through a registered server; take a bitness that has one.
start_detector_as() {
    local bits=64
    [[ $(server_of 64) == ABSENT ]] && bits=32
    WINEBED_BITS=$bits start_detector "$@"
}

register 64 /u; register 32 /u
register 64 && pass "x64 registered by the 64-bit regsvr32" || fail "64-bit regsvr32 failed"
register 32 && pass "x86 registered by syswow64's regsvr32" || fail "32-bit regsvr32 failed"
[[ $(server_of 64) == "${dll[64]}" ]] && pass "64-bit view: x64" || fail "64-bit view: $(server_of 64)"
[[ $(server_of 32) == "${dll[32]}" ]] && pass "32-bit view: x86" || fail "32-bit view: $(server_of 32)"
[[ $(as 64 reg_value "TypeLib\\$LIBID\\1.0\\0\\win64" "") == "${dll[64]}" ]] && pass "win64 type library: x64" ||
    fail "win64 type library: $(as 64 reg_value "TypeLib\\$LIBID\\1.0\\0\\win64" "")"
[[ $(as 32 reg_value "TypeLib\\$LIBID\\1.0\\0\\win32" "") == "${dll[32]}" ]] && pass "win32 type library: x86" ||
    fail "win32 type library: $(as 32 reg_value "TypeLib\\$LIBID\\1.0\\0\\win32" "")"
run_both both works works

register 64 /u && pass "x64 unregistered" || fail "64-bit regsvr32 /u failed"
[[ $(server_of 64) == ABSENT && $(server_of 32) == "${dll[32]}" ]] && pass "x86 registration kept" ||
    fail "after unregistering x64: 64-bit view $(server_of 64), 32-bit view $(server_of 32)"
run_both without-x64 fails works

register 64 && register 32 /u && pass "x64 back, x86 unregistered" || fail "re-registration or x86 unregistration failed"
[[ $(server_of 32) == ABSENT && $(server_of 64) == "${dll[64]}" ]] && pass "x64 registration kept" ||
    fail "after unregistering x86: 64-bit view $(server_of 64), 32-bit view $(server_of 32)"
run_both without-x86 works fails

finish
