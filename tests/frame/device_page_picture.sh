#!/usr/bin/env bash
# The frame host shows a property page of the real DTM on its own (`ui --class`), online to the
# simulated transmitter after an upload, and renders it to a PNG.
set -u
host=$1
module=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export VKR_REGISTRY=$dir/registry.reg VKR_DRIVE_ROOT=$dir/drives
fail() { echo "FAILED: $*"; exit 1; }
out=$("$host" register) || fail "register: $out"
out=$("$host" register "$module") || fail "register $module: $out"
out=$("$host" ui --class Vorn.ExampleDtm_CommandPP --png "$dir/command.png" 2>&1) || fail "ui --class: $out"
echo "$out" | grep -q "Uploading for the page: done" || fail "the DTM did not go online: $out"
echo "$out" | grep -q "init .* -> 1" || fail "the page did not start: $out"
echo "$out" | grep -q "rendered 450x347 to $dir/command.png" || fail "ui --class printed: $out"
echo "$out" | grep -q "closed .*: yes" || fail "the page did not close: $out"
head -c 8 "$dir/command.png" | od -An -c | grep -q "P   N   G" || fail "ui --class wrote no PNG"
echo "device page picture: ok"
