#!/usr/bin/env bash
# Installs what is missing, builds the program and demonstrates it on generated instrument data.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-deps.sh
cmake --preset default
cmake --build --preset default -j "$(nproc)"

bin="$PWD/build/bin"
cd "$bin"
./ufdtool init
[ -f Report/Demo.bin ] || ./ufdtool make-report Report/Demo.bin --reports 24
[ -f Record/Demo.Rec ] || ./ufdtool make-recording Record/Demo.Rec --frames 200
./ufdtool import-report Report/Demo.bin
./ufdtool recording-info Record/Demo.Rec
