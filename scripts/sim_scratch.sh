# Sourced by demo.sh, gui.sh and bench.sh: a private scratch folder with a simulated bus of its
# own, the simulator started on it, and a cleanup that stops the simulator and removes the
# folder whatever happens.

# scratch_start NAME: WORK becomes a new folder (mode 0700) holding bus/ and tmp/, and
# FLINTGATE_SIMBUS names that bus, so that no other instrument, simulated or not, takes part.
scratch_start() {
  WORK=$(mktemp -d "${TMPDIR:-/tmp}/flintgate-$1.XXXXXX")
  SIM_PID=
  trap scratch_cleanup EXIT
  trap 'exit 130' INT TERM
  mkdir -m 0700 "$WORK/bus" "$WORK/tmp" "$WORK/run"
  export FLINTGATE_SIMBUS=$WORK/bus
  # The instrument locks of these runs stay in the scratch folder too.
  export XDG_RUNTIME_DIR=$WORK/run
}

scratch_cleanup() {
  if [ -n "$SIM_PID" ] && kill -0 "$SIM_PID" 2>/dev/null; then
    kill -TERM "$SIM_PID" 2>/dev/null || true
    wait "$SIM_PID" 2>/dev/null || true
  fi
  rm -rf "$WORK"
}

# sim_start LOG COMMAND...: runs the simulator command in the background, its output in LOG,
# and returns once every instrument it was given is on the bus (10 s at most).
sim_start() {
  local log=$1
  shift
  "$@" >"$log" 2>&1 &
  SIM_PID=$!
  for _ in $(seq 1 200); do
    grep -q 'on the bus .*Ctrl-C stops' "$log" 2>/dev/null && return 0
    kill -0 "$SIM_PID" 2>/dev/null || break
    sleep 0.05
  done
  echo "the simulator did not start:" >&2
  cat "$log" >&2
  return 1
}
