#!/usr/bin/env bash
# The release is reproducible: ./release run twice on one commit gives the
# same SHA256SUMS. Between the runs every shipped binary is linked again and
# the type libraries are made again from the same objects (a clean compile
# of all three trees would take most of an hour on a small machine); what
# the links, widl, strip, wixl and zip add of their own (times, random
# codes) then shows.
#   reproducible_test.sh SOURCE_DIR
set -euo pipefail
src=$1
[[ -f $src/build/win32/server/module/Orbalin.dll ]] || { echo "no win32 tree: skipped"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

release() {  # out-dir
    "$src/release" --allow-dirty --out "$1" >"$1.log" 2>&1 || { cat "$1.log"; exit 1; }
}
release "$work/first"
for tree in win32 win64; do
    rm -f "$src/build/$tree/tool/dialog/win32/Quillon.exe" "$src/build/$tree/server/module/Orbalin.dll" \
          "$src/build/$tree/devtools/detector-sim/detector-sim.exe" "$src/build/$tree/generated/Orbalin.tlb" \
          "$src/build/$tree/tool/report/win32/quillon-report.exe" "$src/build/$tree/server/check/win32/orbalin-check.exe"
done
rm -f "$src/build/host/devtools/printer-sim/printer-sim" "$src/build/host/tool/report/posix/quillon-report"
release "$work/second"

cat "$work/first/SHA256SUMS"
if ! diff "$work/first/SHA256SUMS" "$work/second/SHA256SUMS"; then
    echo "FAIL: the two releases differ"
    exit 1
fi
echo "the two releases are identical"
