#!/usr/bin/env bash
# The x64 installer in the Wine bed: a silent install puts the files and the
# Start-menu shortcut in place and registers both servers, each in its own
# registry view; a scripting client creates the object; the installed rows
# agree with the DLL's own self-registration; a silent uninstall leaves the
# registry and drive C: as they were before. The 64-bit and the 32-bit
# scripting client each load the package's DLL of their own bitness. The
# x86 package, when given, must refuse to install here: this is 64-bit
# Windows.
#
#   install_test.sh X64.msi [X86.msi]     (run inside the bed: winebed run ...)
set -uo pipefail

msi=$1 x86_msi=${2:-}
if [[ ! -f $msi ]]; then
    echo "SKIP: $msi was not built (the win32 tree's Orbalin.dll is missing)"
    exit 77
fi
work=$(mktemp -d "$TMPDIR/release-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
source "$(dirname "${BASH_SOURCE[0]}")/install_lib.sh"

clean_start "$msi"
snapshot before

install_package "$msi"

# Files: the six binaries packed from the build trees, each DLL with its
# assembly manifest beside it.
for f in Quillon.exe quillon-report.exe x64/Orbalin.dll x86/Orbalin.dll x64/orbalin-check.exe x86/orbalin-check.exe \
         x64/Orbalin.manifest x86/Orbalin.manifest; do
    [[ -f $install_dir/$f ]] || fail "not installed: $f"
done
stage=$LORVANE_BUILD_DIR/packaging/msi-x64/stage
cmp -s "$install_dir/Quillon.exe" "$stage/Quillon.exe" || fail "Quillon.exe differs from the packed one"
cmp -s "$install_dir/quillon-report.exe" "$stage/quillon-report.exe" || fail "quillon-report.exe differs from the packed one"
wine "$install_dir/quillon-report.exe" --version >"$work/report-version.txt" 2>&1 &&
    grep -q '^quillon-report 1.0.0.2' "$work/report-version.txt" || fail "the installed quillon-report.exe does not run"
cmp -s "$install_dir/x64/Orbalin.dll" "$stage/Orbalin64.dll" || fail "x64 Orbalin.dll differs from the packed one"
cmp -s "$install_dir/x86/Orbalin.dll" "$stage/Orbalin32.dll" || fail "x86 Orbalin.dll differs from the packed one"
cmp -s "$install_dir/x64/Orbalin.manifest" "$stage/Orbalin64.manifest" || fail "x64 Orbalin.manifest differs from the packed one"
cmp -s "$install_dir/x86/Orbalin.manifest" "$stage/Orbalin32.manifest" || fail "x86 Orbalin.manifest differs from the packed one"
objdump -f "$install_dir/x64/Orbalin.dll" 2>/dev/null | grep -q 'file format pei-x86-64' || fail "x64 Orbalin.dll is no 64-bit DLL"
objdump -f "$install_dir/x86/Orbalin.dll" 2>/dev/null | grep -q 'file format pei-i386' || fail "x86 Orbalin.dll is no 32-bit DLL"
cmp -s "$install_dir/x64/orbalin-check.exe" "$stage/orbalin-check64.exe" || fail "x64 orbalin-check.exe differs from the packed one"
cmp -s "$install_dir/x86/orbalin-check.exe" "$stage/orbalin-check32.exe" || fail "x86 orbalin-check.exe differs from the packed one"
# The installed check finds the package's registration good for 64-bit programs.
out=$(wine "$install_dir/x64/orbalin-check.exe" --bits 64 2>&1)
code=$?
[[ $code -eq 0 && $out == *"64-bit programs can create Orbalin.OrbalinObj"* ]] ||
    fail "the installed orbalin-check: $out"

# The Start-menu shortcut (Wine files it under the user's menu or the common one).
lnk=$(find "$drive_c" -path '*Start Menu/Programs/Lorvane/Quillon.lnk' | head -1)
if [[ -z $lnk ]]; then
    fail "no Start-menu shortcut Lorvane\\Quillon.lnk"
else
    grep -aq 'Lorvane\\Quillon.exe' "$lnk" || fail "the shortcut does not lead to Quillon.exe"
fi

# Registration, each server in its own view.
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

# A late-bound client of each installed server: the 64-bit cscript loads
# x64\Orbalin.dll, the 32-bit one from syswow64 the package's x86 one.
client_bits=(64 32)
if ! why=$("$LORVANE_SOURCE_DIR/tests/wine/wine32-probe"); then
    echo "note: the 32-bit client not run: $why"
    client_bits=(64)
fi
for bits in "${client_bits[@]}"; do
    out=$(WINEBED_BITS=$bits WINEDEBUG=-all,+loaddll run_sale_line_client)
    grep -q 'Loaded L"C:\\\\Program Files\\\\Lorvane\\\\x'"${bits/32/86}"'\\\\Orbalin.dll"' <<<"$out" ||
        fail "the $bits-bit client did not load the package's ${bits/32/86}\\Orbalin.dll: $(grep -i orbalin <<<"$out")"
    [[ $(grep -v ':loaddll:' <<<"$out") == "$sale_line_client_output" ]] || fail "$bits-bit scripting client said: $out"
done

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
same_as_before after "after uninstall"

# INSTALLDIR outside Program Files is refused before anything is installed;
# one inside it, in any case, is taken.
install_into() {  # folder log-name
    wine msiexec /i "$(winpath "$msi")" "INSTALLDIR=$1" /qn /l*v "$(winpath "$work/$2.log")"
}
install_into 'C:\users\Public\Lorvane\' refused
rc=$?
# A Linux exit status keeps the low byte of Windows Installer's 1603.
[[ $rc -eq $((1603 % 256)) ]] || fail "INSTALLDIR outside Program Files: exit status $rc, expected 1603 (67)"
grep -aq 'LaunchConditions. Return value [^1]' "$work/refused.log" || fail "the folder was not refused by the launch condition"
[[ -e $drive_c/users/Public/Lorvane || -n $(installed_products) ]] && fail "the refused folder got an installation"
if install_into 'c:\program files\Lorvane Shop\' chosen; then
    [[ -f $drive_c/Program\ Files/Lorvane\ Shop/x64/Orbalin.dll ]] || fail "not installed into the chosen folder"
    # Wine resolves the folder anew for the removal, Windows from the
    # installed files; the property again serves both.
    wine msiexec /x "$(winpath "$msi")" 'INSTALLDIR=c:\program files\Lorvane Shop\' /qn ||
        fail "msiexec /x after the chosen folder: exit code $?"
else
    fail "INSTALLDIR in Program Files refused: exit code $?"
fi
snapshot after-folders
same_as_before after-folders "after the refused and the chosen folder"

if [[ -f $x86_msi ]]; then
    wine msiexec /i "$(winpath "$x86_msi")" /qn /l*v "$(winpath "$work/x86.log")"
    rc=$?
    [[ $rc -ne 0 ]] || fail "the x86 package installed on 64-bit Windows"
    # Refused by its launch condition, not by some other failure.
    grep -aq 'LaunchConditions. Return value [^1]' "$work/x86.log" ||
        fail "the x86 package was not stopped by its launch condition"
    [[ -e $drive_c/Program\ Files\ \(x86\)/Lorvane || -e $install_dir ]] && fail "the x86 package installed files"
    snapshot after-x86
    same_as_before after-x86 "after the refused x86 package"
else
    echo "note: no x86 package given; its refusal on 64-bit Windows not checked"
fi

report "install test"
