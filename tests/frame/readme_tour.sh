#!/usr/bin/env bash
# The README's short tour, run as written: its lines are taken from between the README's tour
# marks and run in a folder of the test's own, where build/ is the tree under test, so a command or
# option the tour names that the host does not take, or an outcome it promises, fails here.
set -u
host=$1
readme=$2
. "$(dirname "$0")/host_env.sh"
tour=$(awk '/<!-- tour -->/{on=1; next} /<!-- \/tour -->/{on=0} on && !/^```/' "$readme")
[ -n "$tour" ] || fail "the README has no tour between its marks"
# build/frame/vkr-frame of the tour is the host under test.
mkdir -p "$dir/run/build" || fail "mkdir"
ln -s "$(cd "$(dirname "$host")" && pwd)" "$dir/run/build/frame" || fail "link"
cd "$dir/run" || fail "cd"
out=$(bash -e -u -o pipefail -c "$tour" 2>&1) || fail "the tour stopped: $out"
# What the tour's comments promise.
grep -qx "the data set equals the device" <<<"$out" || fail "compare did not find the two equal: $out"
grep -qx "device status: ok" <<<"$out" || fail "status is not ok: $out"
grep -q "applied: the data set saved" <<<"$out" || fail "the offline change was not saved: $out"
for n in 0 1 2 3 4 5 6 7 8 9; do [ -s "tour-$n.png" ] || fail "no picture tour-$n.png"; done
# The offline change reached the transmitter: damping 1.5 s as its float.
grep -qx "damping 3FC00000" "$VKR_DRIVE_ROOT/c/VKR/project.vkr.device" || fail "the transmitter does not hold damping 1.5"
echo "the README's tour ran as written"
