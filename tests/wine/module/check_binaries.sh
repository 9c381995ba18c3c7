#!/usr/bin/env bash
# Every shipped Windows binary of a build tree imports system DLLs only (the
# runtime is linked statically), and Orbalin.dll exports its four entry
# points and DllInstall by their plain names.
#
#   check_binaries.sh BUILD_DIR OBJDUMP FORMAT      (FORMAT: pei-x86-64 or pei-i386)
set -euo pipefail
build_dir=$1 objdump=$2 format=$3

# DLLs that every Windows installation carries.
system_dll='^(kernel32|user32|gdi32|advapi32|ole32|oleaut32|shell32|shlwapi|comctl32|comdlg32|version|msvcrt|rpcrt4|ws2_32|winmm|uxtheme|api-ms-win-[a-z0-9-]+)\.dll$'

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

mapfile -t binaries < <(find "$build_dir/tool" "$build_dir/server" -type f \( -name Quillon.exe -o -name Orbalin.dll -o -name orbalin-check.exe \) 2>/dev/null | sort)
((${#binaries[@]})) || { echo "FAIL: no shipped binary in $build_dir"; exit 1; }

for binary in "${binaries[@]}"; do
    name=${binary#"$build_dir"/}
    headers=$("$objdump" -p "$binary")
    grep -q "file format $format\$" <<<"$headers" || fail "$name is not $format"
    imports=$(sed -n 's/^\tDLL Name: //p' <<<"$headers" | tr 'A-Z' 'a-z' | sort -u)
    [[ -n $imports ]] || fail "$name imports nothing (not read?)"
    while read -r dll; do
        [[ -z $dll || $dll =~ $system_dll ]] || fail "$name imports $dll"
    done <<<"$imports"
    echo "$name imports: $(tr '\n' ' ' <<<"$imports")"

    if [[ ${binary##*/} == Orbalin.dll ]]; then
        exports=$(awk '/\[Ordinal\/Name Pointer\] Table/ { table = 1; next }
                       table && /^\t\[ *[0-9]+\] / { sub(/^\t\[ *[0-9]+\] /, ""); print; next }
                       table { table = 0 }' <<<"$headers" | sort)
        want=$(printf '%s\n' DllCanUnloadNow DllGetClassObject DllInstall DllRegisterServer DllUnregisterServer)
        [[ $exports == "$want" ]] || fail "$name exports: $(tr '\n' ' ' <<<"$exports")"
        echo "$name exports: $(tr '\n' ' ' <<<"$exports")"
    fi
done

((failures == 0)) || { echo "$failures check(s) failed"; exit 1; }
echo "all checks passed"
