#!/usr/bin/env bash
# The Win32 window under wine on a virtual display (Xvfb), driven from inside by
# test_window_win32.exe against flintgate-sim.exe: a complete update (with its picture half way
# through, written as PNG to OUT/window-win32-updating.png) and a writer that names no model,
# refused before the confirmation. Run by ./run's Windows part in its wine prefix:
#   run_window_test.sh ROOT OUT     (WINEPREFIX and the wine programs set by the caller)
set -euo pipefail
ROOT=$1 OUT=$2
WINE=${WINE:-/usr/lib/wine/wine64}
WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver}
test_exe=$ROOT/build/windows/tests/window_win32/test_window_win32.exe
wsim=$ROOT/build/windows/sim/flintgate-sim.exe
sim=$ROOT/build/default/sim/flintgate-sim
scratch=$(mktemp -d)
xvfb=
running=()
cleanup() {
  for p in "${running[@]}"; do kill -INT "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
  if [ -n "$xvfb" ]; then kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT

Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 3>"$scratch/display" 2>"$scratch/xvfb.log" &
xvfb=$!
display=
for _ in $(seq 100); do
  display=$(cat "$scratch/display")
  [ -n "$display" ] && break
  sleep 0.1
done
[ -n "$display" ] || { echo "window: Xvfb did not start:" >&2; cat "$scratch/xvfb.log" >&2; exit 1; }
export DISPLAY=:$display
# Without a window manager wine waits about a second for every modal window that closes, unless
# it manages its windows itself.
"$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1

"$sim" make-firmware WX2040 "$scratch/wx2040.fq" >/dev/null
file_path="Z:${scratch//\//\\}\\wx2040.fq"

# scenario NAME SERIAL [SIM-OPTIONS...] -- [TEST-ARGS...]: one flintgate-sim.exe WX2040 on a bus
# of its own, and the window test against it.
scenario() {
  local name=$1 serial=$2; shift 2
  local sim_options=()
  while [ "$1" != "--" ]; do sim_options+=("$1"); shift; done
  shift
  mkdir -m 700 "$scratch/$name"
  local bus="Z:${scratch//\//\\}\\$name\\bus"
  FLINTGATE_SIMBUS=$bus "$WINE" "$wsim" --fast --quiet "${sim_options[@]}" "WX2040:$serial" \
    >"$scratch/$name/sim.out" 2>&1 &
  running+=($!)
  local simpid=$! i
  for ((i = 0; i < 200; i++)); do
    grep -qF "1 instrument(s) on the bus" "$scratch/$name/sim.out" 2>/dev/null && break
    sleep 0.1
  done
  local status=0
  FLINTGATE_SIMBUS=$bus "$WINE" "$test_exe" "$name" "$file_path" \
    "USB0::0x2E5B::0x3A01::$serial::INSTR" "$@" >"$scratch/$name/test.out" 2>&1 || status=$?
  tr -d '\r' <"$scratch/$name/test.out" | sed "s/^/  $name: /"
  kill -INT "$simpid" 2>/dev/null || true
  wait "$simpid" 2>/dev/null || true
  if [ "$status" != 0 ] || ! tr -d '\r' <"$scratch/$name/test.out" | grep -qE '^[0-9]+ passed, 0 failed$'; then
    echo "window: the $name scenario failed (status $status)" >&2
    exit 1
  fi
}
scenario complete SIMW -- "Z:${scratch//\//\\}\\updating.bmp"
scenario writer-no-model SIMQ --fault start-writer --fault writer-no-model --
mkdir -p "$OUT"
python3 "$ROOT/scripts/bmp_to_png.py" "$scratch/updating.bmp" "$OUT/window-win32-updating.png"
echo "ok: the Win32 window, driven from inside; its picture: $OUT/window-win32-updating.png"
