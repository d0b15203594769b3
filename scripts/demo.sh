#!/usr/bin/env bash
# Sets up and builds the station, then runs the example test program headless against a
# simulated load, and shows where its CSV log landed.
#   scripts/demo.sh                 the example program on a fresh station folder
#   scripts/demo.sh --source battery --speed 60    any further acl3-run options
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DACL3_WERROR=ON >/dev/null
cmake --build build --target acl3-run acl3 acl3-loadsim

station="${ACL3_DEMO_STATION:-$PWD/build/demo-station}"
sn="DEMO-$(date +%Y%m%d-%H%M%S)"
echo "Running the example program of $station against a simulated load (about 30 s)..."
build/src/app/acl3-run --station "$station" --simulate --sn "$sn" "$@"

log="$station/TestLog/$sn.CSV"
echo
echo "The run's CSV log: $log"
head -n 6 "$log"
echo "..."
