#!/usr/bin/env bash
# orbalin-check in each registration state: its verdict line, its exit
# code, and that it changes nothing. The copies sit in an x64\ and x86\
# pair, as in the zip, so the fix commands name those folders.
#
#   check_states_test.sh WIN32_BUILD_DIR
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/../module/test_lib.sh"
# Each step checks its own outcome: a failing command is a finding, not the end.
set +e
win32_build=${1:-}

work=$(mktemp -d "$LORVANE_BUILD_DIR/tests/wine/check/states.XXXXXX")
trap 'wine regsvr32 /s /u "$x64_dll" >/dev/null 2>&1; rm -rf "$work"' EXIT
mkdir -p "$work/x64" "$work/x86" "$work/moved"
cp "$LORVANE_BUILD_DIR/server/check/win32/orbalin-check.exe" "$ORBALIN_DLL" "$work/x64/"
x64_dll=$(winpath "$work/x64/Orbalin.dll")
x86_dll=$(winpath "$work/x86/Orbalin.dll")
check=$work/x64/orbalin-check.exe
system=$(wine cmd /c echo %SystemRoot% 2>/dev/null | tr -d '\r')
[[ -n $system ]] || system='C:\windows'

# Runs the check; its output in $out, its exit code in $code.
run_check() { out=$(wine "$check" "$@" 2>&1); code=$?; out=${out//$'\r'/}; }
verdict() { grep "^$1-bit programs " <<<"$out"; }
expect_verdict() {  # state bits exit-code expected-line
    local got
    got=$(verdict "$2")
    if [[ $code == "$3" && $got == "$4" ]]; then
        pass "$1: --bits $2 exit $code: $got"
    else
        fail "$1: --bits $2: exit $code (want $3), verdict '$got', want '$4'"
        echo "$out"
    fi
}
clean() {
    wine regsvr32 /s /u "$x64_dll" >/dev/null 2>&1
    wine regsvr32 /s /u "$(winpath "$work/moved/Orbalin.dll")" >/dev/null 2>&1
    for view in 32 64; do
        # A deleted DLL cannot unregister itself: its rows go by hand.
        for key in Orbalin.OrbalinObj Orbalin.OrbalinObj.1 "CLSID\\$CLSID" "TypeLib\\$LIBID" "Interface\\$IID"; do
            wine reg delete "HKCR\\$key" /f /reg:$view >/dev/null 2>&1
        done
    done
}
cannot() { echo "$1-bit programs cannot create Orbalin.OrbalinObj: $2; fix: $3"; }
reg64="$system\\System32\\regsvr32.exe \"$x64_dll\""
reg32="$system\\SysWOW64\\regsvr32.exe \"$x86_dll\""

clean
set_profile ""
run_check --bits 64
expect_verdict "nothing registered" 64 1 "$(cannot 64 "Orbalin.OrbalinObj is not registered in the 64-bit registry view" "$reg64")"
grep -q '0x800401F3 Invalid class string' <<<"$out" && pass "nothing registered: CLSIDFromProgID's code shown" ||
    fail "nothing registered: no 0x800401F3 line"
grep -q '^  this check runs elevated: \(yes\|no\): ' <<<"$out" && pass "says whether it runs elevated" ||
    fail "no elevation line: $out"
# The proposed command, run as proposed, mends it.
wine "$system\\System32\\regsvr32.exe" /s "$x64_dll" >/dev/null 2>&1 || fail "the proposed regsvr32 failed"
run_check --bits 64
expect_verdict "after the proposed fix" 64 0 "64-bit programs can create Orbalin.OrbalinObj"
clean

wine regsvr32 /s "$x64_dll" >/dev/null 2>&1 || fail "regsvr32 of the 64-bit DLL"
before=$(registry_dump)
run_check --bits 64
expect_verdict "only the 64-bit DLL" 64 0 "64-bit programs can create Orbalin.OrbalinObj"
grep -q 'CheckStatus (through IDispatch): status 0' <<<"$out" && pass "CheckStatus answered" ||
    fail "no CheckStatus answer: $out"
grep -q "registered DLL file version: 1.0.0.1" <<<"$out" && pass "file version shown" || fail "no file version"
run_check --bits 32
# Where Wine shares ProgID keys between the views the class row is what is missing.
got=$(verdict 32)
if [[ $code == 1 && $got == "32-bit programs cannot create Orbalin.OrbalinObj: "*"not registered in the 32-bit registry view; fix: $reg32" ]]; then
    pass "only the 64-bit DLL: --bits 32 exit 1: $got"
else
    fail "only the 64-bit DLL: --bits 32: exit $code, '$got'"
fi
run_check --json
python3 -c 'import json, sys; r = json.loads(sys.argv[1]); assert [x["bits"] for x in r] == [32, 64]; assert r[1]["state"] == "can"; assert r[0]["state"] != "can"' "$out" &&
    [[ $code == 1 ]] && pass "--json: both bitnesses, exit 1 while 32-bit cannot" || fail "--json: exit $code, $out"
[[ $(registry_dump) == "$before" ]] && pass "the check changed no registry row" || fail "the check changed the registry"

# The sibling: missing, then present but unable to run where 32-bit Wine is not there.
run_check
grep -q "the 32-bit orbalin-check.exe is missing (looked for $(winpath "$work/x86/orbalin-check.exe" | sed 's/\\/\\\\/g')" <<<"$out" &&
    pass "sibling missing: named where it was looked for" || fail "sibling missing: $out"
sibling=$win32_build/server/check/win32/orbalin-check.exe
if [[ -f $sibling ]]; then
    cp "$sibling" "$work/x86/"
    run_check --bits 32
    if "$LORVANE_SOURCE_DIR/tests/wine/wine32-probe" >/dev/null 2>&1; then
        [[ $code == 1 && $(verdict 32) == *"; fix: $reg32" ]] && pass "sibling ran: $(verdict 32)" ||
            fail "sibling ran: exit $code, $out"
    else
        [[ $code == 1 && $out == *"32-bit programs may not run on this system"* ]] &&
            pass "sibling cannot run: $(grep 'may not run' <<<"$out" | head -1 | sed 's/^ *//')" ||
            fail "sibling cannot run: exit $code, $out"
    fi
    rm -f "$work/x86/orbalin-check.exe"
else
    echo "note: no win32 build of orbalin-check ($sibling); the unable-to-run sibling is not tried"
fi

# A 64-bit DLL's path written into the 32-bit view.
for key in Orbalin.OrbalinObj Orbalin.OrbalinObj.1; do
    wine reg add "HKCR\\$key\\CLSID" /ve /d "$CLSID" /f /reg:32 >/dev/null 2>&1
done
wine reg add "HKCR\\CLSID\\$CLSID\\InprocServer32" /ve /d "$x64_dll" /f /reg:32 >/dev/null 2>&1 ||
    fail "reg add /reg:32"
run_check --bits 32
expect_verdict "64-bit DLL in the 32-bit view" 32 1 "$(cannot 32 "the DLL registered in the 32-bit registry view, $x64_dll, is a 64-bit DLL, which 32-bit programs cannot load" "$reg32")"

# The type library unregistered.
clean
wine regsvr32 /s "$x64_dll" >/dev/null 2>&1
wine reg delete "HKCR\\TypeLib\\$LIBID" /f >/dev/null 2>&1 || fail "reg delete of the type library"
run_check --bits 64
expect_verdict "type library unregistered" 64 1 "64-bit programs can create Orbalin.OrbalinObj but cannot use it: the type library $LIBID 1.0 is not registered for win64; fix: $reg64"

# The DLL deleted after registration.
clean
cp "$ORBALIN_DLL" "$work/moved/Orbalin.dll"
moved=$(winpath "$work/moved/Orbalin.dll")
wine regsvr32 /s "$moved" >/dev/null 2>&1 || fail "regsvr32 of the copy"
rm -f "$work/moved/Orbalin.dll"
run_check --bits 64
expect_verdict "DLL deleted" 64 1 "$(cannot 64 "the registered DLL $moved does not exist (moved or deleted after registration)" "$reg64")"
# Windows answers a missing server DLL with 0x8007007E; Wine 8 with 0x80070005. The verdict rests on the file itself.
echo "note: DLL deleted: $(grep 'CoCreateInstance' <<<"$out" | sed 's/^ *//')"

# Everything right, with the profile value naming a program that exists.
clean
wine regsvr32 /s "$x64_dll" >/dev/null 2>&1
set_profile "$(winpath "$work/x64/orbalin-check.exe")"
run_check --bits 64
expect_verdict "everything right" 64 0 "64-bit programs can create Orbalin.OrbalinObj"
grep -q 'that program exists: yes' <<<"$out" && pass "profile program found" || fail "profile: $out"
# Commands cannot reach the register: exit 3, the program named.
no_detector() { echo "64-bit programs can create Orbalin.OrbalinObj, but commands cannot reach the register: the detector program named in WIN.INI ([Orbalin] Orbalin), $1; fix: name the detector program's full path, at most 254 characters, in the Orbalin key of WIN.INI's [Orbalin] section"; }
set_profile 'C:\Wendrix\Wendrix.exe'
run_check --bits 64
expect_verdict "detector program missing" 64 3 "$(no_detector 'C:\Wendrix\Wendrix.exe, does not exist')"
echo "$out" >"$LORVANE_BUILD_DIR/tests/wine/check/no-detector.out"
long="$(winpath "$work/x64")\\$(printf 'd%.0s' {1..300})"
long=${long:0:302}
set_profile "$long"
run_check --bits 64
expect_verdict "detector path too long" 64 3 "$(no_detector "a path of 302 characters, is longer than the 254 that Orbalin reads, so InitOrbalin tries to start ${long:0:254}")"
echo "$out" >"$LORVANE_BUILD_DIR/tests/wine/check/long-path.out"
set_profile ""
run_check --bits 16
[[ $code == 2 ]] && pass "--bits 16 is a usage error" || fail "--bits 16: exit $code"
clean
finish
