#!/usr/bin/env bash
# ./run bench, the production station's part (also runnable alone: station_bench.sh BUILD):
#  - how long an instrument waits between appearing on the bus and the station's first command
#    to it, over several instruments plugged in one after another;
#  - the wall time of 16 instruments plugged in at once against one, from the moment they
#    appear to the station's "done" of the last of them.
# Both read the simulator's own trace clock (its first line is the instrument appearing) and the
# station's event lines (off a terminal: one line per event). Never part of ./run test.
set -euo pipefail

BUILD=${1:?usage: station_bench.sh BUILD_FOLDER}
SIM=$BUILD/sim/flintgate-sim
CLI=$BUILD/cli/flintgate-cli
LATENCY_ROUNDS=${BENCH_STATION_ROUNDS:-8}
MANY=${BENCH_STATION_MANY:-16}
for tool in "$SIM" "$CLI"; do
  [ -x "$tool" ] || { echo "bench: $tool is missing" >&2; exit 1; }
done

source "$(dirname "$0")/sim_scratch.sh"
scratch_start station
mkdir -m 0700 "$WORK/state"
STATION_PID=
SIM_PIDS=()
stop_all() {
  [ -n "$STATION_PID" ] && kill -INT "$STATION_PID" 2>/dev/null && wait "$STATION_PID" 2>/dev/null
  STATION_PID=
  [ "${#SIM_PIDS[@]}" -gt 0 ] && kill -TERM "${SIM_PIDS[@]}" 2>/dev/null
  for pid in "${SIM_PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
  SIM_PIDS=()
}
trap 'stop_all; scratch_cleanup' EXIT

"$SIM" make-firmware WX2040 "$WORK/fw.fq" >/dev/null
# Instruments as a production line has them: the flash --fast, the restart into the writer in
# the simulator's default 1.5 s.
SIM_OPTIONS=(--fast --restart-delay 1500 --state "$WORK/state")

# start_station LOG: a station on the scratch bus, its events in LOG.
start_station() {
  TMPDIR=$WORK/tmp "$CLI" station "$WORK/fw.fq" --yes --record "$WORK/records.jsonl" \
    >"$1" 2>"$1.err" &
  STATION_PID=$!
  for _ in $(seq 1 200); do
    grep -q 'Ctrl-C ends the session' "$1" && return 0
    sleep 0.05
  done
  echo "bench: the station did not start:" >&2
  cat "$1.err" >&2
  exit 1
}

# wait_done LOG COUNT: until LOG holds COUNT "done" events (300 s at most).
wait_done() {
  for _ in $(seq 1 6000); do
    [ "$(grep -c ': done$' "$1")" -ge "$2" ] && return 0
    if grep -q ': failed' "$1"; then
      echo "bench: an instrument failed:" >&2
      grep ': failed' "$1" >&2
      exit 1
    fi
    sleep 0.05
  done
  echo "bench: the station did not finish its instruments" >&2
  exit 1
}

# first_command LOG SERIAL: seconds from the instrument's appearance (the trace's first line)
# to the first command it received.
first_command() {
  awk -v serial="$2" '
    function stamp(line) { sub(/^\[ */, "", line); sub(/\].*/, "", line); return line + 0 }
    $0 ~ "] " serial " -- on the bus" && appeared == "" { appeared = stamp($0) }
    $0 ~ "] " serial " <- " && appeared != "" { print stamp($0) - appeared; exit }
  ' "$1"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
highest() { sort -g | tail -n 1; }

echo "Station: $LATENCY_ROUNDS instruments plugged in one after another ..." >&2
start_station "$WORK/latency.events"
: >"$WORK/latency.runs"
for i in $(seq 1 "$LATENCY_ROUNDS"); do
  serial=LAT$i
  sim_start "$WORK/$serial.log" "$SIM" "WX2040:$serial" "${SIM_OPTIONS[@]}"
  SIM_PIDS+=("$SIM_PID")
  SIM_PID=
  wait_done "$WORK/latency.events" "$i"
  first_command "$WORK/$serial.log" "$serial" >>"$WORK/latency.runs"
  # A random phase against the station's search, as a person's plugging has.
  sleep "0.$(( RANDOM % 10 ))"
done
stop_all

# plugged_at_once COUNT NAME: seconds from the instruments' appearance to the last "done".
plugged_at_once() {
  local count=$1 name=$2 instruments=()
  for i in $(seq 1 "$count"); do instruments+=("WX2040:${name}$(printf %02d "$i")"); done
  start_station "$WORK/$name.events"
  local started
  started=$(date +%s%N)
  sim_start "$WORK/$name.log" "$SIM" "${instruments[@]}" "${SIM_OPTIONS[@]}"
  SIM_PIDS+=("$SIM_PID")
  SIM_PID=
  wait_done "$WORK/$name.events" "$count"
  awk -v ns="$(( $(date +%s%N) - started ))" 'BEGIN { printf "%.3f\n", ns / 1e9 }'
  stop_all
}

echo "Station: one instrument, then $MANY plugged in at once ..." >&2
ONE=$(plugged_at_once 1 ONE)
ALL=$(plugged_at_once "$MANY" ALL)

LAT_MEDIAN=$(median <"$WORK/latency.runs")
LAT_HIGH=$(highest <"$WORK/latency.runs")
awk -v med="$LAT_MEDIAN" -v high="$LAT_HIGH" -v rounds="$LATENCY_ROUNDS" -v one="$ONE" \
    -v all="$ALL" -v many="$MANY" 'BEGIN {
  printf "\nProduction station (flintgate-cli station), WX2040s with --fast flash and a 1.5 s restart\n\n"
  printf "  %-52s %8.3f s\n", "appearing to first command, median of " rounds, med
  printf "  %-52s %8.3f s   (target < 2 s)\n", "appearing to first command, highest of " rounds, high
  printf "  %-52s %8.3f s\n", "one instrument plugged in, to its done", one
  printf "  %-52s %8.3f s\n", many " plugged in at once, to the last done", all
  printf "  %-52s %8.2f     (target <= 1.25)\n", many " at once / one", all / one
}'
