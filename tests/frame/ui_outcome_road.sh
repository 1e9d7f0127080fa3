#!/usr/bin/env bash
# How `ui` ends, judged by the bytes of the project and device files and by what the host says: a
# close the user cancelled, the questions of the host's own close (No where nobody answered), the
# looks that change no value, the item of the page shown, and `compare --with` naming differences.
set -u
host=$1
. "$(dirname "$0")/host_env.sh"
"$host" register >/dev/null || fail "register"
folder=$VKR_DRIVE_ROOT/c/VKR
field() { grep "^$2 " "$folder/$1" | cut -d' ' -f2; }
run() {
  out=$("$host" "$@" 2>&1)
  rc=$?
}
upload() { run upload --project "C:\\VKR\\$1.vkr" && [ $rc = 0 ] || fail "upload of $1: $out"; }
keep() { for f in "$1.vkr" "$1.vkr.device"; do cp "$folder/$f" "$dir/$f"; done; }
same() { cmp -s "$folder/$1" "$dir/$1"; }

# A transmitter in feet, by the Process page's unit combo (the Command page has a hidden one with
# the same id): the write reaches the device file.
upload metres
upload feet
run ui 1 --project 'C:\VKR\feet.vkr' --png "$dir/unit.png" --page 1 --type 381='Feet (ft)' --click 221
[ $rc = 0 ] && [ "$(field feet.vkr.device pvUnit)" = 2C ] || fail "the unit of the page shown: $rc $out"

# OK, then Cancel to the control's question: it stays open as the user chose; the host's own close
# asks again and, nobody answering, gets No. The OK stored the damping in the data set, which is
# saved; the transmitter (damping, change counter) stays as it was unless an answer says Yes.
# project | damping typed | answers | the answer at the close | damping on the device afterwards | the last line
outcomes=(
  "metres|2.5|--answer Cancel|No|3F000000|applied: the data set saved"
  "feet|2.5|--answer Cancel|No|3F000000|applied: the data set saved"
  "metres|3.5|--answer Cancel --answer Yes|Yes|40600000|applied: the data set saved and the device written"
)
for o in "${outcomes[@]}"; do
  IFS='|' read -r p typed answers closing damping last <<<"$o"
  keep "$p"
  # shellcheck disable=SC2086
  run ui 5 --project "C:\\VKR\\$p.vkr" --png "$dir/ok.png" --type 616="$typed" --click 1 $answers
  [ $rc = 0 ] || fail "$p $answers ended with $rc: $out"
  echo "$out" | grep -qx "  OK: the control stays open because the user answered Cancel" || fail "$p $answers: $out"
  echo "$out" | grep -q "invalid" && fail "$p $answers: told of an invalid entry: $out"
  echo "$out" | grep -q "^  told at the close: .*store the changes to the device? -> button$closing$" ||
    fail "$p $answers: the question at the close: $out"
  [ "$(echo "$out" | tail -n 1)" = "  $last" ] || fail "$p $answers: $out"
  [ "$(field "$p.vkr.device" damping)" = "$damping" ] || fail "$p $answers: the device holds $(field "$p.vkr.device" damping)"
  if [ "$damping" = 3F000000 ]; then
    same "$p.vkr.device" || fail "$p $answers: the device file changed"
  fi
  same "$p.vkr" && fail "$p $answers: the OK's damping was not saved"
done
run ui 5 --offline --project 'C:\VKR\metres.vkr' --png "$dir/ok.png" --type 616=4.5 --click 1 --answer Cancel
[ $rc = 0 ] && echo "$out" | grep -q -- "-> buttonNo$" && [ "$(echo "$out" | tail -n 1)" = "  applied: the data set saved" ] ||
  fail "offline, the cancelled close: $out"

# Function 5 online: OK and Apply store the entries, ask the download question and, answered Yes,
# download and wait. A write that does not go through is told, the control stays open with the
# entry kept, and the transmitter keeps that value; the close then asks again and gets No. The run
# did not do what was asked: it exits 1 and its last line names what failed.
# fault | typed | clicked | the device file's line that keeps its value
downloads=(
  "35=refused|615=6|102|upperRange"
  "35=refused|615=6|1|upperRange"
  "35=silent|615=6|1|upperRange"
  "35=linkgone|615=6|1|upperRange"
  "18=refused|205=NEWT|1|tagDescriptorDate"
)
keep metres
for d in "${downloads[@]}"; do
  IFS='|' read -r fault typed clicked line <<<"$d"
  for f in metres.vkr metres.vkr.device; do cp "$dir/$f" "$folder/$f"; done
  was=$(field metres.vkr.device "$line")
  run ui 5 --project 'C:\VKR\metres.vkr' --png "$dir/download.png" --fault "$fault" --type "$typed" --click "$clicked" \
    --read "${typed%%=*}" --answer Yes
  [ $rc = 1 ] || fail "download with $fault ended with $rc: $out"
  echo "$out" | tail -n 1 | grep -q "^vkr-frame: the download failed: " || fail "$fault: the last line: $out"
  echo "$out" | grep -q "^  also: not all was done: HART command ${fault%%=*}#1: " || fail "$fault: the request: $out"
  echo "$out" | grep -q "^  told: .*store the changes to the device? -> buttonYes$" || fail "$fault: no question: $out"
  echo "$out" | grep -q "^  told: .*Download Parameters: The download did not go through: .* -> buttonOk$" ||
    fail "$fault: the failure was not told: $out"
  echo "$out" | grep -qx "  item ${typed%%=*}: \"${typed#*=}.*\"" || fail "$fault: the entry was not kept: $out"
  if [ "$clicked" = 1 ]; then
    echo "$out" | grep -qx "  OK: the control stays open after what it told the user" || fail "$fault: OK closed: $out"
  fi
  echo "$out" | grep -q "^  told at the close: .*store the changes to the device? -> buttonNo$" ||
    fail "$fault: the close did not ask again: $out"
  [ "$(field metres.vkr.device "$line")" = "$was" ] || fail "$fault: the device took $line: $out"
done
# Answered Yes without a fault, OK downloads and closes: the transmitter holds Hi Level.
for f in metres.vkr metres.vkr.device; do cp "$dir/$f" "$folder/$f"; done
run ui 5 --project 'C:\VKR\metres.vkr' --png "$dir/download.png" --type 615=1.25 --click 1 --answer Yes
[ $rc = 0 ] && echo "$out" | grep -q "the user interface closed itself" && [ "$(field metres.vkr.device upperRange)" = 3FA00000 ] &&
  [ "$(echo "$out" | tail -n 1)" = "  applied: the data set saved and the device written" ] || fail "download: $out"

# Looks change no value: the project and the device file stay byte-equal.
looks=(
  "1 --page 1 --click 578"
  "1 --fault 35=refused --click 578 --type 544=5 --click 221"
  "2 --type 703='1 Sec.' --click 435 --click 407"
  "1 --page 9 --click 632"
)
for look in "${looks[@]}"; do
  keep feet
  eval "run ui $look --project 'C:\VKR\feet.vkr' --png \"\$dir/look.png\""
  # A failed Send is no look: it exits 1, naming the write; it applied nothing all the same.
  if [[ $look == *--fault* ]]; then
    [ $rc = 1 ] && echo "$out" | grep -qx "  applied: nothing" &&
      echo "$out" | tail -n 1 | grep -q "^vkr-frame: not all was done: HART command 35#1: " || fail "$look: $rc $out"
  else
    [ $rc = 0 ] && [ "$(echo "$out" | tail -n 1)" = "  applied: nothing" ] || fail "$look: $rc $out"
  fi
  same feet.vkr && same feet.vkr.device || fail "$look changed a file: $out"
done

# A request that did not get done ends the run with what the user was told of it last: a page's
# message line, or the field of a control that has none.
# look | the end of the last line
unanswered=(
  "1 --page 2 --fault 3#1=silent|; the user interface told last: message line: The Values page's values could not be read: the device did not answer."
  "8 --fault 48#1=silent|; the user interface told last: field 6354: Self test results could not be read: the device did not answer."
)
for u in "${unanswered[@]}"; do
  IFS='|' read -r look told <<<"$u"
  keep feet
  # shellcheck disable=SC2086
  run ui $look --project 'C:\VKR\feet.vkr' --png "$dir/told.png"
  [ $rc = 1 ] && [[ "$(echo "$out" | tail -n 1)" == *"$told" ]] || fail "$look: $rc $out"
  same feet.vkr && same feet.vkr.device || fail "$look changed a file: $out"
done

# A control a page opened takes the clicks: the loop test of the Diagnostics page.
run ui 1 --project 'C:\VKR\feet.vkr' --png "$dir/loop.png" --page 7 --click 600 --answer OK --answer OK --click 377
[ $rc = 0 ] && echo "$out" | grep -q "told: .*fixed at 4.000 mA" || fail "the loop test from the page: $rc $out"

# Time let pass on the fake clock: the Process page's cyclic reads come every 5 s, as often on a
# loaded machine as on an idle one, and a later one can fail: two runs, side by side, list the same
# requests, and the failure of the second read of the loop current ends the run.
keep feet
run ui 1 --project 'C:\VKR\feet.vkr' --png "$dir/wait.png" --page 1 --wait 11000 &
first=$("$host" ui 1 --project 'C:\VKR\feet.vkr' --png "$dir/wait2.png" --page 1 --wait 11000 2>&1 | grep "^  requests:")
wait
[ "$(echo "$first" | grep -o "2#[0-9]*" | tail -n 1)" = "2#3" ] || fail "the loop current was not read every 5 s: $first"
run ui 1 --project 'C:\VKR\feet.vkr' --png "$dir/wait.png" --page 1 --wait 11000
[ "$(echo "$out" | grep "^  requests:")" = "$first" ] || fail "another run let other timers fire: $out / $first"
run ui 1 --project 'C:\VKR\feet.vkr' --png "$dir/wait.png" --page 1 --wait 6000 --fault 2#2=busy
[ $rc = 1 ] && echo "$out" | grep -q "not done: 2#2: the device was busy" || fail "the later read did not fail: $rc $out"
same feet.vkr && same feet.vkr.device || fail "a look with time let pass changed a file: $out"
run ui 1 --project 'C:\VKR\feet.vkr' --png "$dir/wait.png" --wire-delay hart --wait 10
[ $rc = 2 ] || fail "--wait went with the wire's real time: $rc $out"

# A write the transmitter takes with a warning is written: the device holds it, the data set
# follows, the run ends well.
keep feet
run ui 1 --project 'C:\VKR\feet.vkr' --png "$dir/warned.png" --page 1 --type 399=2 --click 221 --fault 34#1=warned
[ $rc = 0 ] && [ "$(field feet.vkr.device damping)" = 40000000 ] && ! same feet.vkr || fail "the warned damping: $rc $out"
run compare --project 'C:\VKR\feet.vkr'
echo "$out" | grep -q "equals the device" || fail "the data set did not take the warned damping: $out"

# The download the user agreed to, offline: it cannot go through, and the run says so and exits 1.
keep feet
run ui 5 --offline --project 'C:\VKR\feet.vkr' --png "$dir/off.png" --type 616=2.5 --click 1 --answer Yes
[ $rc = 1 ] && [[ "$(echo "$out" | tail -n 1)" == "vkr-frame: the download the user agreed to did not go through"* ]] ||
  fail "the offline download passed for done: $rc $out"

# Two projects that differ in Hi Level only: compare --with names it.
upload other
cp "$folder/other.vkr" "$folder/base.vkr"
run ui 5 --offline --project 'C:\VKR\other.vkr' --png "$dir/hi.png" --type 615=7 --click 1 --answer No
run compare --project 'C:\VKR\base.vkr' --with 'C:\VKR\other.vkr'
[ $rc = 0 ] && echo "$out" | grep -qx 'Compare: "Range Values" (1023) differs from the partner'"'"'s data set' ||
  fail "compare --with did not name Hi Level's parameter: $out"
[ "$(echo "$out" | grep -c "differs from the partner")" = 2 ] || fail "compare --with named more than Hi Level: $out"
echo "ui outcome road: ok"
