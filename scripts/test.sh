#!/usr/bin/env bash
# Sets up the machine, builds, and runs every test. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
dir=$(bash scripts/build.sh | tail -n 1)
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)"
