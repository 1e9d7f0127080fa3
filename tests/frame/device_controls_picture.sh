#!/usr/bin/env bash
# The frame host opens the DTM's controls as their functions, online to the simulated transmitter,
# and renders each to a PNG: the loop test (4) and the loop-current trim (7).
set -u
host=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export VKR_REGISTRY=$dir/registry.reg VKR_DRIVE_ROOT=$dir/drives
fail() { echo "FAILED: $*"; exit 1; }
out=$("$host" register) || fail "register: $out"
for function in 4 7; do
  png=$dir/function$function.png
  out=$("$host" ui "$function" --png "$png" 2>&1) || fail "ui $function: $out"
  echo "$out" | grep -q "Opening the user interface of function $function" || fail "function $function: $out"
  echo "$out" | grep -q "online" || fail "function $function: the DTM did not go online: $out"
  echo "$out" | grep -q "init .* -> 1" || fail "function $function did not start: $out"
  echo "$out" | grep -q "rendered [0-9]*x[0-9]* to $png" || fail "function $function printed: $out"
  echo "$out" | grep -q "closed .*: yes" || fail "function $function did not close: $out"
  head -c 8 "$png" | od -An -c | grep -q "P   N   G" || fail "function $function: no PNG"
done
echo "device controls picture: ok"
