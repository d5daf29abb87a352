#!/usr/bin/env bash
# ./run demo: updates a simulated WX2040 with a freshly made firmware file, then checks that the
# simulated flash holds exactly the file's images. $1 is the build folder.
# Everything lives in one private scratch folder that is removed at the end, whatever happens.
set -euo pipefail

BUILD=${1:?usage: demo.sh BUILD_FOLDER}
SIM=$BUILD/sim/flintgate-sim
CLI=$BUILD/cli/flintgate-cli
for tool in "$SIM" "$CLI"; do
  [ -x "$tool" ] || { echo "demo: $tool is missing; build first (./run demo does)" >&2; exit 1; }
done

source "$(dirname "$0")/sim_scratch.sh"
scratch_start demo
FIRMWARE=$WORK/WX2040_demo.fq
STATE=$WORK/flash
SERIAL=SIM2040A

step() { printf '\n\033[1m%s\033[0m\n' "$*"; }

step "1. Start a simulated WX2040 instrument (serial $SERIAL) on a private bus."
echo "   Its flash is kept in files, one per partition, so that we can look at it afterwards."
sim_start "$WORK/sim.log" "$SIM" WX2040 --state "$STATE" --auto-restart 1000
sed -n 's/^flintgate-sim: /   /p' "$WORK/sim.log" | head -n 1

step "2. Write a firmware file for it: a text header and six image records."
"$SIM" make-firmware WX2040 "$FIRMWARE" | sed 's/^/   /'

step "3. Update the instrument: flintgate-cli update --yes $(basename "$FIRMWARE")"
echo "   It switches the instrument into its flash-writer mode (a 4-second wait), checks the"
echo "   package against the installed versions and programs the images one by one."
echo
set +e
if [ -t 1 ]; then
  # On a terminal: a pseudo-terminal of its own keeps the progress bar drawn in place and the
  # log in order, and records what was shown.
  TMPDIR=$WORK/tmp script -qefc "$(printf '%q ' "$CLI" update --yes "$FIRMWARE")" "$WORK/cli.log"
  STATUS=$?
else
  TMPDIR=$WORK/tmp "$CLI" update --yes "$FIRMWARE" 2>&1 | tee "$WORK/cli.log"
  STATUS=${PIPESTATUS[0]}
fi
set -e
[ "$STATUS" -eq 0 ] || { echo "demo: the update failed with exit status $STATUS" >&2; exit 1; }

step "4. Check the simulated flash against the firmware file."
# The image records, as the drivers index them: offsets count from the first payload byte.
JSON=$("$CLI" inspect --json "$FIRMWARE")
field() { grep -o "\"$1\": *[0-9]*" <<<"$JSON" | sed 's/.*: *//'; }
PAYLOAD=$(field payloadOffset)
mapfile -t OFFSETS < <(field offset)
mapfile -t LENGTHS < <(field length)
mapfile -t BLOCKS < <(field blockId)
declare -A PARTITION=([3]=1C3 [4]=1C6DDS [6]=1C6POUT [8]=HTTP [14]=MAIN [67]=OEM)
declare -A CHECKED=()
for i in "${!BLOCKS[@]}"; do
  part=${PARTITION[${BLOCKS[$i]}]:?unexpected block id ${BLOCKS[$i]}}
  dd if="$FIRMWARE" of="$WORK/expected" iflag=skip_bytes,count_bytes bs=64K status=none \
     skip="$((PAYLOAD + OFFSETS[i]))" count="${LENGTHS[$i]}"
  cmp -s "$WORK/expected" "$STATE/$SERIAL/$part.bin" || {
    echo "demo: partition $part does not hold its image" >&2; exit 1; }
  printf '   %-8s holds its %8d-byte image exactly\n' "$part" "${LENGTHS[$i]}"
  CHECKED[$part]=1
done
for f in "$STATE/$SERIAL"/*.bin; do
  part=$(basename "$f" .bin)
  [ -n "${CHECKED[$part]:-}" ] && continue
  [ -s "$f" ] && { echo "demo: partition $part was written but is not in the file" >&2; exit 1; }
done
echo "   every other partition is untouched."
[ -z "$(ls -A "$WORK/tmp")" ] || { echo "demo: the update left its payload behind" >&2; exit 1; }
echo "   flintgate-cli removed its temporary payload folder."

step "5. Stop the simulator and remove the scratch folder."
kill -TERM "$SIM_PID"
wait "$SIM_PID" || true
SIM_PID=
echo "   Nothing is left behind. Try it yourself: $CLI update --help"
echo
tr -d '\r' <"$WORK/cli.log" | grep -x -- '--------------- Completed ---------------'
