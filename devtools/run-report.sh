#!/usr/bin/env bash
# ./run report [ARGS...]: quillon-report (the Linux build) against the printer
# simulator on a pty. ARGS go to quillon-report (default: x-report); the
# port is the simulator's. Prints the program's output, its exit code and
# the simulator's trace of every frame on the wire.
#
# Build tree: the preset tree build/host.
set -euo pipefail
src=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
host=$src/build/host
logs=$src/build/logs
say() { echo "run report: $*"; }
[[ $# -eq 0 ]] && set -- x-report

"$src/devtools/install-packages" "$logs/run-apt.log" build
say "building printer-sim and quillon-report"
"$src/devtools/build-preset" host "$logs/run-host.log" printer-sim quillon-report
sim=$host/devtools/printer-sim/printer-sim
report=$host/tool/report/posix/quillon-report

work=$(mktemp -d)
sim_pid=
finish() {
    [[ -n $sim_pid ]] && { kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; }
    rm -rf "$work"
}
trap finish EXIT
"$sim" --link "$work/printer" --trace "$work/trace.txt" >"$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 200); do [[ -L $work/printer ]] && break; sleep 0.01; done
say "printer simulator on $(readlink "$work/printer")"
say "quillon-report --port $(readlink "$work/printer") $*"
rc=0
"$report" --port "$(readlink "$work/printer")" "$@" || rc=$?
say "exit code $rc"
say "printer simulator trace:"
cat "$work/trace.txt"
exit "$rc"
