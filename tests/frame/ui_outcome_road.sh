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
run ui 1 --project 'C:\VKR\feet.vkr' --no-picture --page 1 --type 381='Feet (ft)' --click 221
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
  run ui 5 --project "C:\\VKR\\$p.vkr" --no-picture --type 616="$typed" --click 1 $answers
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
run ui 5 --offline --project 'C:\VKR\metres.vkr' --no-picture --type 616=4.5 --click 1 --answer Cancel
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
  run ui 5 --project 'C:\VKR\metres.vkr' --no-picture --fault "$fault" --type "$typed" --click "$clicked" \
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
run ui 5 --project 'C:\VKR\metres.vkr' --no-picture --type 615=1.25 --click 1 --answer Yes
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
  run ui $look --project 'C:\VKR\feet.vkr' --no-picture
  [ $rc = 1 ] && [[ "$(echo "$out" | tail -n 1)" == *"$told" ]] || fail "$look: $rc $out"
  same feet.vkr && same feet.vkr.device || fail "$look changed a file: $out"
done

# A control a page opened takes the clicks: the loop test of the Diagnostics page.
run ui 1 --project 'C:\VKR\feet.vkr' --no-picture --page 7 --click 600 --answer OK --answer OK --click 377
[ $rc = 0 ] && echo "$out" | grep -q "told: .*fixed at 4.000 mA" || fail "the loop test from the page: $rc $out"

# Time let pass on the fake clock: the Process page's cyclic reads come every 5 s, as often on a
# loaded machine as on an idle one, and a later one can fail: two runs, side by side, list the same
# requests, and the failure of the second read of the loop current ends the run.
keep feet
run ui 1 --project 'C:\VKR\feet.vkr' --no-picture --page 1 --wait 11000 &
first=$("$host" ui 1 --project 'C:\VKR\feet.vkr' --no-picture --page 1 --wait 11000 2>&1 | grep "^  requests:")
wait
[ "$(echo "$first" | grep -o "2#[0-9]*" | tail -n 1)" = "2#3" ] || fail "the loop current was not read every 5 s: $first"
run ui 1 --project 'C:\VKR\feet.vkr' --no-picture --page 1 --wait 11000
[ "$(echo "$out" | grep "^  requests:")" = "$first" ] || fail "another run let other timers fire: $out / $first"
run ui 1 --project 'C:\VKR\feet.vkr' --no-picture --page 1 --wait 6000 --fault 2#2=busy
[ $rc = 1 ] && echo "$out" | grep -q "not done: 2#2: the device was busy" || fail "the later read did not fail: $rc $out"
same feet.vkr && same feet.vkr.device || fail "a look with time let pass changed a file: $out"
run ui 1 --project 'C:\VKR\feet.vkr' --no-picture --wire-delay hart --wait 10
[ $rc = 2 ] || fail "--wait went with the wire's real time: $rc $out"

# A write the transmitter takes with a warning is written: the device holds it, the data set
# follows, the run ends well.
keep feet
run ui 1 --project 'C:\VKR\feet.vkr' --no-picture --page 1 --type 399=2 --click 221 --fault 34#1=warned
[ $rc = 0 ] && [ "$(field feet.vkr.device damping)" = 40000000 ] && ! same feet.vkr || fail "the warned damping: $rc $out"
run compare --project 'C:\VKR\feet.vkr'
echo "$out" | grep -q "equals the device" || fail "the data set did not take the warned damping: $out"

# Two projects that differ in Hi Level only: compare --with names it.
upload other
cp "$folder/other.vkr" "$folder/base.vkr"
run ui 5 --offline --project 'C:\VKR\other.vkr' --no-picture --type 615=7 --click 1 --answer No
run compare --project 'C:\VKR\base.vkr' --with 'C:\VKR\other.vkr'
[ $rc = 0 ] && echo "$out" | grep -qx 'Compare: "Range Values" (1023) differs from the partner'"'"'s data set' ||
  fail "compare --with did not name Hi Level's parameter: $out"
[ "$(echo "$out" | grep -c "differs from the partner")" = 2 ] || fail "compare --with named more than Hi Level: $out"
# A new transmitter with these device-file lines, uploaded into project NAME, its files kept.
transmitter() {
  local name=$1 f
  shift
  upload "$name"
  while [ $# -gt 1 ]; do
    sed -i "s/^$1 .*/$1 $2/" "$folder/$name.vkr.device"
    shift 2
  done
  upload "$name"
  for f in "$name.vkr" "$name.vkr.device"; do cp "$folder/$f" "$dir/$name-kept-$f"; done
}
again() { local f; for f in "$1.vkr" "$1.vkr.device"; do cp "$dir/$1-kept-$f" "$folder/$f"; done; }
transmitter plain
transmitter mm pvUnit 31 rangeUnit 31 upperRange 43FA0000 lowerRange 45EA6000
transmitter multidrop loopCurrentMode 00

# A write the transmitter took with a warning is done on every road: the transmitter holds it, the
# data set holds what it holds (compare finds them equal), and the user hears of the warning.
# project | ui arguments | the device file's line | its value afterwards
warned=(
  "plain|1 --page 1 --fault 34=warned --type 399=3 --click 221|damping|40400000"
  "plain|1 --fault 34=warned --type 542=4 --click 221|damping|40800000"
  "plain|1 --fault 136=warned --type 448=30 --click 221|displaySettings|030101011E0000000000"
  "plain|5 --fault 34=warned --type 616=2.5 --click 1 --answer Yes|damping|40200000"
  "plain|5 --fault 136=warned --type 620=20 --click 1 --answer Yes|displaySettings|03010101140000000000"
  "plain|1 --fault 35=warned --type 544=1 --click 221|upperRange|3F800000"
  "mm|1 --fault 35=warned --type 544=1000 --click 221|upperRange|447A0000"
  "plain|1 --page 4 --fault 138=warned --type 555=1.5 --click 221|echoSettings|32003FC0000000000000"
  "plain|1 --page 3 --fault 18=warned --type 205=NEWT --click 221|tagDescriptorDate|3855D482082050138B83180C15614C820820070C7E"
)
for w in "${warned[@]}"; do
  IFS='|' read -r p args line value <<<"$w"
  again "$p"
  # shellcheck disable=SC2086
  run ui $args --project "C:\\VKR\\$p.vkr" --no-picture --read 6333
  [ $rc = 0 ] && [ "$(field "$p.vkr.device" "$line")" = "$value" ] && echo "$out" | grep -q "the device warns: 0x08" ||
    fail "$p, $args: the write taken with a warning: $rc $(field "$p.vkr.device" "$line") $out"
  run compare --project "C:\\VKR\\$p.vkr"
  echo "$out" | grep -qx "the data set equals the device" || fail "$p, $args: the data set dropped the write: $out"
done

# Digitize, confirmed (in mm with a warning): the data set takes the distance, so that compare
# finds nothing and a download writes it again rather than the distance before.
for d in "plain|" "mm|--fault 136=warned"; do
  IFS='|' read -r p fault <<<"$d"
  again "$p"
  # shellcheck disable=SC2086
  run ui 1 --project "C:\\VKR\\$p.vkr" --no-picture $fault --click 702 --type 547=3 --click 546 --answer OK
  [ $rc = 0 ] && [ "$(field "$p.vkr.device" displaySettings)" = 03010101000340400000 ] || fail "$p: digitize: $out"
  if [ -n "$fault" ]; then echo "$out" | grep -q "completed successfully; the device warns: 0x08" || fail "$p: digitize: $out"; fi
  run compare --project "C:\\VKR\\$p.vkr"
  echo "$out" | grep -qx "the data set equals the device" || fail "$p: digitize, compare: $out"
  run download --project "C:\\VKR\\$p.vkr"
  [ $rc = 0 ] && [ "$(field "$p.vkr.device" displaySettings)" = 03010101000340400000 ] || fail "$p: digitize, download: $out"
done

# A unit chosen on the Process page after the read of the unit failed (the link lost) is the
# user's: the combo keeps it with its changed mark, and the line says that it was not written.
for unit in 'Metres (m)' 'Feet (ft)' 'Inches (in)' 'Centimetres (cm)' 'Millimetres (mm)'; do
  for p in plain mm; do
    again "$p"
    run ui 1 --project "C:\\VKR\\$p.vkr" --no-picture --page 1 --fault 1#1=linkgone --type "381=$unit" --click 221 \
      --read 6333 --dump
    [ $rc = 1 ] && echo "$out" | grep -q "^  shown 0 381 ComboBox enabled,mark=671,entries=[0-9]* \"$unit\"$" &&
      echo "$out" | grep -q '^  item 6333: ".*Units Select was not written: the connection to the device is lost\.' ||
      fail "$p, $unit chosen with the unit unread: $out"
    cmp -s "$folder/$p.vkr.device" "$dir/$p-kept-$p.vkr.device" || fail "$p, $unit: the device file changed"
  done
done

# In multidrop the transmitter refuses every loop current: the loop test says so, with HART's
# meaning, and that nothing is fixed; nothing is sent to give back what was never fixed.
again multidrop
run ui 4 --project 'C:\VKR\multidrop.vkr' --no-picture --type 375=20mA --click 377
[ $rc = 1 ] && echo "$out" | grep -q "told: .*the device refused it: 0x0B (in multidrop mode)): the loop current is not fixed" &&
  echo "$out" | grep -qx "  requests: 40#1" && ! echo "$out" | grep -q "may still be fixed" || fail "multidrop loop test: $out"
cmp -s "$folder/multidrop.vkr.device" "$dir/multidrop-kept-multidrop.vkr.device" || fail "multidrop: the device file changed"

# Function 5 offline, the download agreed to: it cannot go online, the data set keeps what was
# applied, and the run ends with 1 and why.
again plain
run ui 5 --offline --project 'C:\VKR\plain.vkr' --no-picture --type 616=2.5 --click 1 --answer Yes
[ $rc = 1 ] &&
  [ "$(echo "$out" | tail -n 1)" = "vkr-frame: the download failed: the DTM could not go online to the device; the device was not changed" ] &&
  echo "$out" | grep -q "told: .*The download did not go through: the DTM could not go online" &&
  echo "$out" | grep -qx "  applied: the data set saved" || fail "function 5 offline, Yes: $rc $out"

echo "ui outcome road: ok"
