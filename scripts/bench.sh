#!/usr/bin/env bash
# ./run bench: how fast flintgate-cli programs a full WX2040 package compared with a bare loop
# over the same simulated bus, what the update costs in CPU and memory, what the 4000 ms
# writer-mode wait costs in CPU, and how long four instruments updated at once take against one.
# $1 is the build folder. Never part of ./run test.
set -euo pipefail

BUILD=${1:?usage: bench.sh BUILD_FOLDER}
SIM=$BUILD/sim/flintgate-sim
CLI=$BUILD/cli/flintgate-cli
BARE=$BUILD/bench/flintgate-bench-bare
WAIT=$BUILD/bench/flintgate-bench-wait
ROUNDS=${BENCH_ROUNDS:-15}
PARALLEL_ROUNDS=${BENCH_PARALLEL_ROUNDS:-3}

if [ ! -x "$BARE" ] || [ ! -x "$WAIT" ]; then
  cmake --build "$BUILD" --target flintgate-bench-bare flintgate-bench-wait flintgate-cli flintgate-sim >/dev/null
fi
for tool in "$SIM" "$CLI" "$BARE" "$WAIT"; do
  [ -x "$tool" ] || { echo "bench: $tool is missing" >&2; exit 1; }
done

# GNU time reports the peak memory of a process.
if [ ! -x /usr/bin/time ]; then
  if [ "$(id -u)" -eq 0 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends time >/dev/null
  else
    echo "bench: /usr/bin/time is missing; install it with: sudo apt-get install -y time" >&2
    exit 1
  fi
fi

source "$(dirname "$0")/sim_scratch.sh"
scratch_start bench
RESOURCE=USB0::0x2E5B::0x3A01::SIM2040A::INSTR

echo "Preparing: a full WX2040 package and a --fast simulated WX2040 already in writer mode ..." >&2
"$SIM" make-firmware WX2040 "$WORK/full.fq" --full >/dev/null
# With two cores or more the instrument gets one core and the host side the other: a real
# instrument computes on its own hardware, not on the host's CPU, and both loops then see the
# same placement instead of whatever the kernel picks per run.
PIN_SIM=()
PIN_HOST=()
if command -v taskset >/dev/null && [ "$(nproc)" -ge 2 ]; then
  PIN_SIM=(taskset -c 0)
  PIN_HOST=(taskset -c 1)
fi
sim_start "$WORK/sim.log" "${PIN_SIM[@]}" "$SIM" WX2040 --fast --quiet --fault start-writer

# Times of a few milliseconds suffer from whatever else the machine runs: the median of the
# rounds is the typical figure, the best the one least disturbed.
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
best() { sort -g | head -n 1; }

# Alternate the two so that both see the same machine load; the first CLI run also brings the
# instrument's installed versions up to the package's.
: >"$WORK/cli.runs"
: >"$WORK/prog.runs"
: >"$WORK/bare.runs"
: >"$WORK/time.runs"
BYTES=
for round in $(seq 0 "$ROUNDS"); do
  bare=$("${PIN_HOST[@]}" "$BARE" "$RESOURCE" "$WORK/full.fq")
  BYTES=${bare#bytes=}; BYTES=${BYTES%% *}
  # GNU time for the peak memory; the shell's `times` for the CPU time, which it reports to the
  # millisecond (GNU time only to the hundredth of a second); the clock around it for the wall.
  started=$(date +%s%N)
  cpu=$( (TMPDIR=$WORK/tmp "${PIN_HOST[@]}" /usr/bin/time -f '%M' -o "$WORK/time.one" \
            "$CLI" update --yes --json --quiet "$WORK/full.fq" >"$WORK/cli.json" 2>"$WORK/cli.err" \
          || { echo "bench: the update failed:" >&2; cat "$WORK/cli.err" >&2; exit 1; }
        times) | tail -n 1 | awk '{ split($1, u, "m"); split($2, s, "m");
                                   print u[1] * 60 + u[2] + s[1] * 60 + s[2] }')
  wall=$(( $(date +%s%N) - started ))
  grep -q '"result":0' "$WORK/cli.json" || { cat "$WORK/cli.json" >&2; exit 1; }
  [ "$round" -eq 0 ] && continue  # warm-up
  echo "${bare##*seconds=}" >>"$WORK/bare.runs"
  grep -o '"seconds":[0-9.e+-]*' "$WORK/cli.json" | cut -d: -f2 >>"$WORK/cli.runs"
  grep -o '"programmingSeconds":[0-9.e+-]*' "$WORK/cli.json" | cut -d: -f2 >>"$WORK/prog.runs"
  echo "$(awk -v ns="$wall" 'BEGIN { printf "%.6f", ns / 1e9 }') $(tail -n 1 "$WORK/time.one") $cpu" \
    >>"$WORK/time.runs"
done

[ -n "${BENCH_VERBOSE:-}" ] && paste "$WORK/bare.runs" "$WORK/prog.runs" "$WORK/cli.runs" "$WORK/time.runs" >&2
BARE_S=$(median <"$WORK/bare.runs")
RUN_S=$(median <"$WORK/cli.runs")
PROG_S=$(median <"$WORK/prog.runs")
WALL_S=$(cut -d' ' -f1 "$WORK/time.runs" | median)
BARE_BEST=$(best <"$WORK/bare.runs")
PROG_BEST=$(best <"$WORK/prog.runs")
# Each round's bare loop and programming ran back to back under the same load: the median of
# their ratios shakes off more of the machine's other work than the ratio of two medians.
PAIRED=$(paste "$WORK/bare.runs" "$WORK/prog.runs" | awk '{ print $1 / $2 }' | median)
PEAK_KB=$(cut -d' ' -f2 "$WORK/time.runs" | sort -n | tail -n 1)
CPU_S=$(cut -d' ' -f3 "$WORK/time.runs" | median)

echo "Measuring the CPU time of one 4000 ms writer-mode wait ..." >&2
"$WAIT" --benchmark_format=json >"$WORK/wait.json" 2>/dev/null
WAIT_REAL=$(grep -o '"real_time": *[0-9.e+-]*' "$WORK/wait.json" | head -n 1 | sed 's/.*: *//')
WAIT_CPU=$(grep -o '"cpu_time": *[0-9.e+-]*' "$WORK/wait.json" | head -n 1 | sed 's/.*: *//')

awk -v bytes="$BYTES" -v bare="$BARE_S" -v run="$RUN_S" -v prog="$PROG_S" -v wall="$WALL_S" -v cpu="$CPU_S" \
    -v peak="$PEAK_KB" -v wreal="$WAIT_REAL" -v wcpu="$WAIT_CPU" -v rounds="$ROUNDS" \
    -v barebest="$BARE_BEST" -v progbest="$PROG_BEST" -v paired="$PAIRED" -v pinned="${#PIN_HOST[@]}" 'BEGIN {
  mb = bytes / 1e6
  printf "\nFull WX2040 package: %d bytes (six images); medians of %d rounds%s\n\n", bytes, rounds,
         pinned ? ", instrument and host on a core each" : ""
  printf "  %-50s %10s %10s\n", "", "seconds", "MB/s"
  printf "  %-50s %10.4f %10.1f\n", "bare loop over the bus (4096-byte pieces)", bare, mb / bare
  printf "  %-50s %10.4f %10.1f\n", "flintgate-cli programming (first to last report)", prog, mb / prog
  printf "  %-50s %10.4f %10.1f\n", "flintgate-cli update run (payload copy included)", run, mb / run
  printf "  %-50s %10.4f %10.1f\n", "flintgate-cli whole process (wall)", wall, mb / wall
  printf "\n  %-50s %10.2f   (target >= 0.9)\n", "throughput ratio, programming / bare loop", bare / prog
  printf "  %-50s %10.2f   (%.4f s against %.4f s)\n", "  the same from the best rounds", barebest / progbest, progbest, barebest
  printf "  %-50s %10.2f\n", "  the same, median of the per-round ratios", paired
  printf "  %-50s %10.2f\n", "throughput ratio, update run / bare loop", bare / run
  printf "  %-50s %10.2f\n", "throughput ratio, whole process / bare loop", bare / wall
  printf "  %-50s %10.3f s\n", "flintgate-cli CPU time (user + sys)", cpu
  printf "  %-50s %10.1f MB   (target < 16 MB; highest of all rounds)\n", "flintgate-cli peak memory (max RSS)", peak / 1024
  printf "\n  %-50s %10.0f ms\n", "writer-mode wait, wall", wreal
  printf "  %-50s %10.1f ms\n", "writer-mode wait, CPU", wcpu
  printf "  %-50s %10.2f %%   (target < 5 %% of one core)\n", "writer-mode wait, CPU share", 100 * wcpu / wreal
}'

# Four instruments at once against one, whole process wall time each, the writer-mode wait
# included: the instruments start in their normal firmware and restart into the writer in the
# default 1.5 s while the host waits its 4 s (only the flash itself is --fast). Once with the
# four in one simulator process, once with a process each on a bus of their own. Not pinned:
# four instruments and four host threads share the cores. Between updates every instrument
# returns to its normal firmware (--auto-restart), which its trace line tells.
kill -TERM "$SIM_PID" 2>/dev/null || true
wait "$SIM_PID" 2>/dev/null || true
SIM_PID=

# wait_normal COUNT LOG...: until the logs together show COUNT returns to the normal firmware.
wait_normal() {
  local count=$1
  shift
  for _ in $(seq 1 400); do
    [ "$(cat "$@" | grep -c 'on the bus in the normal firmware')" -ge "$count" ] && return 0
    sleep 0.05
  done
  echo "bench: the instruments did not return to their normal firmware" >&2
  exit 1
}

# timed_update ARGS...: the whole process's wall time in seconds; the update must succeed.
timed_update() {
  local started
  started=$(date +%s%N)
  TMPDIR=$WORK/tmp "$CLI" update --yes --quiet --json "$WORK/full.fq" "$@" >"$WORK/par.json" 2>"$WORK/par.err" \
    || { echo "bench: the update $* failed:" >&2; cat "$WORK/par.err" >&2; exit 1; }
  awk -v ns="$(( $(date +%s%N) - started ))" 'BEGIN { printf "%.4f\n", ns / 1e9 }'
}

# measure_parallel NAME LOG...: alternates one instrument (SIM01) and all four, PARALLEL_ROUNDS each.
measure_parallel() {
  local name=$1
  shift
  local seen=4
  : >"$WORK/$name.one"
  : >"$WORK/$name.four"
  wait_normal "$seen" "$@"
  for _ in $(seq 1 "$PARALLEL_ROUNDS"); do
    timed_update --device USB0::0x2E5B::0x3A01::SIM01::INSTR >>"$WORK/$name.one"
    seen=$((seen + 1)); wait_normal "$seen" "$@"
    timed_update --all >>"$WORK/$name.four"
    seen=$((seen + 4)); wait_normal "$seen" "$@"
  done
}

PARALLEL_SIM=(--fast --restart-delay 1500 --auto-restart 200)
INSTRUMENTS=(WX2040:SIM01 WX2040:SIM02 WX2040:SIM03 WX2040:SIM04)
# Simulator processes of the multi-process case; stopped at the end and on any exit.
EXTRA_PIDS=()
stop_extra() {
  [ "${#EXTRA_PIDS[@]}" -gt 0 ] && kill -TERM "${EXTRA_PIDS[@]}" 2>/dev/null
  for pid in "${EXTRA_PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
  EXTRA_PIDS=()
}
trap 'stop_extra; scratch_cleanup' EXIT

echo "Measuring four instruments at once against one: one simulator process for all four ..." >&2
sim_start "$WORK/par-one.log" "$SIM" "${INSTRUMENTS[@]}" "${PARALLEL_SIM[@]}"
measure_parallel oneproc "$WORK/par-one.log"
kill -TERM "$SIM_PID" 2>/dev/null || true
wait "$SIM_PID" 2>/dev/null || true
SIM_PID=

echo "Measuring four instruments at once against one: a simulator process each, one bus ..." >&2
logs=()
for instrument in "${INSTRUMENTS[@]}"; do
  log=$WORK/par-${instrument#*:}.log
  logs+=("$log")
  sim_start "$log" "$SIM" "$instrument" "${PARALLEL_SIM[@]}"
  EXTRA_PIDS+=("$SIM_PID")
  SIM_PID=
done
measure_parallel procs "${logs[@]}"
stop_extra

ONE1=$(median <"$WORK/oneproc.one"); FOUR1=$(median <"$WORK/oneproc.four")
ONE4=$(median <"$WORK/procs.one"); FOUR4=$(median <"$WORK/procs.four")
awk -v one1="$ONE1" -v four1="$FOUR1" -v one4="$ONE4" -v four4="$FOUR4" -v rounds="$PARALLEL_ROUNDS" 'BEGIN {
  printf "\nFour WX2040s updated at once (--all) against one (--device), full package, writer-mode\n"
  printf "wait included; whole flintgate-cli process, wall, medians of %d rounds\n\n", rounds
  printf "  %-50s %10s %10s %10s\n", "", "1 (s)", "4 (s)", "4 / 1"
  printf "  %-50s %10.3f %10.3f %10.2f   (target <= 1.25)\n", "one simulator process for the four", one1, four1, four1 / one1
  printf "  %-50s %10.3f %10.3f %10.2f   (target <= 1.25)\n", "a simulator process per instrument, one bus", one4, four4, four4 / one4
}'
