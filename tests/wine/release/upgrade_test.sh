#!/usr/bin/env bash
# Major upgrade and refused downgrade of the x64 installer in the WoW64 bed.
# A package of the next version is made from the installed one's files,
# each marked so that the new copies can be told from the old: installed
# over the old one it leaves one product, the new files and both servers
# registered and usable. The old package installed over the new one is
# refused with the downgrade message and changes nothing. Removing the new
# one leaves the registry and drive C: as they were before.
#
#   upgrade_test.sh X64.msi SCRIPT IDL    (SCRIPT, IDL: what the package's rows came from)
set -uo pipefail

old_msi=$1 script=$2 idl=$3
if [[ ! -f $old_msi ]]; then
    echo "SKIP: $old_msi was not built (the win32 tree's Orbalin.dll is missing)"
    exit 77
fi
work=$(mktemp -d "$TMPDIR/release-upgrade.XXXXXX")
trap 'rm -rf "$work"' EXIT
source "$(dirname "${BASH_SOURCE[0]}")/install_lib.sh"

old_version=$(msiinfo export "$old_msi" Property | tr -d '\r' | awk -F'\t' '$1 == "ProductVersion" { print $2 }')
# Windows Installer compares the first three parts of a product version
# only: a package that raises the fourth part alone is the same version to
# it, installs beside the old product and is no upgrade. The next version
# raises the third part.
new_version=$(awk -F. -v OFS=. '{ $3 = $3 + 1; print }' <<<"$old_version")
[[ $old_version =~ ^[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "FAIL: no product version in $old_msi"; exit 1; }

# The next version's package: the packed files with a mark appended (bytes
# after the last section do not change how Windows loads a program).
new=$work/new
mkdir -p "$new"
old_stage=$LORVANE_BUILD_DIR/packaging/msi-x64/stage
for f in Quillon.exe quillon-report.exe Orbalin32.dll Orbalin64.dll orbalin-check32.exe orbalin-check64.exe; do
    cp "$old_stage/$f" "$new/$f" && printf 'Lorvane %s\0' "$new_version" >>"$new/$f"
done
cp "$old_stage/Orbalin32.manifest" "$old_stage/Orbalin64.manifest" "$new/"
new_msi=$work/Lorvane-$new_version-x64.msi
"$release_here/../../../packaging/build-msi" x64 "$new_msi" "$work/new-build" "$new_version" "$script" "$idl" \
    "$new/Quillon.exe" "$new/quillon-report.exe" "$new/Orbalin32.dll" "$new/Orbalin64.dll" \
    "$new/orbalin-check32.exe" "$new/orbalin-check64.exe" >"$work/build-msi.log" 2>&1 ||
    { echo "FAIL: cannot build the $new_version package:"; cat "$work/build-msi.log"; exit 1; }

clean_start "$new_msi" "$old_msi"
snapshot before

installed_files_are() {  # stage-folder what
    cmp -s "$install_dir/Quillon.exe" "$1/Quillon.exe" &&
        cmp -s "$install_dir/quillon-report.exe" "$1/quillon-report.exe" &&
        cmp -s "$install_dir/x86/Orbalin.dll" "$1/Orbalin32.dll" &&
        cmp -s "$install_dir/x64/Orbalin.dll" "$1/Orbalin64.dll" || fail "installed files are not $2"
}

msiexec_log old "$old_msi" /i || fail "installing $old_version: exit code $?"
expect "after installing $old_version" "|$old_version" "$(installed_products | sed 's/^{[^|]*}//')"
installed_files_are "$old_stage" "the $old_version ones"

msiexec_log upgrade "$new_msi" /i || { fail "installing $new_version over $old_version: exit code $?"; log_text "$work/upgrade.log" | tail -40; }
expect "after the upgrade" "|$new_version" "$(installed_products | sed 's/^{[^|]*}//')"
installed_files_are "$new" "the $new_version ones"

check_registered() {  # when
    local bits out
    expect "64-bit InprocServer32 $1" 'C:\Program Files\Lorvane\x64\Orbalin.dll' "$(default_of "HKCR\\CLSID\\$clsid\\InprocServer32" /reg:64)"
    expect "32-bit InprocServer32 $1" 'C:\Program Files\Lorvane\x86\Orbalin.dll' "$(default_of "HKCR\\CLSID\\$clsid\\InprocServer32" /reg:32)"
    for bits in 64 32; do
        [[ $bits == 32 && -n $no_wine32 ]] && continue
        out=$(WINEBED_BITS=$bits run_sale_line_client)
        [[ $out == "$sale_line_client_output" ]] || fail "$bits-bit client $1 said: $out"
    done
}
no_wine32=$("$LORVANE_SOURCE_DIR/tests/wine/wine32-probe") && no_wine32= || echo "note: the 32-bit client not run: $no_wine32"
check_registered "after the upgrade"

# Back to the old version: refused by the package's own downgrade rule.
# Wine's log leaves out the text of a failed launch condition, so the proof
# is the related newer product found, the launch conditions failing and the
# package tying exactly that finding to the downgrade message.
msiexec_log downgrade "$old_msi" /i
rc=$?
[[ $rc -eq 0 ]] && fail "$old_version installed over $new_version"
new_product=$(msiinfo export "$new_msi" Property | tr -d '\r' | awk -F'\t' '$1 == "ProductCode" { print $2 }')
log_text "$work/downgrade.log" | grep -qxF "Property(S): WIX_DOWNGRADE_DETECTED = $new_product" ||
    fail "the downgrade did not find the newer product $new_product"
log_text "$work/downgrade.log" | grep -q 'LaunchConditions. Return value [^1]' || fail "the launch conditions did not stop the downgrade"
msiinfo export "$old_msi" LaunchCondition | tr -d '\r' |
    grep -qxF $'NOT WIX_DOWNGRADE_DETECTED\tA newer version of Lorvane is already installed.' ||
    fail "the package has no downgrade message for a newer product"
expect "after the refused downgrade" "|$new_version" "$(installed_products | sed 's/^{[^|]*}//')"
installed_files_are "$new" "still the $new_version ones"
check_registered "after the refused downgrade"

msiexec_log remove "$new_msi" /x || fail "removing $new_version: exit code $?"
[[ -e $install_dir ]] && fail "left behind: $(find "$install_dir")"
snapshot after
same_as_before after "after removing the upgrade"

report "upgrade test"
