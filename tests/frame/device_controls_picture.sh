#!/usr/bin/env bash
# The frame host opens the DTM's controls as the frame does (by function, or by class for a control
# without one) for the simulated transmitter and renders each to a PNG; the host closes each again.
# Each line of the loop: the function number or the class's ProgID, and whether the DTM goes online
# while it is open (a function marked offline is opened without a device).
set -u
host=$1
. "$(dirname "$0")/host_env.sh"
out=$("$host" register) || fail "register: $out"
# The transmitter of the default project: only an upload puts one in place.
out=$("$host" upload 2>&1) || fail "upload: $out"
while read -r what online; do
  [ -z "$what" ] && continue
  name=${what//./_}
  if [[ $what =~ ^[0-9]+$ ]]; then
    mode=()
    [ "$online" = offline ] && mode=(--offline)
    out=$("$host" ui "$what" "${mode[@]}" --png "$dir/$name.png" 2>&1) || fail "ui $what: $out"
    echo "$out" | grep -q "Opening the user interface of function $what" || fail "$what was not opened: $out"
  else
    out=$("$host" ui --class "$what" --png "$dir/$name.png" 2>&1) || fail "ui --class $what: $out"
    echo "$out" | grep -q "Opening the user interface of class $what" || fail "$what was not opened: $out"
  fi
  if [ "$online" = online ]; then
    echo "$out" | grep -q "online" || fail "$what: the DTM did not go online: $out"
  fi
  echo "$out" | grep -q "init .* -> 1" || fail "$what did not start: $out"
  echo "$out" | grep -q "rendered [0-9]*x[0-9]* to $dir/$name.png" || fail "$what printed: $out"
  echo "$out" | grep -q "closed .*: yes" || fail "$what did not close: $out"
  head -c 8 "$dir/$name.png" | od -An -c | grep -q "P   N   G" || fail "$what: no PNG"
done <<'LIST'
3 online
6 online
5 offline
4 online
7 online
Vorn.ExampleDtm_OfflineOnlinePara offline
2 offline
LIST
# The trend view started by the user at one second with pen 5 added: its button says Stop.
out=$("$host" ui 2 --type 703='1 Sec.' --click 435 --click 407 --read 407 --png "$dir/trend.png" 2>&1) || fail "ui 2 started: $out"
echo "$out" | grep -q 'item 407: "Stop"' || fail "the trend view did not start: $out"
# The loop test fixes 4 mA and says so only when the transmitter holds it; when its command 40
# goes unanswered (or the channel loses or refuses it), the user hears that nothing is fixed and
# the transmitter's loop current is not fixed either.
out=$("$host" ui 4 --click 377 --png "$dir/loop.png" 2>&1) || fail "ui 4 fixed: $out"
echo "$out" | grep -q "told: .*fixed at 4.000 mA" || fail "the loop test did not say 4 mA: $out"
echo "$out" | grep -q "transmitter: loop current 4.000 mA (fixed)" || fail "the transmitter is not at 4 mA: $out"
for fault in silent busy refused lost; do
  # The run did not do what the user asked: it exits 1 and its last line names the request.
  out=$("$host" ui 4 --fault 40=$fault --click 377 --png "$dir/loop-$fault.png" 2>&1) && fail "ui 4 $fault: exit 0: $out" || [ $? = 1 ] || fail "ui 4 $fault: an exit other than the 1 of a refusal"
  echo "$out" | tail -n 1 | grep -q "^vkr-frame: not all was done: HART command 40#1: " || fail "$fault: last line: $out"
  echo "$out" | grep -q "did not confirm the output level of 4.000 mA" || fail "$fault: not told: $out"
  echo "$out" | grep -q "fixed at" && fail "$fault: announced as fixed: $out"
  echo "$out" | grep -q "transmitter: loop current [0-9.]* mA$" || fail "$fault: the transmitter stays fixed: $out"
done
out=$("$host" ui 4 --fault 40=wrong --click 377 2>&1) && fail "a fault of no kind was taken: $out" || [ $? = 2 ] || fail "a fault of no kind was taken: not the exit 2 of a wrong command line"
echo "device controls picture: ok"
