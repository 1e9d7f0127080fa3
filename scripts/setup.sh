#!/usr/bin/env bash
# Installs with apt-get whatever the build and the tests need and the machine lacks. Idempotent.
set -euo pipefail
packages=(cmake ninja-build g++ clang libclang-rt-dev pkg-config ccache python3 python3-hypothesis libxml2-utils libgtest-dev libgmock-dev libxml2-dev libbenchmark-dev libcairo2-dev zlib1g-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "error: packages missing and not running as root: ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
