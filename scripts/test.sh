#!/usr/bin/env bash
# Sets up the machine, builds, and runs every test. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
dir=$(bash scripts/build.sh | tail -n 1)
# A test that fails is run once more before the run fails: the communication fault table still
# hangs now and then (a known fault being chased); a real failure fails twice.
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)" --repeat until-pass:2
