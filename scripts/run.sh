#!/usr/bin/env bash
# The main job: sets up the machine, builds, and runs the frame host against the simulated device.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
dir=$(bash scripts/build.sh | tail -n 1)
if [ -x "$dir/frame/vkr-frame-host" ]; then
  exec "$dir/frame/vkr-frame-host" "$@"
fi
echo "The frame host is not built yet. What the system can do so far:"
echo "  - the platform layer (libvkrplatform.so): COM core, BSTR, VARIANT, SAFEARRAY, OLE Automation
    conversions and locales, text and formatting, registry (build/platform/vkr-reg), files,
    threads, message queues, timers, apartments and marshalling"
ctest --test-dir "$dir" -N | tail -n 1
