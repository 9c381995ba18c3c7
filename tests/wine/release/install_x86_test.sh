#!/usr/bin/env bash
# The x86 installer on 32-bit Windows: a bed of its own with a WINEARCH=win32
# prefix (next to the calling bed, taken down at the end). A silent install
# puts Quillon.exe and x86\Orbalin.dll in place with the Start-menu shortcut
# and registers the server under win32; a 32-bit scripting client loads the
# installed DLL; one product is installed; a silent uninstall leaves the
# registry and drive C: as they were before.
#
#   install_x86_test.sh X86.msi     (run inside a bed: winebed run ...)
set -uo pipefail

msi=$1
if [[ ! -f $msi ]]; then
    echo "SKIP: $msi was not built"
    exit 77
fi
winebed=$LORVANE_SOURCE_DIR/tests/wine/winebed
export WINEBED_DIR=$(dirname "${WINEBED_DIR:?run inside the Wine bed}")/wine-x86 WINEBED_ARCH=win32
"$winebed" up >"$WINEBED_DIR.log" 2>&1 || { echo "FAIL: the 32-bit bed did not come up:"; cat "$WINEBED_DIR.log"; exit 1; }
eval "$("$winebed" env)"
[[ ! -d $WINEPREFIX/drive_c/windows/syswow64 ]] || { echo "FAIL: $WINEPREFIX is no 32-bit prefix"; exit 1; }
work=$(mktemp -d "$TMPDIR/release-x86.XXXXXX")
trap 'rm -rf "$work"; "$winebed" down >/dev/null 2>&1' EXIT
source "$(dirname "${BASH_SOURCE[0]}")/install_lib.sh"

clean_start "$msi"
snapshot before

install_package "$msi"

stage=$LORVANE_BUILD_DIR/packaging/msi-x86/stage
cmp -s "$install_dir/Quillon.exe" "$stage/Quillon.exe" || fail "Quillon.exe missing or not the packed one"
cmp -s "$install_dir/x86/Orbalin.dll" "$stage/Orbalin32.dll" || fail "x86 Orbalin.dll missing or not the packed one"
cmp -s "$install_dir/x86/Orbalin.manifest" "$stage/Orbalin32.manifest" || fail "x86 Orbalin.manifest missing or not the packed one"
[[ -e $install_dir/x64 ]] && fail "an x64 folder was installed"
for f in Quillon.exe x86/Orbalin.dll; do
    objdump -f "$install_dir/$f" 2>/dev/null | grep -q 'file format pei-i386' || fail "$f is no 32-bit program"
done
lnk=$(find "$drive_c" -path '*Start Menu/Programs/Lorvane/Quillon.lnk' | head -1)
[[ -n $lnk ]] && grep -aq 'Lorvane\\Quillon.exe' "$lnk" || fail "no Start-menu shortcut Lorvane\\Quillon.lnk to Quillon.exe"

dll='C:\Program Files\Lorvane\x86\Orbalin.dll'
expect "InprocServer32" "$dll" "$(default_of "HKCR\\CLSID\\$clsid\\InprocServer32")"
query "HKCR\\CLSID\\$clsid\\InprocServer32" /v ThreadingModel | grep -q 'REG_SZ *Both$' || fail "ThreadingModel Both missing"
expect "win32 type library" "$dll" "$(default_of "HKCR\\TypeLib\\$libid\\1.0\\0\\win32")"
query "HKCR\\TypeLib\\$libid\\1.0\\0\\win64" >/dev/null && fail "a win64 type library entry on 32-bit Windows"
expect "Interface" "$libid" "$(default_of "HKCR\\Interface\\$iid\\TypeLib")"
expect "CurVer" 'Orbalin.OrbalinObj.1' "$(default_of 'HKCR\Orbalin.OrbalinObj\CurVer')"
expect "installed products" "|1.0.0.2" "$(installed_products | sed 's/^{[^|]*}//')"

out=$(WINEDEBUG=-all,+loaddll run_sale_line_client)
grep -q 'Loaded L"C:\\\\Program Files\\\\Lorvane\\\\x86\\\\Orbalin.dll"' <<<"$out" ||
    fail "the client did not load the installed DLL: $(grep -i orbalin <<<"$out")"
[[ $(grep -v ':loaddll:' <<<"$out") == "$sale_line_client_output" ]] || fail "scripting client said: $out"

wine msiexec /x "$(winpath "$msi")" /qn
rc=$?
[[ $rc -eq 0 ]] || fail "msiexec /x exit code $rc"
[[ -e $install_dir ]] && fail "left behind: $(find "$install_dir")"
[[ -n $(find "$drive_c" -path '*Start Menu/Programs/Lorvane*') ]] && fail "Start-menu folder left behind"
[[ -z $(installed_products) ]] || fail "still installed: $(installed_products)"
snapshot after
same_as_before after "after uninstall"

report "x86 install test"
