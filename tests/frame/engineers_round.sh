#!/usr/bin/env bash
# The engineer's day on the frame host's project and the simulated transmitter, judged by the
# bytes the transmitter holds (its .device file): upload, compare, download of the unchanged
# project, the offline parameter control after an upload (no edit stores nothing; every field
# edited reaches the transmitter exactly and comes back by a fresh upload), empty texts as the
# device's blanks, and a project saved by an earlier version (a project that never saw the device
# is in Transfer_test.cpp).
set -u
host=$1
old_project=$2
. "$(dirname "$0")/host_env.sh"
"$host" register >/dev/null || fail "register"
folder=$VKR_DRIVE_ROOT/c/VKR
p='C:\VKR\round.vkr'
# The transmitter's configuration without the change counter and flag, which every write moves.
config() { grep -v "^configChange" "$folder/$1.vkr.device"; }
field() { grep "^$2 " "$folder/$1.vkr.device" | cut -d' ' -f2; }
# Runs the host; "rc" holds its exit code and "out" what it printed.
# The output without the progress lines (a percentage a line when stderr is no terminal).
run() {
  out=$("$host" "$@" 2>&1)
  rc=$?
  out=$(printf '%s\n' "$out" | grep -Ev '^[a-z ]+: [0-9]+%$')
}

# ---- Upload, compare, download of the unchanged project ------------------------------------
run upload --project "$p"
[ $rc = 0 ] || fail "upload: $out"
# The default transmitter as it was read (an upload only reads).
config round >"$dir/before"
cp "$folder/round.vkr.device" "$dir/before.device"
[ "$(field round configChanged)" = 00 ] || fail "the upload wrote to the transmitter"
run compare --project "$p"
[ "$out" = "the data set equals the device" ] || fail "compare right after the upload: $out"
run download --project "$p"
[ $rc = 0 ] && echo "$out" | grep -q "read back: the device holds the data set" || fail "download: $rc $out"
echo "$out" | grep -q "left out" && fail "the download of an uploaded project left something out: $out"
config round | diff "$dir/before" - >/dev/null || fail "upload then download changed the transmitter: $(config round | diff "$dir/before" -)"
[ "$(field round configChanged)" = 01 ] || fail "the download wrote nothing"
run compare --project "$p"
[ "$out" = "$(printf 'transmitter: configuration changed\nthe data set equals the device')" ] || fail "compare after the download: $out"

# A transmitter whose every written setting differs from the default and from its neighbours
# (range unit and PV unit too, digitizing bytes included) comes back byte for byte as well.
# Written without the loop current's lines, as files were before they kept them.
cat >"$folder/distinct.vkr.device" <<'DEVICE'
alarmSelect 00
configChangeCounter 0000
configChanged 00
damping 3FC00000
displaySettings 0402050306073F400000
echoSettings 6E043E4CCCCDBD4CCCCD
finalAssembly 00002A
loopCurrentMode 01
longTag 44495354494E43542054414E4B00000000000000000000000000000000000000
lowerRange 3F000000
message 1131545011E01015014C55201054C34A0820070820820820
pollingAddress 00
pvUnit 2C
rangeUnit 2D
tagDescriptorDate 1131545011E01015014C55201054C34A082007086D
transferFunction 00
upperRange 40E00000
writeProtect 00
DEVICE
run upload --project 'C:\VKR\distinct.vkr'
[ $rc = 0 ] && [ "$(field distinct displaySettings)" = 0402050306073F400000 ] || fail "upload of the distinct transmitter: $out"
config distinct >"$dir/distinct"
run compare --project 'C:\VKR\distinct.vkr'
# Its analog mode parks the current: the transmitter's status says so.
[ "$out" = "$(printf 'transmitter: loop current fixed\nthe data set equals the device')" ] ||
  fail "compare right after the upload of the distinct transmitter: $out"
run download --project 'C:\VKR\distinct.vkr'
[ $rc = 0 ] && [ "$(field distinct configChanged)" = 01 ] || fail "download to the distinct transmitter: $out"
# Its lines stay as they were; the file gains the lines kept since (the sensor limits the PV unit
# of the download took into feet among them).
changed=$(config distinct | grep -vxF -f - "$dir/distinct")
[ -z "$changed" ] || fail "upload then download changed the distinct transmitter: $changed"

# ---- The offline parameter control after the upload ----------------------------------------
# item | the device's value as shown | typed | as the control shows it then | field of the device
# file | the bytes it then holds (a row without a field is judged with the row above it). The unit
# comes first: the distances typed after it are in it.
rows=(
  "613|Metres (m)|Feet (ft)|Feet (ft)|pvUnit|2C"
  "616|0.500|2.5|2.500|damping|40200000"
  "615|0.500|1.5|1.500|upperRange|3FC00000"
  "614|7.500|6.25|6.250|lowerRange|40C80000"
  "612|Level|Distance|Distance|displaySettings|050304032A0000000000"
  "617|Medium|Velomode|Velomode||"
  "618| < 5| < 40| < 40||"
  "619|3.80 mA|Last Known|Last Known||"
  "620|0|42|42||"
  "623|20.0|10.0|10.0|echoSettings|19053EAA7EFA3E000000"
  "624|4 - 20 mA|Park 8 mA|Park 8 mA||"
  "625|0.300|0.333|0.333||"
  "626|0.000|0.125|0.125||"
  "205|LT-101  |TANK7|TANK7|tagDescriptorDate|50138BDE082038F4942204C930F820820820110982"
  "207|TANK 1 LEVEL    |NORTH SILO|NORTH SILO||"
  "358|7|17|17||"
  "360|12|9|9||"
  "631|2026|2030|2030||"
  "209|VKR RADAR LEVEL TRANSMITTER     |KEEP DRY|KEEP DRY|message|2C5150804499820820820820820820820820820820820820"
  "310|LT-101 TANK 1 RADAR LEVEL|SILO NORTH LONG TAG|SILO NORTH LONG TAG|longTag|53494C4F204E4F525448204C4F4E472054414700000000000000000000000000"
)
reads=() types=()
for r in "${rows[@]}"; do
  IFS='|' read -r id shown typed _ _ _ <<<"$r"
  reads+=(--read "$id") types+=(--type "$id=$typed")
done
kept=$(md5sum <"$folder/round.vkr")
run ui 5 --offline --project "$p" --no-picture "${reads[@]}"
for r in "${rows[@]}"; do
  IFS='|' read -r id shown _ _ _ _ <<<"$r"
  echo "$out" | grep -qF "item $id: \"$shown\"" || fail "after the upload item $id is not \"$shown\": $out"
done
echo "$out" | grep -q "data set unchanged" || fail "opening and closing the control changed the data set: $out"
run ui 5 --offline --project "$p" --no-picture --click 1
echo "$out" | grep -q "the user interface closed itself" && echo "$out" | grep -q "data set unchanged" ||
  fail "OK without an edit: $out"
[ "$(md5sum <"$folder/round.vkr")" = "$kept" ] || fail "OK without an edit changed the project file"
run download --project "$p"
config round | diff "$dir/before" - >/dev/null || fail "a download after OK without an edit changed the transmitter"

# Every field edited, OK, the project saved and opened again, downloaded, uploaded elsewhere.
run ui 5 --offline --project "$p" --no-picture "${types[@]}" --click 1
echo "$out" | grep -q "data set saved to" || fail "the edits were not saved: $out"
run ui 5 --offline --project "$p" --no-picture "${reads[@]}"
for r in "${rows[@]}"; do
  IFS='|' read -r id _ _ kept _ _ <<<"$r"
  echo "$out" | grep -qF "item $id: \"$kept\"" || fail "item $id did not keep \"$kept\": $out"
done
run download --project "$p"
[ $rc = 0 ] && echo "$out" | grep -q "read back: the device holds the data set" || fail "download of the edits: $rc $out"
for r in "${rows[@]}"; do
  IFS='|' read -r _ _ _ _ name bytes <<<"$r"
  [ -z "$name" ] && continue
  [ "$(field round "$name")" = "$bytes" ] || fail "$name holds $(field round "$name"), not $bytes"
done
[ "$(field round rangeUnit)" = 2C ] || fail "the range unit did not follow the unit"
run compare --project "$p"
[ "$out" = "$(printf 'transmitter: configuration changed, loop current fixed\nthe data set equals the device')" ] ||
  fail "compare after the download of the edits: $out"
cp "$folder/round.vkr.device" "$folder/fresh.vkr.device"
run upload --project 'C:\VKR\fresh.vkr'
[ $rc = 0 ] || fail "upload into another project: $out"
run ui 5 --offline --project 'C:\VKR\fresh.vkr' --no-picture "${reads[@]}"
for r in "${rows[@]}"; do
  IFS='|' read -r id _ _ kept _ _ <<<"$r"
  # Packed texts come back padded with blanks.
  echo "$out" | grep -qF "item $id: \"$kept" || fail "a fresh upload shows item $id not as \"$kept\": $out"
done

# ---- Empty texts are the device's blanks ----------------------------------------------------
run ui 5 --offline --project "$p" --no-picture --type 205= --type 207= --type 209= --type 310= --click 1
echo "$out" | grep -q "data set saved to" || fail "the empty texts were not saved: $out"
run download --project "$p"
[ $rc = 0 ] || fail "download of empty texts: $out"
[ "$(field round tagDescriptorDate)" = "$(printf '820%.0s' $(seq 12))110982" ] ||
  fail "the empty tag and descriptor went out as $(field round tagDescriptorDate)"
[ "$(field round message)" = "$(printf '820%.0s' $(seq 16))" ] || fail "the empty message went out as $(field round message)"
[ "$(field round longTag)" = "$(printf '00%.0s' $(seq 32))" ] || fail "the empty long tag went out as $(field round longTag)"

# ---- A project saved by an earlier version: the values it never kept are not known -----------
cp "$old_project" "$folder/old.vkr"
cp "$dir/before.device" "$folder/old.vkr.device"
run show --project 'C:\VKR\old.vkr'
[ $rc = 0 ] || fail "the earlier project does not load: $out"
run download --project 'C:\VKR\old.vkr'
for id in 1024 1064 1066 1068 1070 1071 1088 1090 1074 1076 1078 1080 1022 1023 1097; do
  echo "$out" | grep -q "^Download left out \".*\" ($id)" || fail "the earlier project's $id was not left out: $out"
done
echo "$out" | grep -q '(105[1-8])' && fail "the earlier project's texts and date were left out: $out"
config old | diff "$dir/before" - >/dev/null || fail "the earlier project's download changed the transmitter"
[ "$(field old configChanged)" = 01 ] || fail "the earlier project's texts and date were not written"
# Saved again by this version, the values it never held stay not known.
run download --project 'C:\VKR\old.vkr'
echo "$out" | grep -q '^Download left out "Damping Value" (1022)' || fail "saved again, the earlier project holds a damping: $out"
run upload --project 'C:\VKR\old.vkr'
run download --project 'C:\VKR\old.vkr'
[ $rc = 0 ] && ! echo "$out" | grep -q "left out" || fail "the earlier project after an upload: $out"

# ---- Numbers travel with their unit ---------------------------------------------------------
# A transmitter in each HART length unit, and with its PV unit unlike its range's, its range
# (unit, upper, lower) and damping each set apart first: uploaded, the offline control shows the
# range in its own unit, one edit (or a unit chosen) and OK, downloaded, judged by the bytes the
# transmitter holds. A value not edited keeps its bytes, also where its text rounds it (7512.3457
# mm shown as 7512.346). A unit chosen converts both range values (and the blanking) into it; a
# range in a unit that is no length unit is left as it is and the user told.
run upload --project 'C:\VKR\plain.vkr'
[ $rc = 0 ] || fail "upload of a plain transmitter: $out"
# name | pvUnit | rangeUnit | upperRange | lowerRange | Hi and Low Level shown | their label | unit
# shown | the user's work | upperRange | lowerRange | rangeUnit | pvUnit after the download
units=(
  "m|2D|2D|3F000000|40F00000|0.500 7.500|meters|Metres (m)|615=0.6|3F19999A|40F00000|2D|2D"
  "ft|2C|2C|3FC00000|41C40000|1.500 24.500|ft|Feet (ft)|615=2.25|40100000|41C40000|2C|2C"
  "in|2F|2F|41A00000|43938000|20.000 295.000|in|Inches (in)|615=30.5|41F40000|43938000|2F|2F"
  "cm|30|30|42480000|443B8000|50.000 750.000|cm|Centimetres (cm)|615=60.25|42710000|443B8000|30|30"
  "mm|31|31|43FA0000|45EA6000|500.000 7500.000|mm|Millimetres (mm)|615=600|44160000|45EA6000|31|31"
  "cm-mm|30|31|42F6E979|45EAC2C4|123.456 7512.346|mm|Centimetres (cm)|615=450|43E10000|45EAC2C4|31|30"
  "m-to-ft|2D|2D|3F000000|40F00000|0.500 7.500|meters|Metres (m)|613=Feet (ft)|3FD1F948|41C4D9B3|2C|2C"
  "cm-mm-to-in|30|31|43D3BA5E|45EA6000|423.456 7500.000|mm|Centimetres (cm)|613=Inches (in)|41855F39|4393A347|2F|2F"
  "mA|2D|27|41A00000|40800000|20.000 4.000|unit 39|Metres (m)|615=9|41A00000|40800000|27|2D"
)
for u in "${units[@]}"; do
  IFS='|' read -r name pv range upper lower shown label unit work upper2 lower2 range2 pv2 <<<"$u"
  q="C:\\VKR\\units-$name.vkr" f="$folder/units-$name.vkr.device"
  sed -e "s/^pvUnit .*/pvUnit $pv/" -e "s/^rangeUnit .*/rangeUnit $range/" -e "s/^upperRange .*/upperRange $upper/" \
    -e "s/^lowerRange .*/lowerRange $lower/" -e "s/^damping .*/damping 3FE00000/" "$folder/plain.vkr.device" >"$f"
  # Everything else the transmitter holds stays as it was (the blanking too, unless a unit is chosen).
  # The sensor limits follow the PV unit the download sends.
  moved="configChange[A-Za-z]*|upperRange|lowerRange|rangeUnit|pvUnit|limitsUnit|[a-z]*SensorLimit|minimumSpan"
  [ "${work%%=*}" = 613 ] && moved="$moved|echoSettings"
  rest() { grep -Ev "^($moved) " "$f"; }
  rest >"$dir/rest"
  run upload --project "$q"
  [ $rc = 0 ] || fail "$name: upload: $out"
  run compare --project "$q"
  # A range in mA the level does not fall into saturates the current.
  equal="the data set equals the device"
  [ "$name" = mA ] && equal=$'transmitter: loop current saturated\n'"$equal"
  [ "$out" = "$equal" ] || fail "$name: compare right after the upload: $out"
  if [ "$name" = mm ]; then
    # The level measured is the same 2.5 m whatever unit the transmitter's file gives it in.
    run ui 1 --project "$q" --page 1 --read 302 --read 393
    for item in '302: "2500.000"' '393: "71.429"'; do
      echo "$out" | grep -qF "item $item" || fail "$name: the Process page does not show item $item: $out"
    done
  fi
  run ui 5 --offline --project "$q" --no-picture --read 613 --read 615 --read 614 --read 622 --read 621
  for item in "613: \"$unit\"" "615: \"${shown% *}\"" "614: \"${shown#* }\"" "622: \"$label\"" "621: \"$label\""; do
    echo "$out" | grep -qF "item $item" || fail "$name: item $item is not shown: $out"
  done
  run ui 5 --offline --project "$q" --no-picture --type "$work" --click 1
  if [ "$name" = mA ]; then
    # Levels in a unit that converts into no length unit take no typing, and the run says so.
    [ $rc = 1 ] && echo "$out" | grep -qxF "vkr-frame: the user interface has no item 615 that takes \"9\" (it is read-only)" ||
      fail "$name: typing into the read-only level: $rc $out"
    echo "$out" | grep -qF "left as they are: Low Level (unit 39), Hi Level (unit 39)" || fail "$name: the user was not told: $out"
  else
    echo "$out" | grep -q "the user interface closed itself" || fail "$name: OK after $work: $out"
  fi
  run download --project "$q"
  [ $rc = 0 ] && echo "$out" | grep -q "read back: the device holds the data set" || fail "$name: download: $rc $out"
  for want in "upperRange $upper2" "lowerRange $lower2" "rangeUnit $range2" "pvUnit $pv2" "damping 3FE00000"; do
    [ "$(field "units-$name" "${want% *}")" = "${want#* }" ] || fail "$name: ${want% *} holds $(field "units-$name" "${want% *}"), not ${want#* }"
  done
  rest | diff "$dir/rest" - >/dev/null || fail "$name: the download changed more: $(rest | diff "$dir/rest" -)"
done
# The blanking follows the unit chosen as well (0.3 m in feet).
[ "$(field units-m-to-ft echoSettings)" = 32003F7BF7F100000000 ] || fail "the blanking did not follow the unit: $(field units-m-to-ft echoSettings)"
echo "engineer's round ok"
