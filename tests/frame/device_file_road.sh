#!/usr/bin/env bash
# The device file follows the transmitter, judged by its bytes: every setting a page writes lands
# in its line and nowhere else, on a transmitter whose settings all differ first (in metres, and in
# millimetres with its range in centimetres), and the next run reads it back; a polling address
# written moves the project with the transmitter and back; a command that changed nothing leaves
# the file byte for byte; the status follows a range change at once, a reset is told in a later
# command, and a status no master acknowledged lights the Status page's button.
set -u
host=$1
. "$(dirname "$0")/host_env.sh"
. "$(dirname "$0")/host_project.sh"

# ---- Every setting a page writes ---------------------------------------------------------------
# The default transmitter with every setting apart from its default and from its neighbours; the
# probe-fault word holds other bits, which its write must keep.
upload plain
distinct=$dir/distinct.device
cp "$folder/plain.vkr.device" "$distinct"
setlines "$distinct" damping 3FC00000 displaySettings 0402050306073F400000 echoSettings 19013E4CCCCDBD4CCCCD \
  finalAssembly 000011 longTag 44495354494E43542054414E4B00000000000000000000000000000000000000 \
  message 1094D424E0D4814481393349514152820820820820820820 \
  tagDescriptorDate 314B7782082038F4942204C930F820820820030479 upperRange 3F800000 lowerRange 40E00000 \
  memory "$(field plain.vkr.device memory | sed 's/^\(003503200036....\)/\1007C0123/')"
# The same in millimetres, its range in centimetres.
units=$dir/units.device
cp "$distinct" "$units"
setlines "$units" pvUnit 31 rangeUnit 30 upperRange 42C80000 lowerRange 442F0000 echoSettings 190143480000C2480000 \
  limitsUnit 31 upperSensorLimit 43960000 lowerSensorLimit 45FA0000 minimumSpan 42C80000

# page | the user's work (ID=TEXT types, ID clicks) | the device file's line | the byte it changes
# from | the bytes it holds then | the item that shows it | as the next run shows it. The flag the
# Diagnostics page resets is the primary master's: the secondary's stays (configChanged 0001).
metres=(
  "0|383=Distance|displaySettings|0|05|383|Distance"
  "0|385=Velomode|displaySettings|1|03|385|Velomode"
  "0|388= < 10|displaySettings|2|02|388| < 10"
  "0|391=20.00 mA|displaySettings|3|05|391|20.00 mA"
  "0|448=42|displaySettings|4|2A|448|42"
  "0|542=2.5|damping|0|40200000|542|2.500"
  "0|544=1.25|upperRange|0|3FA00000|544|1.250"
  "0|545=6.5|lowerRange|0|40D00000|545|6.500"
  "3|205=TANK9|tagDescriptorDate|0|50138BE60820|205|TANK9"
  "3|357=SOUTH SILO|tagDescriptorDate|6|4CF5542204C930F820820820|357|SOUTH SILO"
  "3|358=21;360=11;364=2031|tagDescriptorDate|18|150B83|364|2031"
  "3|299=KEEP DRY|message|0|2C5150804499820820820820820820820820820820820820|299|KEEP DRY"
  "3|307=SOUTH LONG TAG|longTag|0|534F555448204C4F4E4720544147000000000000000000000000000000000000|307|SOUTH LONG TAG"
  "3|359=99|finalAssembly|0|000063|359|99"
  "4|554=30|echoSettings|0|4B|554|30.0"
  "4|556=Park 8 mA|echoSettings|1|05|556|Park 8 mA"
  "4|555=0.25|echoSettings|2|3E800000|555|0.250"
  "4|697=0.125|echoSettings|6|3E000000|697|0.125"
  "4|562=Enable|memory|10|4123|562|Enable"
  "6|700=Disabled|loopCurrentMode|0|00|700|Disabled"
  "7|682|configChanged|0|0001||"
)
millimetres=(
  "0|544=60|upperRange|0|42700000|544|60.000"
  "0|545=650|lowerRange|0|44228000|545|650.000"
  "4|555=50|echoSettings|2|42480000|555|50.000"
  "4|697=0.25|echoSettings|6|3E800000|697|0.250"
)
# Runs the rows of each page in one run, in order, and one Send for what they typed (each entry
# goes out with a command of its own, which must not carry another member's old value back); then
# each line holds the bytes of its rows and every other line (but the change counter and flag)
# stays as it was; a second run a page reads every item back.
road() {
  local name=$1 f="$folder/$1.vkr.device" q="C:\\VKR\\$1.vkr"
  shift
  declare -A want shown
  for page in $(printf '%s\n' "$@" | cut -d'|' -f1 | sort -u); do
    cp "$f" "$dir/before"
    args=() want=() shown=()
    for r in "$@"; do
      IFS='|' read -r p work line at bytes item text <<<"$r"
      [ "$p" = "$page" ] || continue
      IFS=';' read -ra steps <<<"$work"
      for s in "${steps[@]}"; do
        if [[ $s == *=* ]]; then args+=(--type "$s"); else args+=(--click "$s"); fi
      done
      old=${want[$line]:-$(grep "^$line " "$dir/before" | cut -d' ' -f2)}
      want[$line]=${old:0:$((at * 2))}$bytes${old:$((at * 2 + ${#bytes}))}
      [ -n "$item" ] && shown[$item]=$text
    done
    [[ " ${args[*]} " == *" --type "* ]] && args+=(--click 221)
    run ui 1 --project "$q" --no-picture --page "$page" "${args[@]}"
    [ $rc = 0 ] || fail "$name, page $page: $rc $out $last"
    while read -r n v; do
      now=$(grep "^$n " "$f" | cut -d' ' -f2)
      if [ -n "${want[$n]:-}" ]; then
        [ "$now" = "${want[$n]}" ] || fail "$name, page $page: $n holds $now, not ${want[$n]}"
      elif [[ $n != configChange* ]]; then
        [ "$now" = "$v" ] || fail "$name, page $page: $n changed from $v to $now"
      fi
    done <"$dir/before"
    [ ${#shown[@]} = 0 ] && continue
    reads=()
    for item in "${!shown[@]}"; do reads+=(--read "$item"); done
    run ui 1 --project "$q" --no-picture --page "$page" "${reads[@]}"
    # Packed texts come back padded with blanks.
    out=$(printf '%s\n' "$out" | sed 's/ *"$/"/')
    for item in "${!shown[@]}"; do
      echo "$out" | grep -qxF "  item $item: \"${shown[$item]}\"" || fail "$name: page $page shows item $item not as \"${shown[$item]}\": $out"
    done
  done
}
cp "$distinct" "$folder/pages.vkr.device"
upload pages
road pages "${metres[@]}"
cp "$units" "$folder/units.vkr.device"
upload units
road units "${millimetres[@]}"

# ---- The polling address -------------------------------------------------------------------------
# Written, the project follows the transmitter to 7: the next upload, and the page writing it back
# to 0, reach it there.
upload poll
for address in 7 0; do
  run ui 1 --project 'C:\VKR\poll.vkr' --no-picture --page 6 --type "534=$address" --click 221
  [ $rc = 0 ] && echo "$out" | grep -q "data set saved to" || fail "polling address $address: $rc $out $last"
  [ "$(field poll.vkr.device pollingAddress)" = "0$address" ] || fail "the device file holds polling address $(field poll.vkr.device pollingAddress)"
  run upload --project 'C:\VKR\poll.vkr'
  [ $rc = 0 ] || fail "the upload after polling address $address: $last"
done
# A transmitter that is not where the project looks for it: every command says where it looked.
sed -i 's/^pollingAddress .*/pollingAddress 05/' "$folder/poll.vkr.device"
run ui 1 --project 'C:\VKR\poll.vkr' --no-picture --page 6
[ $rc = 1 ] && [ "$last" = "vkr-frame: the user interface could not reach the transmitter: no device answered at polling address 0" ] ||
  fail "ui without its transmitter: $rc $last"
run compare --project 'C:\VKR\poll.vkr'
[ $rc = 1 ] && [ "$last" = "vkr-frame: the device could not be compared: no device answered at polling address 0" ] ||
  fail "compare without its transmitter: $rc $last"

# ---- A command that changed nothing leaves the device file byte for byte -------------------------
# Its lines in another order with CRLF ends, and a file written before the later lines.
tac "$folder/pages.vkr.device" | sed 's/$/\r/' >"$dir/crlf.device"
grep -Ev '^(fixedCurrent|gainTrim|zeroTrim|limitsUnit|[a-z]*SensorLimit|minimumSpan|memory|coldStart|acknowledgedStatus) ' "$folder/plain.vkr.device" >"$dir/older.device"
for file in crlf older; do
  cp "$dir/$file.device" "$folder/pages.vkr.device"
  for command in upload status compare "ui 1 --page 0 --png $dir/look.png"; do
    # shellcheck disable=SC2086
    run $command --project 'C:\VKR\pages.vkr'
    [ $rc = 0 ] || fail "$command on the $file file: $last"
    cmp -s "$folder/pages.vkr.device" "$dir/$file.device" || fail "$command rewrote the $file device file"
  done
done

# ---- The status follows HART -----------------------------------------------------------------------
# A range that leaves the PV above it: the loop current saturates at once, and both say so; the
# level is still within the sensor's limits.
upload status
run ui 1 --project 'C:\VKR\status.vkr' --no-picture --type 544=6 --click 221
echo "$out" | grep -qx "  transmitter: loop current 20.500 mA" || fail "the current did not follow the range: $out"
run status --project 'C:\VKR\status.vkr'
[ "$out" = "$(printf 'device status: warning\ntransmitter: configuration changed, loop current saturated')" ] || fail "status: $out"

# A Master Reset is the run's last request; the transmitter keeps it until each master heard of it
# in its first answer after it: the primary in the next command, the secondary still to come.
upload reset
run ui 1 --project 'C:\VKR\reset.vkr' --no-picture --page 7 --click 608 --answer OK --answer OK --answer OK
[ $rc = 0 ] && echo "$out" | grep -q "^  requests: .* 42#1$" && echo "$out" | grep -qx "  applied: the device written" ||
  fail "the master reset: $rc $out $last"
[ "$(field reset.vkr.device coldStart)" = 01 ] || fail "the reset was not kept: $(field reset.vkr.device coldStart)"
run status --project 'C:\VKR\reset.vkr'
[ $rc = 0 ] && [ "$out" = "$(printf 'device status: ok\ntransmitter: cold start (told once: cleared for this master)')" ] ||
  fail "status after the reset: $out"
[ "$(field reset.vkr.device coldStart)" = 0001 ] || fail "the cold start told: $(field reset.vkr.device coldStart)"
cp "$folder/reset.vkr.device" "$dir/told.device"
run status --project 'C:\VKR\reset.vkr'
[ $rc = 0 ] && [ "$out" = "device status: ok" ] || fail "the cold start told twice: $out"
cmp -s "$folder/reset.vkr.device" "$dir/told.device" || fail "a status that told nothing new rewrote the device file"

# The level above the upper sensor limit (3.0 m), and a current left fixed: command 48's byte 6
# (device variable alert, function check) is status no master acknowledged yet. The fixed current
# is told once, on its own line with its value.
for case in "limit|upperSensorLimit|40400000|more status available, primary variable out of limits" \
  "fixed|fixedCurrent|41400000|more status available"; do
  IFS='|' read -r name line value conditions <<<"$case"
  transmitter "$name" "$line" "$value"
  run ui 1 --project "C:\\VKR\\$name.vkr" --no-picture --page 5 --dump
  echo "$out" | grep -qF 'shown 0 6311 Button enabled "Read Additional Device Status"' || fail "$name: the Status page's button: $out"
  run status --project "C:\\VKR\\$name.vkr"
  echo "$out" | grep -qxF "transmitter: $conditions" && echo "$out" | grep -qx "device status: warning" || fail "$name: status: $out"
  [ "$name" != fixed ] || echo "$out" | grep -qx "transmitter: loop current fixed at 12.000 mA" || fail "$name: status: $out"
done
echo "device file road ok"
