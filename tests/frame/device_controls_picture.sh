#!/usr/bin/env bash
# The frame host shows the DTM's controls, each opened as its function (with the options it needs),
# and renders each to a PNG.
set -u
host=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export VKR_REGISTRY=$dir/registry.reg VKR_DRIVE_ROOT=$dir/drives
fail() { echo "FAILED: $*"; exit 1; }
out=$("$host" register) || fail "register: $out"
for control in "5 --offline"; do
  name=${control%% *}
  # shellcheck disable=SC2086
  out=$("$host" ui $control --png "$dir/$name.png" 2>&1) || fail "ui $control: $out"
  echo "$out" | grep -q "init .* -> 1" || fail "function $name did not start: $out"
  echo "$out" | grep -q "rendered [0-9]*x[0-9]* to $dir/$name.png" || fail "function $name printed: $out"
  echo "$out" | grep -q "closed .*: yes" || fail "function $name did not close: $out"
  head -c 8 "$dir/$name.png" | od -An -c | grep -q "P   N   G" || fail "function $name: no PNG"
done
echo "device controls picture: ok"
