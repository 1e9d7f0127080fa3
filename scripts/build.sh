#!/usr/bin/env bash
# Configures and builds into build/ (build-asan/ with VKR_SANITIZE=ON, build-tsan/ with VKR_TSAN=ON).
# Extra arguments go to cmake's configure step.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build
opts=()
if [ "${VKR_SANITIZE:-OFF}" = ON ] || [ "${VKR_SANITIZE:-}" = 1 ]; then dir=build-asan; opts+=(-DVKR_SANITIZE=ON); fi
if [ "${VKR_TSAN:-OFF}" = ON ] || [ "${VKR_TSAN:-}" = 1 ]; then dir=build-tsan; opts+=(-DVKR_TSAN=ON); fi
if command -v ccache >/dev/null 2>&1; then opts+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
cmake -S . -B "$dir" -G Ninja "${opts[@]}" "$@" >/dev/null
cmake --build "$dir"
echo "$dir"
