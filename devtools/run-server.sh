#!/usr/bin/env bash
# ./run server: registers Orbalin.dll in a Wine bed and runs a VBScript
# point-of-sale client (devtools/orbalin-demo/sale.vbs) against detector-sim,
# the stand-in for the detector program. The client's InitOrbalin starts
# detector-sim through the profile value, as it would start the real
# program; the script prints what the client reports and every text that
# arrived at the detector form.
#
# Build tree: the preset tree build/win64. Wine bed:
# build/wine-run (WINEBED_DIR overrides); it is taken down at the end.
set -euo pipefail
src=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
win64=$src/build/win64
export WINEBED_DIR=${WINEBED_DIR:-$src/build/wine-run}
say() { echo "run server: $*"; }

say "building Orbalin.dll and detector-sim"
"$src/devtools/build-preset" win64 "$src/build/logs/run-server-win64.log" Orbalin detector-sim

winebed=$src/tests/wine/winebed
"$winebed" up </dev/null >/dev/null 2>&1
eval "$("$winebed" env)"
work=$(mktemp -d "$win64/run-server.XXXXXX")
winpath() { local p=$1; echo "Z:${p//\//\\}"; }
dll=$(winpath "$win64/server/module/Orbalin.dll")
detector=$(winpath "$win64/devtools/detector-sim/detector-sim.exe")
win_ini=$WINEPREFIX/drive_c/windows/win.ini

finish() {
    wine regsvr32 /s /u "$dll" >/dev/null 2>&1 || true
    [[ -f $work/win.ini.saved ]] && cp "$work/win.ini.saved" "$win_ini"
    rm -rf "$work"
    "$winebed" down >/dev/null 2>&1 || true
}
trap finish EXIT

say "regsvr32 $dll"
wine regsvr32 /s "$dll" >/dev/null 2>&1 || { say "registration failed"; exit 1; }

# The profile value that names the detector program.
[[ -f $win_ini ]] && cp "$win_ini" "$work/win.ini.saved"
{ [[ -f $work/win.ini.saved ]] && tr -d '\r' <"$work/win.ini.saved" | sed '/^\[Orbalin\]/,/^\[/{/^\[Orbalin\]/d;/^Orbalin=/d}'
  printf '[Orbalin]\nOrbalin=%s\n' "$detector"; } | sed 's/$/\r/' >"$work/win.ini"
cp "$work/win.ini" "$win_ini"
say "win.ini [Orbalin] Orbalin=$detector"

# Options for the copy that InitOrbalin starts: record the texts, show
# printer status 3, end after 15 s.
log=$work/detector-texts.log
: >"$log"
export DETECTOR_SIM_OPTIONS="--log $(winpath "$log") --status 3 --exit-after 15000"

say "cscript sale.vbs (InitOrbalin starts detector-sim and waits 2 s)"
cp "$src/devtools/orbalin-demo/sale.vbs" "$work/"
# To a file: detector-sim, started from inside the client, would hold a pipe open.
wine cscript //nologo "$(winpath "$work/sale.vbs")" >"$work/client.out" 2>&1 </dev/null || true
tr -d '\r' <"$work/client.out" | sed 's/^/  client: /'

say "texts that arrived at the detector form:"
tr -d '\r' <"$log" | sed 's/^/  detector: /'
