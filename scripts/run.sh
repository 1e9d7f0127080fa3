#!/usr/bin/env bash
# The main job: sets up the machine, builds, and runs the frame host against the DTM module, on a
# registry and drive root of its own (VKR_REGISTRY, VKR_DRIVE_ROOT) that are removed afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
dir=$(bash scripts/build.sh | tail -n 1)
host="$dir/frame/vkr-frame"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export VKR_REGISTRY="$work/registry.reg" VKR_DRIVE_ROOT="$work/drives"
echo "== vkr-frame register"
"$host" register
echo "== vkr-frame classes"
"$host" classes
echo "== vkr-frame create"
"$host" create
echo "== vkr-frame lifecycle"
# The registration is taken away below also when the lifecycle stops early; its status is the
# job's.
status=0
"$host" lifecycle || status=$?
echo "== vkr-frame info"
"$host" info || status=$?
# The engineer's round on a temporary project: read the device, look, change, write back, check.
# It ends with a download whose read-back finds the device holding the data set (the download
# exits non-zero otherwise) and a comparison that finds them equal.
project='C:\VKR\run-project.vkr'
for step in upload show "set Tag=RUN-1" status download compare; do
  echo "== vkr-frame $step --project $project"
  # The DTM's parameter document offers no parameter its data set keeps (the tag is not kept), so
  # set can only say so: its refusal is the expected outcome and does not fail the job.
  if [ "${step%% *}" = set ]; then
    # shellcheck disable=SC2086
    "$host" $step --project "$project" || true
    continue
  fi
  if [ "$step" = compare ]; then
    out=$("$host" compare --project "$project") || status=$?
    echo "$out"
    [ "$out" = "the data set equals the device" ] || status=1
    continue
  fi
  # shellcheck disable=SC2086
  "$host" $step --project "$project" || status=$?
done
echo "== vkr-frame unregister"
"$host" unregister
exit "$status"
