#!/usr/bin/env bash
# ./run gui: the window against a simulated WX2040 and WX2050 on a private bus. $1 is the build
# folder. A firmware file for each model is written into a scratch folder, where the Open File
# dialog starts. Without a display the window runs under Xvfb and a screenshot is saved instead.
set -euo pipefail
BUILD=$(cd "${1:?usage: gui.sh BUILD_FOLDER}" && pwd)
SIM=$BUILD/sim/flintgate-sim
APP=$BUILD/app/flintgate
GRAB=$BUILD/app/flintgate-screengrab
SHOT=$BUILD/gui-screenshot.png

for tool in "$SIM" "$APP" "$GRAB"; do
  [ -x "$tool" ] || { echo "gui.sh: $tool is missing; build first" >&2; exit 1; }
done

SCRATCH=$(mktemp -d "${TMPDIR:-/tmp}/flintgate-gui-XXXXXX")
export FLINTGATE_SIMBUS=$SCRATCH/bus
mkdir -m 700 "$FLINTGATE_SIMBUS"
SIM_PID=
cleanup() {
  if [ -n "$SIM_PID" ]; then
    kill "$SIM_PID" 2>/dev/null || true
    wait "$SIM_PID" 2>/dev/null || true
  fi
  rm -rf "$SCRATCH"
}
trap cleanup EXIT

"$SIM" make-firmware WX2040 "$SCRATCH/wx2040.fq"
"$SIM" make-firmware WX2050 "$SCRATCH/wx2050.fq"
"$SIM" WX2040 WX2050 >"$SCRATCH/sim.log" 2>&1 &
SIM_PID=$!

# Both instruments are on the bus once their two entries are in the bus folder.
for _ in $(seq 50); do
  [ "$(find "$FLINTGATE_SIMBUS" -mindepth 1 -maxdepth 1 | wc -l)" -ge 2 ] && break
  kill -0 "$SIM_PID" 2>/dev/null || { cat "$SCRATCH/sim.log" >&2; exit 1; }
  sleep 0.1
done

echo "Simulated instruments on $FLINTGATE_SIMBUS (trace: $SCRATCH/sim.log)"
echo "Firmware files: $SCRATCH/wx2040.fq $SCRATCH/wx2050.fq"

cd "$SCRATCH"
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  "$APP"
else
  command -v xvfb-run >/dev/null || { echo "gui.sh: no display and no xvfb-run" >&2; exit 1; }
  echo "No display: running the window under Xvfb for a screenshot"
  # The grab waits until the window has been shown; the window is ended afterwards.
  xvfb-run -a -s "-screen 0 640x560x24" bash -c '
    "$1" & app=$!
    "$2" "$3" 3000; status=$?
    kill "$app" 2>/dev/null; wait "$app" 2>/dev/null
    exit $status' gui "$APP" "$GRAB" "$SHOT"
  echo "Screenshot: $SHOT"
fi
