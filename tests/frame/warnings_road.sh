#!/usr/bin/env bash
# What a user is told of a write, on every page, control and function 5, judged by the words and by
# the transmitter's bytes: every warning of a Send told once with its meaning, several warnings of
# one Send all told; the warned fault never turning a refusal (write protection, a value beyond the
# sensor, a busy device) into a warning; a Send after the link was lost told; a record that would
# go out with a field never read named with what could not be read; the sensitivity's limits and
# steps in percent.
set -u
host=$1
. "$(dirname "$0")/host_env.sh"
. "$(dirname "$0")/host_project.sh"
upload plain
transmitter protected writeProtect 01
# The default transmitter's settings, each to a value of its own first, so that a write shows.
transmitter moved damping 3F400000 echoSettings 4B003E99999A00000000 displaySettings 03010101050000000000
# The default transmitter in millimetres, as its own unit change leaves it.
device_in_unit "$folder/plain.vkr.device" mm >"$folder/milli.vkr.device"
upload milli
mkdir -p "$dir/kept" && cp "$folder/milli.vkr" "$folder/milli.vkr.device" "$dir/kept/"

W='the device warns: 0x08 (set to nearest possible value)'
# Function 5's download writes, in the order it writes them, and its range values: the warning told
# once after them all.
F5_WRITES='The download went through: "Message", "Tag", "Description", "Date", "Long Tag", "Display Unit",'
F5_RANGE="\"Low Level\" and \"Hi Level\" were written; $W"
# transmitter | ui arguments | exit | the texts told, each exactly once ("N*text": N times; ^
# between) | what must not be told (a regular expression) | the device file afterwards: "same", or
# NAME=VALUE lines ("NAME=same": as it was)
rows=(
  # Several warnings of one Send, each with its meaning, whichever command got it.
  "moved|1 --page 0 --fault writes=warned --type 542=1.25 --type 544=5 --click 221 --read 6333|0|Hi Level and Damping were written; $W.|warns: 0x08[^ ]|damping=3FA00000 upperRange=40A00000"
  "moved|1 --page 1 --fault writes=warned --type 399=3 --type 395=5 --click 221 --read 6333|0|Upper Range Value and Damping were written; $W.|warns: 0x08[^ ]|damping=40400000 upperRange=40A00000"
  "milli|1 --page 1 --fault writes=warned --type 399=3 --type 395=5000 --click 221 --read 6333|0|Upper Range Value and Damping were written; $W.|warns: 0x08[^ ]|damping=40400000 upperRange=459C4000 rangeUnit=31"
  "milli|1 --page 0 --fault writes=warned --type 544=5000 --click 221 --read 6333|0|Hi Level was written; $W.|warns: 0x08[^ ]|upperRange=459C4000 rangeUnit=31"
  "moved|1 --page 3 --fault writes=warned --type 205=NEWT --type 299=HELLO --type 359=7 --type 307=LONG --click 221 --read 6333|0|Message, Final Assemply Number, Tag and Long Tag were written; $W.|warns: 0x08[^ ]|finalAssembly=000007 longTag=4C4F4E4700000000000000000000000000000000000000000000000000000000"
  "moved|1 --page 4 --fault writes=warned --type 554=40 --type 562=Enable --click 221 --read 6333|0|Sensitivity and Probe Fault were written; $W.|warns: 0x08[^ ]|echoSettings=64003E99999A00000000"
  # Command 6 goes out twice for its two settings: its warning is told once.
  "moved|1 --page 6 --fault writes=warned --type 534=3 --click 221 --read 6333|0|Polling Address was written; $W.|warns: 0x08[^ ]|pollingAddress=03"
  "moved|1 --page 6 --fault 6#2=warned --type 534=3 --click 221 --read 6333|0|Polling Address was written; $W.|warns: 0x08[^ ]|pollingAddress=03"
  "moved|1 --page 7 --fault 38=warned --click 682 --read 6333|0|Reset Configuration Changed Flag was done; the device warns: 0x08 (warning).|failed|same"
  # A procedure the device ran with a warning is done, never told as failed.
  "moved|1 --page 7 --fault 41=warned --click 604 --answer OK --answer OK --answer OK|0|Self Test was done; the device warns: 0x08 (warning).|failed|same"
  "moved|1 --page 7 --fault 42=warned --click 608 --answer OK --answer OK --answer OK|0|Master Reset was done; the device warns: 0x08 (warning).|failed|coldStart=01"
  "moved|1 --page 0 --fault 136=warned --click 702 --type 547=3 --click 546 --answer OK|0|Auto-Digitize routine completed successfully; $W.|failed|displaySettings=03010101050340400000"
  "moved|4 --fault writes=warned --click 377|0|Loop Test: The loop current was fixed at 4.000 mA; $W.^Loop Test: The loop current was given back; $W.|fixed at 4.000 mA -> |fixedCurrent=00000000"
  "moved|7 --fault writes=warned --type 6314=20mA --click 6315 --type 6316=19.95 --click 6315 --answer OK --answer No --answer No|0|The loop current was fixed at 20.000 mA; $W.^The gain trim was written; $W.^The loop current was given back; $W.|warns: 0x08[^ ]|gainTrim=419F999A fixedCurrent=00000000"
  # A download's warning told once, with every write it answered; a command that writes a record
  # of settings names those of them the user changed, else all of them.
  "moved|5 --fault writes=warned --type 616=2.5 --click 1 --answer Yes|0|$F5_WRITES \"Display Mode\", \"Tracking\", \"Dielectric\", \"Fail Mode\", \"Fail Time\", \"Sensitivity\", \"Analog Mode\", \"Blanking\", \"Distance Offset\", \"Damping\", $F5_RANGE.|warns: 0x08[^ ]|damping=40200000"
  "moved|5 --fault writes=warned --type 620=9 --click 1 --answer Yes|0|$F5_WRITES \"Fail Time\", \"Sensitivity\", \"Analog Mode\", \"Blanking\", \"Distance Offset\", \"Damping\", $F5_RANGE.|\"Display Mode\"|displaySettings=03010101090000000000"
  "moved|5 --fault writes=warned --type 625=0.5 --type 617=Fast --click 1 --answer Yes|0|$F5_WRITES \"Tracking\", \"Blanking\", \"Damping\", $F5_RANGE.|\"Sensitivity\"|echoSettings=4B003F00000000000000 displaySettings=03020101050000000000"
  # A download that stops still tells the warnings of the writes it did before (17 18 22 44 136).
  "moved|5 --fault writes=warned --fault 138=busy --type 616=2.5 --click 1 --answer Yes|1|The download did not go through: ^1*written; $W^\"Message\", \"Tag\", \"Description\", \"Date\", \"Long Tag\", \"Display Unit\", \"Display Mode\", \"Tracking\", \"Dielectric\", \"Fail Mode\" and \"Fail Time\" were written; $W.|warns: 0x08[^ ]|damping=same"
  # A warned transmitter still refuses what it does not take: nothing is told as written.
  "protected|1 --page 0 --fault writes=warned --type 542=3 --click 221 --read 6333|1|Damping was not written: the device refused it: 0x07 (in write protect mode).|warns|same"
  "protected|1 --page 4 --fault writes=warned --type 554=40 --click 221 --read 6333|1|Sensitivity was not written: the device refused it: 0x07 (in write protect mode).|warns|same"
  "protected|5 --fault writes=warned --type 616=2.5 --click 1 --answer Yes|1|The download did not go through: \"Message\" was not written: the device refused it: 0x07 (in write protect mode).|warns|same"
  # The download agreed to at the close, after a Cancel at OK: told by the control before it goes.
  "protected|5 --type 205=SWEEP --click 1 --answer Cancel --answer Yes|1|The download did not go through: \"Message\" was not written: the device refused it: 0x07 (in write protect mode). The device was not changed: it holds none of the changes (\"Tag\"); they stay in the data set.|went through|same"
  "moved|5 --fault writes=warned --type 616=2.5 --click 1 --answer Cancel --answer Yes|0|$F5_WRITES \"Display Mode\"^1*$W|did not go through|damping=40200000"
  "moved|1 --page 1 --fault writes=warned --type 395=9 --click 221 --read 6333|1|Upper Range Value was not written: the device refused it: 0x0B (upper range value too high).|warns|same"
  "moved|5 --fault 35=warned --type 615=0.2 --click 1 --answer Yes|1|\"Low Level\" and \"Hi Level\" were not written: the device refused them: 0x0C (upper range value too low).|warns|upperRange=same lowerRange=same"
  "moved|1 --page 0 --fault writes=warned --fault 34=busy --type 542=3 --click 221 --read 6333|1|Damping was not written: the device is busy.|warns|same"
  # A Send after the link was lost says so, on every page and control.
  "moved|1 --page 4 --type 554=30 --click 221 --click 356 --type 562=Enable --click 221 --fault 131#2=linkgone --read 6333|1|Probe Fault was not written: the connection to the device is lost.|^  item 6333: \"The advanced|echoSettings=4B003E99999A00000000"
  "moved|1 --page 0 --click 356 --fault 15#2=linkgone --type 542=4 --click 221 --read 6333|1|Damping was not written: the connection to the device is lost.||same"
  "moved|1 --page 1 --click 356 --fault 15#2=linkgone --type 399=4 --click 221 --read 6333|1|Damping was not written: the connection to the device is lost.||same"
  "moved|1 --page 3 --click 356 --fault 13#2=linkgone --type 299=HO --click 221 --read 6333|1|Message was not written: the connection to the device is lost.||same"
  "moved|1 --page 6 --type 534=2 --click 221 --fault 6#3=linkgone --type 534=3 --click 221 --read 6333|1|Polling Address was not written: the connection to the device is lost.||pollingAddress=02"
  "moved|1 --page 7 --fault 38=linkgone --click 682 --click 682 --read 6333|1|Reset Configuration Changed Flag failed: the connection to the device is lost.||same"
  "moved|4 --fault 40#1=linkgone --click 377 --click 377|1|2*nor that it left fixed current mode (the connection to the device is lost)|fixed at 4.000 mA -> |same"
  "moved|7 --fault 40#1=linkgone --type 6314=20mA --click 6315 --answer OK --type 6314=20mA --click 6315 --answer OK|1|2*nor that it left fixed current mode (the connection to the device is lost)||same"
  # A record the Send would write with a field that could not be read: not written, and the line
  # says which, or that the user's own entry was read in part.
  "moved|1 --page 3 --click 356 --fault 13#2=busy --type 205=NEWT --click 221 --read 6333|1|Tag was not written: it goes to the device with Descriptor and Date, which could not be read.||same"
  "moved|1 --page 3 --click 356 --fault 13#2=busy --type 358=3 --click 221 --read 6333|1|Date was not written: it goes to the device with Tag and Descriptor, which could not be read.||same"
  "moved|1 --page 3 --click 356 --fault 13#2=busy --type 205=NEWT --type 357=DESC --type 358=3 --click 221 --read 6333|1|Tag, Descriptor and Date were not written: part of Date could not be read.||same"
  "moved|1 --page 4 --click 356 --fault 137#2=busy --type 554=30 --click 221 --read 6333|1|Sensitivity was not written: it goes to the device with Analog Mode, Blanking and Distance Offset, which could not be read.||same"
  "moved|1 --page 6 --click 356 --fault 7#2=busy --type 534=3 --click 221 --read 6333|1|Polling Address was not written: it goes to the device with Loop Current Mode, which could not be read.||same"
  "moved|1 --page 1 --fault 15=busy --type 395=5 --click 221 --read 6333|1|Upper Range Value was not written: it goes to the device with Lower Range Value, which could not be read.||same"
  "moved|1 --page 0 --fault 135=busy --type 448=30 --click 221 --read 6333|1|Fail Time was not written: it goes to the device with Display Mode, Tracking, Dielectric and Fail Mode, which could not be read.||same"
  # The sensitivity in percent: its limits named, a value between its steps written as the step
  # below and said so, never shown changed and written or left silently.
  "moved|1 --page 4 --type 554=250 --click 221 --read 6333|1|Sensitivity was not written: its entry is not valid: 0 to 100 %.||same"
  "moved|1 --page 4 --type 554=100.1 --click 221 --read 6333|1|Sensitivity was not written: its entry is not valid: 0 to 100 %.||same"
  "moved|1 --page 4 --type 554=-0.4 --click 221 --read 6333|1|Sensitivity was not written: its entry is not valid: 0 to 100 %.||same"
  "moved|1 --page 4 --type 554=20.3 --click 221 --read 6333 --read 554|0|Sensitivity was set to 20.0 %, the step of 0.4 % below the entry.^item 554: \"20.0\"||echoSettings=32003E99999A00000000"
  "protected|1 --page 4 --type 554=19.9 --click 221 --read 6333 --read 554|1|Sensitivity was not written: the device refused it: 0x07 (in write protect mode).^item 554: \"19.9\"|was set to|same"
  "moved|1 --page 4 --type 554=20.4 --click 221 --read 6333 --read 554|0|item 6333: \"\"^item 554: \"20.4\"||echoSettings=33003E99999A00000000"
  "moved|1 --page 4 --type 554=100 --click 221 --read 6333|0|item 6333: \"\"||echoSettings=FA003E99999A00000000"
)

for row in "${rows[@]}"; do
  IFS='|' read -r t args want told never after <<<"$row"
  for f in "$t.vkr" "$t.vkr.device"; do cp "$dir/kept/$f" "$folder/$f"; done
  # shellcheck disable=SC2086
  out=$("$host" ui $args --project "C:\\VKR\\$t.vkr" --no-picture 2>&1)
  rc=$?
  [ $rc = "$want" ] || fail "$args: exit $rc: $out"
  # What the user saw: the message line and the messages (the host's own notes left out).
  seen=$(echo "$out" | grep -E '^  (item [0-9]+: |told( at the close)?: )')
  IFS='^' read -ra texts <<<"$told"
  for text in "${texts[@]}"; do
    times=1
    if [[ $text =~ ^([0-9])\*(.*)$ ]]; then times=${BASH_REMATCH[1]} text=${BASH_REMATCH[2]}; fi
    n=$(echo "$seen" | grep -oF -- "$text" | wc -l)
    [ "$n" = "$times" ] || fail "$args: told $n times: $text: $out"
  done
  if [ -n "$never" ] && echo "$seen" | grep -qE -- "$never"; then fail "$args: told /$never/: $out"; fi
  d="$t.vkr.device"
  if [ "$after" = same ]; then
    cmp -s "$folder/$d" "$dir/kept/$d" || fail "$args: the transmitter changed: $(diff "$dir/kept/$d" "$folder/$d")"
    continue
  fi
  for check in $after; do
    name=${check%%=*} value=${check#*=}
    [ "$value" = same ] && value=$(grep "^$name " "$dir/kept/$d" | cut -d' ' -f2)
    [ "$(field "$d" "$name")" = "$value" ] || fail "$args: $name is $(field "$d" "$name"), not $value: $out"
  done
done
echo "warnings road: ${#rows[@]} rows"
