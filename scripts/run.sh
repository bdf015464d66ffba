#!/usr/bin/env bash
# Installs what is missing, builds the program and runs it against the simulated instrument.
# The first run also leaves demo data behind: a report file (imported into the database), a
# recording and two workpieces, so that every window has something to show.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-deps.sh
cmake --preset default
cmake --build --preset default -j "$(nproc)" --target ufd ufdtool ufd-sim report_template

bin="$PWD/build/bin"
cd "$bin"

# The user database is left for the program to create, so that it asks for the first account;
# the tool below opens (and so creates) both databases.
had_users=0
[ -f kvrt.mdb ] && had_users=1
if [ ! -f Report/Demo.bin ]; then
  ./ufdtool make-report Report/Demo.bin --reports 24
  ./ufdtool import-report Report/Demo.bin
fi
[ -f Record/Demo.Rec ] || ./ufdtool make-recording Record/Demo.Rec --frames 200
if [ -z "$(./ufdtool workpieces list)" ]; then
  ./ufdtool workpieces add W-0001 Flange DN200 Q345R Normalised "Ra 6.3" "Boiler shop" \
    "Slag inclusion near the root"
  ./ufdtool workpieces add W-0002 "Main shaft" Forging 42CrMo "Quenched and tempered" "Ra 1.6" \
    Machining "None recorded"
fi
[ "$had_users" = 1 ] || rm -f kvrt.mdb

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "Built in $bin, but there is no display (DISPLAY and WAYLAND_DISPLAY are unset)."
  echo "Run it from a desktop session: bash scripts/run.sh"
  exit 0
fi

# The simulator puts its link, ufd-sim-port, beside the program, where the port window finds it.
link="$bin/ufd-sim-port"
./ufd-sim --link "$link" >/dev/null &
sim=$!
trap 'kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  [ -e "$link" ] && break
  kill -0 "$sim" 2>/dev/null || { echo "ufd-sim did not start" >&2; exit 1; }
  sleep 0.1
done

echo "Simulated instrument on $link: in Communication > Port Setting choose it and open it,"
echo "then press the connect button."
./ufd
