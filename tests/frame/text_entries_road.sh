#!/usr/bin/env bash
# Every text and date entry of the offline parameter control (function 5) and the Device page, on
# the frame host online to the simulated transmitter: an entry its device field holds is written
# exactly (the transmitter's bytes in the device file), one it cannot hold (a character outside the
# field's set, a text too long, a number with other signs in it or beyond its limits) is refused
# with a word naming the field and what it holds, and the device file stays byte for byte. Then a
# download that fails part-way tells what the device now holds, as the device file shows it.
set -u
host=$1
. "$(dirname "$0")/host_env.sh"
. "$(dirname "$0")/host_project.sh"
open_project text
# The field's bytes as the transmitter holds a Latin-1 text (zero-padded).
latin1() { python3 -c 'import sys; print(sys.argv[1].encode("latin-1").ljust(32,b"\0").hex().upper())' "$1"; }

packedWord='characters of HART packed ASCII (A-Z, 0-9, blank and !"#$%&'"'"'()*+,-./:;<=>?@[\]^_; a-z are taken as A-Z)'
long32=ABCDEFGHIJKLMNOPQRSTUVWXYZ123456

# user interface | typed | device line | its bytes from | what they hold (written), or the word (refused)
rows=(
  "5|310=Füllstand|longTag|0|$(latin1 Füllstand)"
  "5|310=Ünïcödé à la carte 31 chars!!|longTag|0|$(latin1 'Ünïcödé à la carte 31 chars!!')"
  "5|205=tank7|tagDescriptorDate|0|$(packed TANK7 8)"
  "5|205=LT_101|tagDescriptorDate|0|$(packed LT_101 8)"
  "5|207=North silo 2|tagDescriptorDate|12|$(packed 'NORTH SILO 2' 16)"
  "5|209=keep dry [x] <50%|message|0|$(packed 'KEEP DRY [X] <50%' 32)"
  "5|631=2155|tagDescriptorDate|40|FF"
  "5|631=1900|tagDescriptorDate|40|00"
  "5|358=29|tagDescriptorDate|36|1D"
  "5|360=11|tagDescriptorDate|38|0B"
  "5|310=Ā|-|-|Long Tag was not written: its entry is not valid: up to 31 characters of ISO Latin-1."
  "5|310=$long32|-|-|Long Tag was not written: its entry is not valid: up to 31 characters of ISO Latin-1."
  "5|205=TÄG|-|-|Tag was not written: its entry is not valid: up to 8 $packedWord."
  "5|205=TANK12345|-|-|Tag was not written: its entry is not valid: up to 8 $packedWord."
  "5|207=DESCRIPTOR 17 CHS|-|-|Description was not written: its entry is not valid: up to 16 $packedWord."
  "5|209=ÄÖÜ~{}|-|-|Message was not written: its entry is not valid: up to 32 $packedWord."
  "5|631=2156|-|-|Year was not written: its entry is not valid: 1900 to 2155."
  "5|631=1899|-|-|Year was not written: its entry is not valid: 1900 to 2155."
  "5|631=2o2o|-|-|Year was not written: its entry is not valid: 1900 to 2155."
  # November, as the row above wrote it: the days the month has.
  "5|358=1,5|-|-|Day was not written: its entry is not valid: 1 to 30."
  "5|360=1e1|-|-|Month was not written: its entry is not valid: 1 to 12."
  "1|307=Grüße aus Köln|longTag|0|$(latin1 'Grüße aus Köln')"
  "1|205=tag9|tagDescriptorDate|0|$(packed TAG9 8)"
  "1|364=2155|tagDescriptorDate|40|FF"
  "1|359=16777215|finalAssembly|0|FFFFFF"
  "1|307=Ā|-|-|Long Tag was not written: its entry is not valid: up to 31 characters of ISO Latin-1."
  "1|307=$long32|-|-|Long Tag was not written: its entry is not valid: up to 31 characters of ISO Latin-1."
  "1|205=TANK12345|-|-|Tag was not written: its entry is not valid: up to 8 $packedWord."
  "1|299=abc~|-|-|Message was not written: its entry is not valid: up to 32 $packedWord."
  # November: the days the month has.
  "1|358=1,5|-|-|Date was not written: its entry is not valid: day 1 to 30."
  "1|358=1e39|-|-|Date was not written: its entry is not valid: day 1 to 30."
  "1|360=13|-|-|Date was not written: its entry is not valid: month 1 to 12."
  "1|364=2156|-|-|Date was not written: its entry is not valid: year 1900 to 2155."
  "1|359=12abc|-|-|Final Assemply Number was not written: its entry is not valid: 0 to 16777215."
  "1|359=16777216|-|-|Final Assemply Number was not written: its entry is not valid: 0 to 16777215."
)
for row in "${rows[@]}"; do
  IFS='|' read -r ui typed name from want <<<"$row"
  id=${typed%%=*}
  before=$(cat "$device")
  if [ "$ui" = 5 ]; then
    out=$("$host" ui 5 --project "$p" --no-picture --type "$typed" --click 102 --answer Yes --read "$id" 2>&1)
  else
    out=$("$host" ui 1 --page 3 --project "$p" --no-picture --type "$typed" --click 221 --read 6333 --read "$id" 2>&1)
  fi
  rc=$?
  if [ "$name" = - ]; then
    [ "$(cat "$device")" = "$before" ] || fail "$ui $typed: the transmitter changed: $(diff <(echo "$before") "$device")"
    echo "$out" | grep -qF -- "$want" || fail "$ui $typed: not refused with \"$want\": $out"
    echo "$out" | grep -qF "item $id: \"${typed#*=}\"" || fail "$ui $typed: the entry was not kept for the user: $out"
  else
    [ $rc = 0 ] || fail "$ui $typed: exit $rc: $out"
    held=$(line "$name")
    [ "${held:$from:${#want}}" = "$want" ] || fail "$ui $typed: $name holds $held, not $want from $from"
    echo "$out" | grep -q "not valid" && fail "$ui $typed: written and refused: $out"
  fi
done

# Every number entry of function 5 just beyond each of its limits, in metres, in feet and in
# millimetres (chosen as its Display Unit): refused with the limits in the unit the entry shows, the entry kept, the
# transmitter and the project as they were.
project=$(ls "$VKR_DRIVE_ROOT"/*/VKR/text.vkr) || fail "no project file"
numbers=(
  "Metres (m)|615=66.001|Hi Level|0 to 66 m" "Metres (m)|615=-0.001|Hi Level|0 to 66 m"
  "Metres (m)|614=66.001|Low Level|0 to 66 m" "Metres (m)|614=-0.001|Low Level|0 to 66 m"
  "Metres (m)|625=66.001|Blanking|0 to 66 m" "Metres (m)|625=-0.001|Blanking|0 to 66 m"
  "Metres (m)|626=0.501|Distance Offset|-0.5 to 0.5 m" "Metres (m)|626=-0.501|Distance Offset|-0.5 to 0.5 m"
  "Metres (m)|616=255.001|Damping|0 to 255 Sec" "Metres (m)|616=-0.001|Damping|0 to 255 Sec"
  "Metres (m)|623=100.1|Sensitivity|0 to 100 %" "Metres (m)|623=-0.1|Sensitivity|0 to 100 %"
  "Feet (ft)|615=216.536|Hi Level|0 to 216.535 ft" "Feet (ft)|615=-0.001|Hi Level|0 to 216.535 ft"
  "Feet (ft)|614=216.536|Low Level|0 to 216.535 ft" "Feet (ft)|614=-0.001|Low Level|0 to 216.535 ft"
  "Feet (ft)|625=216.536|Blanking|0 to 216.535 ft" "Feet (ft)|625=-0.001|Blanking|0 to 216.535 ft"
  "Feet (ft)|626=1.641|Distance Offset|-1.64 to 1.64 ft" "Feet (ft)|626=-1.641|Distance Offset|-1.64 to 1.64 ft"
  "Feet (ft)|616=255.001|Damping|0 to 255 Sec" "Feet (ft)|623=100.1|Sensitivity|0 to 100 %"
  "Millimetres (mm)|615=66000.5|Hi Level|0 to 66000 mm" "Millimetres (mm)|626=-500.5|Distance Offset|-500 to 500 mm"
)
for row in "${numbers[@]}"; do
  IFS='|' read -r unit typed label limits <<<"$row"
  id=${typed%%=*}
  before=$(cat "$device")
  cp "$project" "$dir/kept.vkr"
  out=$("$host" ui 5 --project "$p" --no-picture --type "613=$unit" --type "$typed" --click 102 --answer Yes \
    --read "$id" 2>&1)
  want="Offline Parameterization: $label was not written: its entry is not valid: $limits."
  echo "$out" | grep -qF -- "$want" || fail "$unit $typed: not refused with \"$want\": $out"
  echo "$out" | grep -qF "item $id: \"${typed#*=}\"" || fail "$unit $typed: the entry was not kept: $out"
  [ "$(cat "$device")" = "$before" ] || fail "$unit $typed: the transmitter changed: $(diff <(echo "$before") "$device")"
  cmp -s "$project" "$dir/kept.vkr" || fail "$unit $typed: the project changed"
done

# A download that stops part-way names what it wrote before: the project's message goes back over
# the transmitter's (changed after the upload), then the fail time's command is lost.
out=$("$host" upload --project "$p" 2>&1) || fail "upload again: $out"
project_message=$(line message)
sed -i 's/^message .*/message 0000000000000000000000000000000000000000000000FF/' "$device"
out=$("$host" ui 5 --project "$p" --no-picture --type 620=9 --click 102 --answer Yes --fault 136=linkgone 2>&1) &&
  fail "a lost download ended well: $out"
[ "$(line message)" = "$project_message" ] || fail "the download did not write the project's message back: $(line message)"
echo "$out" | grep -qF 'The device now holds what the download wrote before it stopped ("Message", ' ||
  fail "the notice does not name what the download wrote: $out"
echo "$out" | grep -qF 'not the changes "Fail Time"; they stay in the data set.' ||
  fail "the notice does not name the change not written: $out"
# On a project older than its transmitter, a download that stops at any command names each value
# by the label of its entry in function 5, never by the data set's name for it.
labels='"(Message|Tag|Description|Date|Long Tag|Display Unit|Low Level|Hi Level|Damping|Display Mode|Tracking|Dielectric|Fail Mode|Fail Time|Sensitivity|Analog Mode|Blanking|Distance Offset)"'
# fault | the values named as not written (a command writing a record writes none of its values)
downloads=(
  '18=linkgone|"Tag", "Description" and "Date" were not written'
  '22=refused|"Long Tag" was not written'
  '44=linkgone|"Display Unit" was not written'
  '136=busy|"Display Mode", "Tracking", "Dielectric", "Fail Mode" and "Fail Time" were not written'
  '138=linkgone|"Sensitivity", "Analog Mode", "Blanking" and "Distance Offset" were not written'
  '34=linkgone|"Damping" was not written'
  '35=refused|"Low Level" and "Hi Level" were not written'
)
seconds=20
for row in "${downloads[@]}"; do
  IFS='|' read -r fault failed <<<"$row"
  seconds=$((seconds + 1))  # a fail time the transmitter does not hold yet
  out=$("$host" upload --project "$p" 2>&1) || fail "upload before $fault: $out"
  sed -i 's/^message .*/message 0000000000000000000000000000000000000000000000FF/' "$device"
  out=$("$host" ui 5 --project "$p" --no-picture --type "620=$seconds" --click 102 --answer Yes --fault "$fault" \
    --answer No 2>&1) && fail "$fault: the download ended well: $out"
  notice=$(echo "$out" | grep -m1 'told: .*The download did not go through') || fail "$fault: no notice: $out"
  [ "$(line message)" = "$project_message" ] || fail "$fault: the project's message was not written back"
  echo "$notice" | grep -qF "The download did not go through: $failed:" || fail "$fault: not \"$failed\": $notice"
  others=$(echo "$notice" | grep -oE '"[^"]*"' | grep -vxE "$labels")
  [ -z "$others" ] && ! echo "$notice" | grep -qE 'Command|[A-Za-z]2"|Sensititvity|Opiton' ||
    fail "$fault: the notice names what the user does not see ($others): $notice"
done
# A download refused at its first command leaves the device as it was, and says so.
before=$(cat "$device")
out=$("$host" ui 5 --project "$p" --no-picture --type 620=11 --click 102 --answer Yes --fault 17=refused 2>&1) &&
  fail "a refused download ended well: $out"
[ "$(cat "$device")" = "$before" ] || fail "a download refused at once changed the transmitter"
echo "$out" | grep -qF 'The device was not changed: it holds none of the changes ("Fail Time"); they stay in the data set.' ||
  fail "the notice of a download refused at once: $out"
# A second download that stops before the command its change goes in: the device holds that change
# still, as the first download wrote it, and the notice counts it among what the device holds.
out=$("$host" ui 5 --project "$p" --no-picture --type 205=PAIR7 --click 1 --answer Yes --fault 136#1=busy \
  --click 102 --answer Yes --fault 18#2=busy --answer No 2>&1) && fail "two failed downloads ended well: $out"
[ "$(line tagDescriptorDate | cut -c1-12)" = "$(packed PAIR7 8)" ] || fail "the first download did not write the tag"
second=$(echo "$out" | grep -F 'told: message messageStop' | sed -n 2p)
echo "$second" | grep -qE 'holds what the download wrote before it stopped \([^)]*"Tag"' ||
  fail "the second notice does not count the tag the device holds: $second"
echo "$second" | grep -q 'not the changes' && fail "the second notice names a change the device holds: $second"
# Command 18 failed this time, yet the device holds its tag from the first: none of it is named as
# not written.
echo "$second" | grep -qF 'The download did not go through: the device is busy. The device now holds' ||
  fail "the second notice names as not written what the device holds: $second"
# A tag and descriptor emptied go to the transmitter as blanks (HART pads packed ASCII with them);
# function 5 opened again shows them as the device holds them, never a default text it does not hold.
out=$("$host" ui 5 --project "$p" --no-picture --type 205= --type 207= --click 1 --answer Yes 2>&1) ||
  fail "emptied texts: $out"
[ "$(line tagDescriptorDate | cut -c1-36)" = "$(packed '' 8)$(packed '' 16)" ] ||
  fail "the emptied tag and descriptor are not blanks: $(line tagDescriptorDate)"
out=$("$host" ui 5 --project "$p" --no-picture --read 205 --read 207 2>&1) || fail "reopen: $out"
for item in 205 207; do
  echo "$out" | grep -qE "item $item: \" *\"\$" || fail "function 5 shows item $item as the device does not hold it: $out"
done
echo "text entries road: ${#rows[@]} entries, ${#numbers[@]} numbers beyond their limits, $((${#downloads[@]} + 3)) downloads"
