#!/usr/bin/env bash
# What can be checked of the installer packages without running them: the
# files they carry (bitness, version blocks, each DLL's assembly manifest
# beside it, ASLR and DEP flags, no symbol table), the components' registry views and the registry rows each
# would write, row by row, which the install tests only see as their effect.
#
#   package_test.sh X64.msi [X86.msi]      a missing X86.msi is noted, not failed
#   (each in the packaging folder of the tree that made it)
set -uo pipefail

x64=$1 x86=${2:-}
# The build trees the packages were made from: beside x64.msi the win64
# tree's packaging folder, beside x86.msi the win32 tree's.
build64=$(dirname "$(dirname "$(realpath "$x64")")")
build32=$( [[ -n $x86 ]] && dirname "$(dirname "$(realpath -m "$x86")")" || echo /nonexistent)
if [[ ! -f $x64 ]]; then
    echo "SKIP: $x64 was not built (the win32 tree's Orbalin.dll is missing)"
    exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

clsid='{AE9A5D2E-BBF9-4C49-A62B-3213850ACBF4}'
libid='{632E0650-8269-42D8-A170-07403C76533E}'
iid='{4D6FCCA6-267A-4400-AD8B-0B0E6E5ADE0B}'

table() { msiinfo export "$1" "$2" | tr -d '\r' | tail -n +4; }
# The Registry rows of one component as "key|name|value" lines.
rows_of() { table "$1" Registry | awk -F'\t' -v c="$2" '$6 == c { print $3 "|" $4 "|" $5 }' | sort; }

# The rows every Orbalin component must write: the registration script's
# entries and the type library's keys, the file and folder by reference.
expected_rows() {  # file-id dir-id syskind
    sort <<EOF
CLSID\\$clsid|*|
CLSID\\$clsid||OrbalinObj Class
CLSID\\$clsid\\InprocServer32||[#$1]
CLSID\\$clsid\\InprocServer32|ThreadingModel|Both
CLSID\\$clsid\\ProgID||Orbalin.OrbalinObj.1
CLSID\\$clsid\\Programmable|*|
CLSID\\$clsid\\TypeLib||$libid
CLSID\\$clsid\\VersionIndependentProgID||Orbalin.OrbalinObj
Interface\\$iid|*|
Interface\\$iid||IOrbalinObj
Interface\\$iid\\ProxyStubClsid||{00020424-0000-0000-C000-000000000046}
Interface\\$iid\\ProxyStubClsid32||{00020424-0000-0000-C000-000000000046}
Interface\\$iid\\TypeLib||$libid
Interface\\$iid\\TypeLib|Version|1.0
Orbalin.OrbalinObj.1|*|
Orbalin.OrbalinObj.1||OrbalinObj Class
Orbalin.OrbalinObj.1\\CLSID||$clsid
Orbalin.OrbalinObj|*|
Orbalin.OrbalinObj||OrbalinObj Class
Orbalin.OrbalinObj\\CLSID||$clsid
Orbalin.OrbalinObj\\CurVer||Orbalin.OrbalinObj.1
TypeLib\\$libid|*|
TypeLib\\$libid\\1.0||Orbalin 1.0 Type Library
TypeLib\\$libid\\1.0\\0\\$3||[#$1]
TypeLib\\$libid\\1.0\\FLAGS||0
TypeLib\\$libid\\1.0\\HELPDIR||[$2]
EOF
}

# One component: its file (name, directory, bitness, version), its registry
# view (attribute 256 = 64-bit) and its rows, all rooted in HKCR (0).
check_component() {  # msi component file-id dir-id syskind pe-format version attributes
    local msi=$1 comp=$2 file=$3 dir=$4 syskind=$5 format=$6 version=$7 attrs=$8 row
    row=$(table "$msi" Component | awk -F'\t' -v c="$comp" '$1 == c')
    [[ $(cut -f3 <<<"$row") == "$dir" ]] || fail "$msi: $comp not in $dir"
    [[ $(cut -f4 <<<"$row") == "$attrs" ]] || fail "$msi: $comp attributes $(cut -f4 <<<"$row"), expected $attrs"
    row=$(table "$msi" File | awk -F'\t' -v f="$file" '$1 == f')
    [[ $(cut -f3 <<<"$row") == *Orbalin.dll* || $(cut -f3 <<<"$row") == *Quillon.exe* ||
       $(cut -f3 <<<"$row") == *quillon-report.exe* || $(cut -f3 <<<"$row") == *orbalin-check.exe* ]] || fail "$msi: $file has name $(cut -f3 <<<"$row")"
    [[ $(cut -f5 <<<"$row") == "$version" ]] || fail "$msi: $file version '$(cut -f5 <<<"$row")', expected $version"
    if [[ -n $syskind ]]; then
        diff <(expected_rows "$file" "$dir" "$syskind") <(rows_of "$msi" "$comp") >"$work/rows.diff" ||
            { fail "$msi: registry rows of $comp"; cat "$work/rows.diff"; }
        table "$msi" Registry | awk -F'\t' -v c="$comp" '$6 == c && $2 != 0 { bad = 1 } END { exit bad }' ||
            fail "$msi: $comp writes outside HKCR"
    fi
    local path
    path=$(find "$work/${msi##*/}.files" -path "*/$(table "$msi" Directory | awk -F'\t' -v d="$dir" '$1 == d { print $3 }' | sed 's/.*|//')/*" -name "$(cut -f3 <<<"$row" | sed 's/.*|//')" 2>/dev/null | head -1)
    if [[ -z $path ]]; then
        fail "$msi: $file not found in the package's cabinet"
    else
        objdump -f "$path" | grep -q "file format $format" || fail "$msi: $file is not $format"
    fi
}

# An Orbalin component's assembly manifest: installed beside its DLL as
# Orbalin.manifest, for the DLL's processor and version, and the very file
# the build tree made beside that DLL.
check_manifest() {  # msi component file-id dir-id architecture dll-file-id build-manifest
    local msi=$1 comp=$2 file=$3 dir=$4 arch=$5 dll=$6 built=$7 row path version
    row=$(table "$msi" File | awk -F'\t' -v f="$file" '$1 == f')
    [[ $(cut -f2 <<<"$row") == "$comp" ]] || fail "$msi: $file not in $comp"
    [[ $(cut -f3 <<<"$row") == *Orbalin.manifest ]] || fail "$msi: $file has name $(cut -f3 <<<"$row")"
    path=$(find "$work/${msi##*/}.files" -path "*/$(table "$msi" Directory | awk -F'\t' -v d="$dir" '$1 == d { print $3 }' | sed 's/.*|//')/Orbalin.manifest" | head -1)
    if [[ -z $path ]]; then
        fail "$msi: $file not found in the package's cabinet"
        return
    fi
    version=$(table "$msi" File | awk -F'\t' -v f="$dll" '$1 == f { print $5 }')
    grep -q "<assemblyIdentity type=\"win32\" name=\"Orbalin\" version=\"$version\" processorArchitecture=\"$arch\"/>" "$path" ||
        fail "$msi: $file does not identify Orbalin $version $arch"
    grep -q "<comClass clsid=\"$clsid\"" "$path" && grep -q "iid=\"$iid\"" "$path" && grep -q "<typelib tlbid=\"$libid\"" "$path" ||
        fail "$msi: $file lacks the class, interface or type library"
    if [[ -f $built ]]; then cmp -s "$path" "$built" || fail "$msi: $file is not $built"
    else echo "note: $built not there; $file not compared with it"; fi
}

check_package() {  # msi arch
    local msi=$1 arch=$2
    mkdir -p "$work/${msi##*/}.files"
    (cd "$work/${msi##*/}.files" && msiextract "$msi" >/dev/null) || fail "$msi: msiextract"
    [[ $(table "$msi" Property | awk -F'\t' '$1 == "ProductVersion" { print $2 }') == 1.0.0.2 ]] ||
        fail "$msi: ProductVersion is not 1.0.0.2"
    [[ $(table "$msi" Property | awk -F'\t' '$1 == "ALLUSERS" { print $2 }') == 1 ]] || fail "$msi: not per-machine"
    msiinfo suminfo "$msi" | grep -q "Template: $( [[ $arch == x64 ]] && echo x64 || echo Intel);1033" ||
        fail "$msi: platform is not $arch"
    table "$msi" Shortcut | awk -F'\t' '$1 == "QuillonShortcut" && $2 == "LorvaneMenu" && $5 == "[#QuillonExe]" { ok = 1 } END { exit !ok }' ||
        fail "$msi: no Start-menu shortcut to Quillon.exe"
    table "$msi" RemoveFile | grep -q 'LorvaneMenu' || fail "$msi: the menu folder is not removed at uninstall"
    table "$msi" Directory | awk -F'\t' '$1 == "LorvaneMenu" && $2 == "ProgramMenuFolder" { ok = 1 } END { exit !ok }' ||
        fail "$msi: menu folder not under the Start menu"
    # What ships is hardened and carries no symbols.
    find "$work/${msi##*/}.files" -type f \( -iname '*.exe' -o -iname '*.dll' \) -print0 |
        xargs -0 python3 "$(dirname "$0")/pe_hardening.py" || fail "$msi: a binary is not hardened or not stripped"
}

check_package "$x64" x64
check_component "$x64" QuillonProgram QuillonExe INSTALLDIR "" pei-x86-64 1.0.0.2 256
check_component "$x64" QuillonReportProgram QuillonReportExe INSTALLDIR "" pei-x86-64 1.0.0.2 256
check_component "$x64" Orbalin64 OrbalinDll64 X64DIR win64 pei-x86-64 1.0.0.1 256
check_component "$x64" Orbalin32 OrbalinDll32 X86DIR win32 pei-i386 1.0.0.1 0
check_component "$x64" OrbalinCheck64 OrbalinCheckExe64 X64DIR "" pei-x86-64 1.0.0.2 256
check_component "$x64" OrbalinCheck32 OrbalinCheckExe32 X86DIR "" pei-i386 1.0.0.2 0
check_manifest "$x64" Orbalin64 OrbalinManifest64 X64DIR amd64 OrbalinDll64 "$build64/server/module/Orbalin.manifest"
check_manifest "$x64" Orbalin32 OrbalinManifest32 X86DIR x86 OrbalinDll32 "$build32/server/module/Orbalin.manifest"
[[ $(table "$x64" File | wc -l) -eq 8 ]] || fail "$x64: expected exactly eight files"

if [[ -n $x86 && -f $x86 ]]; then
    check_package "$x86" x86
    check_component "$x86" QuillonProgram QuillonExe INSTALLDIR "" pei-i386 1.0.0.2 0
    check_component "$x86" QuillonReportProgram QuillonReportExe INSTALLDIR "" pei-i386 1.0.0.2 0
    check_component "$x86" Orbalin32 OrbalinDll32 X86DIR win32 pei-i386 1.0.0.1 0
    check_component "$x86" OrbalinCheck32 OrbalinCheckExe32 X86DIR "" pei-i386 1.0.0.2 0
    check_manifest "$x86" Orbalin32 OrbalinManifest32 X86DIR x86 OrbalinDll32 "$build32/server/module/Orbalin.manifest"
    [[ $(table "$x86" File | wc -l) -eq 5 ]] || fail "$x86: expected exactly five files"
    table "$x86" LaunchCondition | grep -q 'NOT VersionNT64' || fail "$x86: installs on 64-bit Windows"
else
    echo "note: no x86 package (${x86:-not given}); only the x64 one checked"
fi

[[ $failures -eq 0 ]] && echo "package test passed" || echo "$failures failure(s)"
[[ $failures -eq 0 ]]
