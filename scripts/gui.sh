#!/usr/bin/env bash
# ./run gui: the window against a simulated WX2040 and WX2050 on a private bus. $1 is the build
# folder. A firmware file for each model is written into a scratch folder, where the Open File
# dialog starts. Without a display the window runs under Xvfb and a screenshot is saved instead.
set -euo pipefail
BUILD=$(cd "${1:?usage: gui.sh BUILD_FOLDER}" && pwd)
SIM=$BUILD/sim/flintgate-sim
APP=$BUILD/app/qt/flintgate
GRAB=$BUILD/app/qt/flintgate-screengrab
SHOT=$BUILD/gui-screenshot.png

for tool in "$SIM" "$APP" "$GRAB"; do
  [ -x "$tool" ] || { echo "gui.sh: $tool is missing; build first" >&2; exit 1; }
done

source "$(dirname "$0")/sim_scratch.sh"
scratch_start gui

"$SIM" make-firmware WX2040 "$WORK/wx2040.fq"
"$SIM" make-firmware WX2050 "$WORK/wx2050.fq"
sim_start "$WORK/sim.log" "$SIM" WX2040 WX2050

echo "Simulated instruments on $FLINTGATE_SIMBUS (trace: $WORK/sim.log)"
echo "Firmware files: $WORK/wx2040.fq $WORK/wx2050.fq"

cd "$WORK"
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
