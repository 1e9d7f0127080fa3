#!/usr/bin/env bash
# The loop-current trim and the loop test driven from the command line as a user drives them: list
# entries chosen by their text, the questions answered with --answer, judged by what the simulated
# transmitter holds and by what the user was told.
set -u
host=$1
. "$(dirname "$0")/host_env.sh"
out=$("$host" register) || fail "register: $out"
# The transmitter of the default project: only an upload puts one in place.
out=$("$host" upload 2>&1) || fail "upload: $out"
# The trim from the command line, judged by the trims the transmitter holds: a zero trim at 4 mA
# and a gain trim at 20 mA, each level announced (OK), the meter first not matching (No) and
# matching after the trim (Yes, the loop given back); the levels and "End" chosen by their text.
out=$("$host" ui 7 --click 6315 --type 6316=3.95 --click 6315 --type 6314=20mA --click 6315 --type 6316=20.04 \
  --click 6315 --type 6314=end --click 6315 --answer ok --answer No --answer YES --answer OK --answer no \
  --answer yes --answer yes --no-picture 2>&1) || fail "trim: $out"
echo "$out" | grep -q "transmitter: loop current [0-9.]* mA, zero trim 3.950 mA, gain trim 20.040 mA$" ||
  fail "the trims did not reach the transmitter: $out"
echo "$out" | grep -q "the user interface closed itself" || fail "End did not close the trim: $out"
# A loop the transmitter cannot be told to give back traps no one: one failure, one message that
# the current may still be fixed, and the next request to leave closes the control.
for args in "4 --fault 40=linkgone --click 377 --click 378" "7 --fault 40=linkgone --click 6315 --answer OK" \
  "4 --fault 40=silent --fault 40=silent --click 377"; do
  out=$("$host" ui $args --no-picture 2>&1) && fail "ui $args: exit 0: $out" || [ $? = 1 ] || fail "ui $args: an exit other than the 1 of a refusal"
  echo "$out" | tail -n 1 | grep -q "^vkr-frame: not all was done: HART command 40#" || fail "ui $args: last line: $out"
  [ "$(echo "$out" | grep -c "^  told.*may still be fixed")" = 1 ] || fail "ui $args: not told once: $out"
  echo "$out" | grep -q "is not fixed\|automatic control" && fail "ui $args: told the loop is free: $out"
done
# Offline the trim writes nothing and says so: it announces no level and asks nothing, so an
# answer given finds no question (and the command says so).
out=$("$host" ui 7 --offline --click 6315 --answer No --no-picture 2>&1) && fail "offline trim: $out" || [ $? = 1 ] || fail "offline trim: an exit other than the 1 of a refusal"
echo "$out" | grep -q "told: .*not connected: no output level was written" || fail "offline trim not told: $out"
echo "$out" | grep -q "Setting field device output\|reference meter" && fail "offline trim announced: $out"
echo "$out" | grep -q "answer No: not used" || fail "the unused answer was not named: $out"
# An entry the list lacks and a word that is no button are refused.
out=$("$host" ui 7 --type 6314=30mA 2>&1) && fail "an entry the list lacks was taken: $out" || [ $? = 1 ] || fail "an entry the list lacks was taken: an exit other than the 1 of a refusal"
echo "$out" | grep -q 'no item 6314 that takes "30mA" (it has the entries "4mA", "20mA", "End")' || fail "30mA: $out"
"$host" ui 4 --answer perhaps >/dev/null 2>&1; [ $? = 2 ] || fail "--answer perhaps was taken"
echo "loop controls road: ok"
