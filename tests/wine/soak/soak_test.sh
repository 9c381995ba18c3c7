#!/usr/bin/env bash
# Short soaks of the benchmarks inside the Wine test bed, on what the tree's
# build made (nothing is built here; the long soaks are bench/link-soak and
# bench/server-soak):
#   soak_test.sh link N SEED   bench/link-soak: no request stuck, every outcome as
#                              its fault predicts, sequence numbers as the outcomes
#                              predict (the program checks these), handle growth small
#   soak_test.sh server N      bench/server-soak: no failed call, DllCanUnloadNow
#                              S_OK at the end, handle growth small
# Memory growth is printed, not asserted: a few KiB of allocator slack come and go.
set -uo pipefail
kind=$1
count=$2
: "${LORVANE_SOURCE_DIR:?}" "${LORVANE_BUILD_DIR:?}" "${LORVANE_HOST_BUILD_DIR:?}"
# The soak of the tree under test (the link soak measures the first build named).
export LORVANE_NO_BUILD=1 BENCH_BUILDS=${LORVANE_BUILD_DIR##*/}
# Handles that come and go with a thread or an apartment may be caught either side.
max_handle_growth=2

out=$(mktemp)
trap 'rm -f "$out"' EXIT
case $kind in
link) "$LORVANE_SOURCE_DIR/bench/link-soak" "$count" "${3:?seed}" >"$out" 2>&1 ;;
server) "$LORVANE_SOURCE_DIR/bench/server-soak" "$count" >"$out" 2>&1 ;;
*) echo "unknown soak $kind"; exit 2 ;;
esac
status=$?
cat "$out"
last=$(grep -E "^$kind-soak: " "$out" | tail -1)
[[ -n $last ]] || { echo "FAIL: no result line"; exit 1; }
((status == 0)) || { echo "FAIL: the soak's own checks failed (exit $status)"; exit 1; }
growth=$(sed -E 's/.*handle growth (-?[0-9]+).*/\1/' <<<"$last")
((growth <= max_handle_growth)) || { echo "FAIL: handle growth $growth"; exit 1; }
case $kind in
link) grep -q ', 0 stuck,' <<<"$last" || { echo "FAIL: requests stuck"; exit 1; } ;;
server) grep -q 'unload S_OK$' <<<"$last" || { echo "FAIL: DllCanUnloadNow did not answer S_OK"; exit 1; } ;;
esac
echo "PASS: $last"
