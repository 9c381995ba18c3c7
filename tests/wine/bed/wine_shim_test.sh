#!/usr/bin/env bash
# tests/wine/bin/wine against stand-in loaders that print what they were
# given: which loader starts a built-in of each bitness, where the built-in
# comes from, and that a program file goes to the loader of its own bitness.
set -uo pipefail
shim=$(cd "$(dirname "${BASH_SOURCE[0]}")/../bin" && pwd)/wine
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
check() {  # description expected actual
    if [[ $2 == "$3" ]]; then echo "ok: $1"; else echo "FAIL: $1: expected '$2', got '$3'"; failures=$((failures + 1)); fi
}

for bits in 32 64; do
    printf '#!/bin/sh\nprintf "%%s\\n" "loader%s $*"\n' "$bits" >"$work/loader$bits"
    chmod +x "$work/loader$bits"
done
export WINEBED_WINE32_LOADER=$work/loader32 WINEBED_WINE64_LOADER=$work/loader64

# A WoW64 prefix and a 32-bit one, each with reg.exe where Wine puts it.
mkdir -p "$work/wow64/drive_c/windows/system32" "$work/wow64/drive_c/windows/syswow64" "$work/x86/drive_c/windows/system32"
touch "$work/wow64/drive_c/windows/system32/reg.exe" "$work/wow64/drive_c/windows/syswow64/reg.exe" \
      "$work/x86/drive_c/windows/system32/reg.exe"
# Minimal PE headers: "MZ", e_lfanew = 64, "PE\0\0", then the machine.
pe() {  # file machine-bytes
    { printf 'MZ'; head -c 58 /dev/zero; printf '\x40\x00\x00\x00'; printf 'PE\0\0'; printf "$2"; head -c 64 /dev/zero; } >"$1"
}
pe "$work/prog32.exe" '\x4c\x01'
pe "$work/prog64.exe" '\x64\x86'

run() { WINEPREFIX=$work/$1 WINEARCH=$2 "$shim" "${@:3}"; }
check "64-bit built-in by default" 'loader64 C:\windows\system32\reg.exe query X' "$(run wow64 win64 reg query X)"
check "64-bit built-in asked for" 'loader64 C:\windows\system32\reg.exe' "$(WINEBED_BITS=64 run wow64 win64 reg.exe)"
check "32-bit built-in from syswow64" 'loader32 C:\windows\syswow64\reg.exe /s' "$(WINEBED_BITS=32 run wow64 win64 reg /s)"
check "a 32-bit prefix has only 32-bit built-ins" 'loader32 C:\windows\system32\reg.exe' "$(WINEBED_BITS=64 run x86 win32 reg)"
check "32-bit program file, 64-bit caller" "loader32 $work/prog32.exe a b" "$(WINEBED_BITS=64 run wow64 win64 "$work/prog32.exe" a b)"
check "64-bit program file, 32-bit caller" "loader64 $work/prog64.exe" "$(WINEBED_BITS=32 run wow64 win64 "$work/prog64.exe")"
check "unknown name goes to the loader as it is" 'loader32 wineboot -i' "$(WINEBED_BITS=32 run wow64 win64 wineboot -i)"
check "a Windows path is not a built-in name" 'loader64 C:\windows\system32\cmd.exe' "$(run wow64 win64 'C:\windows\system32\cmd.exe')"
check "a file that is no PE goes by the caller's bitness" "loader32 $work/wow64/drive_c/windows/syswow64/reg.exe" \
    "$(WINEBED_BITS=32 run wow64 win64 "$work/wow64/drive_c/windows/syswow64/reg.exe")"

WINEBED_WINE32_LOADER=$work/missing WINEBED_BITS=32 run wow64 win64 reg >/dev/null 2>"$work/err"
check "no 32-bit Wine: exit code 127" 127 "$?"
grep -q '32-bit Wine is not installed' "$work/err" && echo "ok: no 32-bit Wine: says so" ||
    { echo "FAIL: no message: $(cat "$work/err")"; failures=$((failures + 1)); }
WINEBED_BITS=16 run wow64 win64 reg >/dev/null 2>&1
check "bad WINEBED_BITS refused" 2 "$?"

((failures == 0)) && echo "all checks passed" || { echo "$failures check(s) failed"; exit 1; }
