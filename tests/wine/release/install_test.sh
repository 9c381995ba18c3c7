#!/usr/bin/env bash
# The x64 installer in the Wine bed: a silent install puts the files and the
# Start-menu shortcut in place and registers both servers, each in its own
# registry view; a scripting client creates the object; the installed rows
# agree with the DLL's own self-registration; a silent uninstall leaves the
# registry and drive C: as they were before. The x86 package, when given,
# must refuse to install here: this is 64-bit Windows.
#
#   install_test.sh X64.msi [X86.msi]     (run inside the bed: winebed run ...)
set -uo pipefail

msi=$1 x86_msi=${2:-}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [[ ! -f $msi ]]; then
    echo "SKIP: $msi was not built (the win32 tree's Orbalin.dll is missing)"
    exit 77
fi
# No Linux menu entries outside the prefix for the shortcut.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}winemenubuilder.exe=d"

clsid='{AE9A5D2E-BBF9-4C49-A62B-3213850ACBF4}'
libid='{632E0650-8269-42D8-A170-07403C76533E}'
iid='{4D6FCCA6-267A-4400-AD8B-0B0E6E5ADE0B}'
drive_c=$WINEPREFIX/drive_c
install_dir="$drive_c/Program Files/Lorvane"
work=$(mktemp -d "$TMPDIR/release-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
winpath() { echo "Z:${1//\//\\}"; }
query() { wine reg query "$@" 2>/dev/null | tr -d '\r'; }
# The default value of KEY (extra reg options may follow).
default_of() { query "$@" /ve | sed -n 's/^ *(Default) *REG_SZ *//p'; }

snapshot() {  # name
    # Every file of drive C: but the temporary folders.
    (cd "$drive_c" && find . -path ./windows/temp -prune -o -path './users/*/Temp' -prune -o \
        -path './users/*/AppData/Local/Temp' -prune -o -print | sort) >"$work/$1-files.txt"
    wine reg export HKLM "$(winpath "$work/$1-hklm.reg")" /y >/dev/null 2>&1 &&
        wine reg export HKCU "$(winpath "$work/$1-hkcu.reg")" /y >/dev/null 2>&1 ||
        fail "reg export $1"
}

# Start from a machine without Orbalin: take back a registration left by
# another test of this bed, and a product left by an interrupted run.
wine msiexec /x "$(winpath "$msi")" /qn >/dev/null 2>&1
left=$(default_of "HKCR\\CLSID\\$clsid\\InprocServer32")
[[ -n $left ]] && wine regsvr32 /u /s "$left" >/dev/null 2>&1
# cscript registers its own type library on first start; not ours to count.
printf 'WScript.Echo "warm"\r\n' >"$work/warm.vbs"
wine cscript //nologo "$(winpath "$work/warm.vbs")" >/dev/null 2>&1

snapshot before

wine msiexec /i "$(winpath "$msi")" /qn /l*v "$(winpath "$work/install.log")"
rc=$?
[[ $rc -eq 0 ]] || { fail "msiexec /i exit code $rc"; tail -40 "$work/install.log" | iconv -f utf-16 -t utf-8 2>/dev/null; }

# Files: exactly the three binaries packed from the build trees.
for f in Quillon.exe x64/Orbalin.dll x86/Orbalin.dll; do
    [[ -f $install_dir/$f ]] || fail "not installed: $f"
done
stage=$LORVANE_BUILD_DIR/packaging/msi-x64/stage
cmp -s "$install_dir/Quillon.exe" "$stage/Quillon.exe" || fail "Quillon.exe differs from the packed one"
cmp -s "$install_dir/x64/Orbalin.dll" "$stage/Orbalin64.dll" || fail "x64 Orbalin.dll differs from the packed one"
cmp -s "$install_dir/x86/Orbalin.dll" "$stage/Orbalin32.dll" || fail "x86 Orbalin.dll differs from the packed one"
objdump -f "$install_dir/x64/Orbalin.dll" 2>/dev/null | grep -q 'file format pei-x86-64' || fail "x64 Orbalin.dll is no 64-bit DLL"
objdump -f "$install_dir/x86/Orbalin.dll" 2>/dev/null | grep -q 'file format pei-i386' || fail "x86 Orbalin.dll is no 32-bit DLL"

# The Start-menu shortcut (Wine files it under the user's menu or the common one).
lnk=$(find "$drive_c" -path '*Start Menu/Programs/Lorvane/Quillon.lnk' | head -1)
if [[ -z $lnk ]]; then
    fail "no Start-menu shortcut Lorvane\\Quillon.lnk"
else
    grep -aq 'Lorvane\\Quillon.exe' "$lnk" || fail "the shortcut does not lead to Quillon.exe"
fi

# Registration, each server in its own view.
expect() {  # description expected actual
    [[ $2 == "$3" ]] || fail "$1: expected '$2', got '$3'"
}
expect "64-bit InprocServer32" 'C:\Program Files\Lorvane\x64\Orbalin.dll' "$(default_of "HKCR\\CLSID\\$clsid\\InprocServer32" /reg:64)"
expect "32-bit InprocServer32" 'C:\Program Files\Lorvane\x86\Orbalin.dll' "$(default_of "HKCR\\CLSID\\$clsid\\InprocServer32" /reg:32)"
for view in 32 64; do
    query "HKCR\\CLSID\\$clsid\\InprocServer32" /v ThreadingModel /reg:$view | grep -q 'REG_SZ *Both$' ||
        fail "ThreadingModel Both missing in the $view-bit view"
    [[ $(default_of "HKCR\\Interface\\$iid\\TypeLib" /reg:$view) == "$libid" ]] || fail "Interface key missing in the $view-bit view"
done
expect "win64 type library" 'C:\Program Files\Lorvane\x64\Orbalin.dll' "$(default_of "HKCR\\TypeLib\\$libid\\1.0\\0\\win64")"
expect "win32 type library" 'C:\Program Files\Lorvane\x86\Orbalin.dll' "$(default_of "HKCR\\TypeLib\\$libid\\1.0\\0\\win32" /reg:32)"
expect "CurVer" 'Orbalin.OrbalinObj.1' "$(default_of 'HKCR\Orbalin.OrbalinObj\CurVer')"

# A late-bound client of the installed 64-bit server.
cp "$here/sale_line_client.vbs" "$work/"
out=$(wine cscript //nologo "$(winpath "$work/sale_line_client.vbs")" 2>&1 | tr -d '\r')
expected=$'Orbalin.OrbalinObj: IOrbalinObj\nCode=A-17 Name=Bread Price=2.35 Quantity=3 DeviceNumber=2\nclient done'
[[ $out == "$expected" ]] || fail "scripting client said: $out"

# The installed rows and the DLL's own DllRegisterServer write the same
# entries. FLAGS is left out: Wine writes the in-memory library's disk-image
# flag (8), the library itself declares none (0).
registration() {
    for key in "CLSID\\$clsid" "TypeLib\\$libid" "Interface\\$iid" Orbalin.OrbalinObj Orbalin.OrbalinObj.1; do
        query "HKCR\\$key" /s /reg:64
    done | awk '/\\FLAGS$/ { skip = 2 } skip > 0 { skip--; next } { print }'
}
registration >"$work/installed.txt"
wine regsvr32 /s 'C:\Program Files\Lorvane\x64\Orbalin.dll' || fail "regsvr32 on the installed DLL"
registration >"$work/self-registered.txt"
diff "$work/installed.txt" "$work/self-registered.txt" >"$work/registration.diff" ||
    { fail "installed rows differ from self-registration:"; cat "$work/registration.diff"; }
[[ -s $work/installed.txt ]] || fail "no registration found"

wine msiexec /x "$(winpath "$msi")" /qn
rc=$?
[[ $rc -eq 0 ]] || fail "msiexec /x exit code $rc"
[[ -e $install_dir ]] && fail "left behind: $(find "$install_dir")"
[[ -n $(find "$drive_c" -path '*Start Menu/Programs/Lorvane*') ]] && fail "Start-menu folder left behind"

snapshot after
for hive in hklm hkcu; do
    python3 "$here/registry_diff.py" "$work/before-$hive.reg" "$work/after-$hive.reg" ||
        fail "registry ($hive) differs after uninstall"
done
diff "$work/before-files.txt" "$work/after-files.txt" || fail "files differ after uninstall (C: drive)"

if [[ -f $x86_msi ]]; then
    wine msiexec /i "$(winpath "$x86_msi")" /qn /l*v "$(winpath "$work/x86.log")"
    rc=$?
    [[ $rc -ne 0 ]] || fail "the x86 package installed on 64-bit Windows"
    # Refused by its launch condition, not by some other failure.
    grep -aq 'LaunchConditions. Return value [^1]' "$work/x86.log" ||
        fail "the x86 package was not stopped by its launch condition"
    [[ -e $drive_c/Program\ Files\ \(x86\)/Lorvane || -e $install_dir ]] && fail "the x86 package installed files"
    snapshot after-x86
    for hive in hklm hkcu; do
        python3 "$here/registry_diff.py" "$work/before-$hive.reg" "$work/after-x86-$hive.reg" ||
            fail "registry ($hive) changed by the refused x86 package"
    done
else
    echo "note: no x86 package given; its refusal on 64-bit Windows not checked"
fi

[[ $failures -eq 0 ]] && echo "install test passed" || echo "$failures failure(s)"
[[ $failures -eq 0 ]]
