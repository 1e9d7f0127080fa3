#!/usr/bin/env bash
# The frame host shows a page frame with test pages from a module of its own, registered and opened
# as the DTM's user interfaces are, and renders it to a PNG.
set -u
host=$1
module=$2
. "$(dirname "$0")/host_env.sh"
out=$("$host" register) || fail "register: $out"
out=$("$host" register "$module") || fail "register $module: $out"
echo "$out" | grep -q "DllRegisterServer: 0x00000000 (S_OK)" || fail "register printed: $out"
# The transmitter of the default project: only an upload puts one in place.
out=$("$host" upload 2>&1) || fail "upload: $out"
out=$("$host" ui --class VornTest.PageFrame --png "$dir/frame.png" 2>&1) || fail "ui --class: $out"
echo "$out" | grep -q "init .* -> 1" || fail "the page frame did not start: $out"
echo "$out" | grep -q "rendered [0-9]*x[0-9]* to $dir/frame.png" || fail "ui --class printed: $out"
echo "$out" | grep -q "closed .*: yes" || fail "the page frame did not close: $out"
head -c 8 "$dir/frame.png" | od -An -c | grep -q "P   N   G" || fail "ui --class wrote no PNG"
out=$("$host" ui --class VornTest.NoSuchClass 2>&1); [ $? -eq 1 ] || fail "an unknown class is not refused: $out"
echo "$out" | grep -q "no class VornTest.NoSuchClass" || fail "an unknown class printed: $out"
"$host" ui --class 2>/dev/null; [ $? -eq 2 ] || fail "ui --class without a class is not refused with 2"
echo "page frame picture: ok"
