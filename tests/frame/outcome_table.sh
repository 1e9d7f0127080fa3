#!/usr/bin/env bash
# What each engineer's command tells is what happened: one table of command x outcome (confirmed,
# warned, refused, no answer), judged by the exit status, the last line (stdout's, or stderr's
# when the command failed) and the bytes of the project's three files (device file, project,
# record of the comparison): each file changes only for a reason the command gives. Each row runs
# twice from the same files, in every length unit where the unit matters. A download that fails
# names the value that was not written whatever failed: the transmitter's refusal, its silence, an
# answer lost, the link lost, the frame's channel refusing the request, a busy transmitter.
set -u
host=$1
. "$(dirname "$0")/host_env.sh"
. "$(dirname "$0")/host_project.sh"
upload plain

# ---- The default transmitter in each unit, as its own unit change (command 44) leaves it -------
for unit in m ft in cm mm; do device_in_unit "$folder/plain.vkr.device" "$unit" >"$dir/$unit.device"; done
# The exact decimal of the float a device file line holds.
decimal() { python3 -c 'import struct, sys; print(repr(struct.unpack(">f", bytes.fromhex(sys.argv[1]))[0]))' "$1"; }

# ---- How a row's project starts ------------------------------------------------------------------
# fresh: uploaded from the transmitter in the unit; confirmed, warned, refused: then a range edited
# offline that the transmitter takes (1.2 to 6 m), takes with a warning (span 0.05 m, below its
# minimum of 0.1 m) or refuses (Hi Level 0.2 m, beyond its sensor from 0.3 m); moved, between,
# last and far: the transmitter answers at polling address 5, 9, 15 (the last a scan reaches) or 20
# (the device file's hex 14), not where the project looks; back: the project followed its
# transmitter to 7, which went back to 0 on its own.
setup() {
  local how=$1 name=$2 unit=$3 p="C:\\VKR\\$2.vkr"
  rm -f "$folder/$name.vkr" "$folder/$name.vkr.compared"
  cp "$dir/$unit.device" "$folder/$name.vkr.device"
  go upload --project "$p" || return 1
  local edit=()
  case $how in
    confirmed) edit=(--type "614=$(in_unit 6 "$unit")" --type "615=$(in_unit 1.2 "$unit")") ;;
    warned) edit=(--type "614=$(in_unit 1.05 "$unit")" --type "615=$(in_unit 1 "$unit")") ;;
    refused) edit=(--type "615=$(in_unit 0.2 "$unit")") ;;
    moved) setlines "$folder/$name.vkr.device" pollingAddress 05 ;;
    between) setlines "$folder/$name.vkr.device" pollingAddress 09 ;;
    last) setlines "$folder/$name.vkr.device" pollingAddress 0F ;;
    far) setlines "$folder/$name.vkr.device" pollingAddress 14 ;;
    back)
      go ui 1 --project "$p" --no-picture --page 6 --type 534=7 --click 221 || return 1
      setlines "$folder/$name.vkr.device" pollingAddress 00
      ;;
  esac
  if [ ${#edit[@]} -gt 0 ]; then
    go ui 5 --offline --project "$p" --no-picture "${edit[@]}" --click 1 --answer No || return 1
  fi
  for f in "$name.vkr" "$name.vkr.device" "$name.vkr.compared"; do cp "$folder/$f" "$dir/$f.before"; done
}
# Runs the host in the unit's own files: rc, out, last (the last line the command ends with).
go() {
  out=$("$host" "$@" 2>"$dir/err-$unit")
  rc=$?
  if [ $rc = 0 ]; then last=$(printf '%s\n' "$out" | tail -n 1); else last=$(tail -n 1 "$dir/err-$unit"); fi
  return $rc
}

# ---- The table ---------------------------------------------------------------------------------
# units (all: the five) # setup # command ({WLO} {WHI}: the warned range, {BAD}: the refused Hi
# Level, {EDGE}: the upper sensor limit with all its digits) # exit # the last line (a regular
# expression) # a text the output holds # what it must not hold (a regular expression) # the
# device file # the project # the record (same, changed, or the verdict it holds) # a check after
rows=(
  'all#confirmed#download#0#^downloaded; read back: the device holds the data set$###changed#changed#equal#'
  'all#warned#download#0#^downloaded, the device warns as above; read back: the device holds the data set$#"Range Values" was written; the device warns: 0x0E (span too small, the device'"'"'s accuracy may be impaired)#failed#changed#changed#equal#warned'
  'all#refused#download#1#^vkr-frame: the download failed: "Range Values" was not written: error: device status = 0x[0-9A-F]{2} command response = 0x0C \(upper range value too low\); the device now holds part of the data set \(compare names what differs\)$###changed#same#none#kept'
  'all#moved#download#1#^vkr-frame: the DTM refused the download: no device answered at polling address 0$###same#same#same#'
  'all#fresh#ui 5 --type 614={WLO} --type 615={WHI} --click 1 --answer Yes#0#^  applied: the data set saved and the device written$#The download went through: "Low Level" and "Hi Level" were written; the device warns: 0x0E#did not go through|told at the close#changed#changed#none#warned'
  'all#fresh#ui 1 --page 1 --type 395={WHI} --type 397={WLO} --click 221 --read 6333#0#^  applied: the data set saved and the device written$#Upper Range Value and Lower Range Value were written; the device warns: 0x0E#not written#changed#changed#none#warned'
  'all#fresh#ui 1 --page 1 --type 395={EDGE} --click 221 --read 6333#0#^  applied: the data set saved and the device written$#item 6333: ""##changed#changed#none#edge'
  'm#fresh#ui 1 --page 1 --type 395=1.0004 --click 221#0#^  applied: the data set saved and the device written$###changed#changed#none#digits'
  'm#fresh#ui 5 --type 614={WLO} --type 615={WHI} --click 1 --answer Cancel --answer Yes#0#^  applied: the data set saved and the device written$#  "Range Values" was written; the device warns: 0x0E#did not go through|failed#changed#changed#none#warned'
  'm#fresh#ui 5 --type 615={BAD} --click 1 --answer Yes#1#^vkr-frame: the download failed: "Range Values" was not written: #The download did not go through: "Low Level" and "Hi Level" were not written#went through#changed#changed#none#kept'
  'm#fresh#ui 5 --fault 35=refused --type 615={WHI} --click 1 --answer Yes#1#^vkr-frame: the download failed: "Range Values" was not written: #The download did not go through: "Low Level" and "Hi Level" were not written: #went through#changed#changed#none#kept'
  'm#fresh#ui 5 --fault 35=silent --type 615={WHI} --click 1 --answer Yes#1#^vkr-frame: the download failed: "Range Values" was not written: #The download did not go through: "Low Level" and "Hi Level" were not written: #went through#changed#changed#none#kept'
  'm#fresh#ui 5 --fault 35=lost --type 615={WHI} --click 1 --answer Yes#1#^vkr-frame: the download failed: "Range Values" was not written: #The download did not go through: "Low Level" and "Hi Level" were not written: #went through#changed#changed#none#kept'
  'm#fresh#ui 5 --fault 35=linkgone --type 615={WHI} --click 1 --answer Yes#1#^vkr-frame: the download failed: "Range Values" was not written: #The download did not go through: "Low Level" and "Hi Level" were not written: #went through#changed#changed#none#kept'
  'm#fresh#ui 5 --fault 35=busy --type 615={WHI} --click 1 --answer Yes#1#^vkr-frame: the download failed: "Range Values" was not written: #The download did not go through: "Low Level" and "Hi Level" were not written: #went through#changed#changed#none#kept'
  'm#moved#ui 1 --page 0#1#^vkr-frame: the user interface could not reach the transmitter: no device answered at polling address 0$###same#same#same#'
  'm#fresh#ui 1 --page 6 --type 534=16 --click 221 --read 6333#1#^vkr-frame: page 6 refused its Send: Polling Address was not written: its entry is not valid: 0 to 15\.$#item 6333: "Polling Address was not written: its entry is not valid: 0 to 15."##same#same#same#'
  'm#fresh#upload#0#^uploaded; data set saved to C:\\VKR\\.*\.vkr$##found the transmitter#same#same#uploaded#'
  'm#moved#upload#0#^uploaded; data set saved to C:\\VKR\\.*\.vkr$#found the transmitter at polling address 5##same#changed#uploaded#'
  'm#between#upload#0#^uploaded; data set saved to C:\\VKR\\.*\.vkr$#found the transmitter at polling address 9##same#changed#uploaded#'
  'm#last#upload#0#^uploaded; data set saved to C:\\VKR\\.*\.vkr$#found the transmitter at polling address 15##same#changed#uploaded#'
  'm#back#upload#0#^uploaded; data set saved to C:\\VKR\\.*\.vkr$#found the transmitter at polling address 0##same#changed#uploaded#'
  'm#far#upload#1#^vkr-frame: nothing was done: no device answered at any polling address from 0 to 15$###same#same#same#'
  'm#fresh#compare#0#^the data set equals the device$###same#same#equal#'
  'm#confirmed#compare#0#^Compare: "Range Values" \(1023\) differs from the device$#the data set differs from the device##same#same#notEqual#'
  'm#moved#compare#1#^vkr-frame: the device could not be compared: no device answered at polling address 0$###same#same#same#'
  'm#fresh#status#0#^device status: ok$###same#same#same#'
  'm#moved#status#1#^vkr-frame: the device status could not be read: no device answered at polling address 0$###same#same#same#'
  'm#fresh#show#0#^the DTM'"'"'s parameter document exports no parameter but the tag$###same#same#same#'
  'm#fresh#set Tag=X#1#^vkr-frame: the DTM took Tag=X but its data set does not keep it###same#same#same#'
)

# Whether the file holds what the row says: same, changed, or the record's verdict.
holds() {
  local file=$1 want=$2
  case $want in
    same) cmp -s "$folder/$file" "$dir/$file.before" ;;
    changed) ! cmp -s "$folder/$file" "$dir/$file.before" ;;
    *) [ "$(head -n 1 "$folder/$file")" = "verdict $want" ] ;;
  esac
}
# The checks after a row, on the device file: the range the transmitter took with its warning,
# the range it refused left as it was, a typed number written with every digit.
after() {
  local check=$1 name=$2 unit=$3 d="$2.vkr.device"
  case $check in
    warned) [ "$(field "$d" upperRange)" != "$(grep '^upperRange ' "$dir/$d.before" | cut -d' ' -f2)" ] ;;
    kept) [ "$(field "$d" upperRange)" = "$(grep '^upperRange ' "$dir/$d.before" | cut -d' ' -f2)" ] ;;
    edge) [ "$(field "$d" upperRange)" = "$(field "$d" upperSensorLimit)" ] ;;
    digits) [ "$(field "$d" upperRange)" = 3F800D1B ] ;;
    *) true ;;
  esac
}

table() {
  local unit=$1 n=0
  for row in "${rows[@]}"; do
    IFS='#' read -r units how command code lastRe holds lacks device project record check <<<"$row"
    [ "$units" = all ] || [ "$units" = "$unit" ] || continue
    n=$((n + 1))
    local name="row$n-$unit" edge
    setup "$how" "$name" "$unit" || { echo "$unit row $n: setup $how: $out $last"; return 1; }
    edge=$(decimal "$(field "$name.vkr.device" upperSensorLimit)")
    command=${command//\{WLO\}/$(in_unit 1.05 "$unit")}
    command=${command//\{WHI\}/$(in_unit 1 "$unit")}
    command=${command//\{BAD\}/$(in_unit 0.2 "$unit")}
    command=${command//\{EDGE\}/$edge}
    local args
    read -ra args <<<"$command"
    [ "${args[0]}" = ui ] && args+=(--no-picture)
    for time in first second; do
      for f in "$name.vkr" "$name.vkr.device" "$name.vkr.compared"; do cp "$dir/$f.before" "$folder/$f"; done
      local where="$unit, $how, $command ($time run)"
      go "${args[@]}" --project "C:\\VKR\\$name.vkr"
      [ "$rc" = "$code" ] || { echo "$where: exit $rc: $out $last"; return 1; }
      [[ $last =~ $lastRe ]] || { echo "$where: the last line: $last"; return 1; }
      [ -z "$holds" ] || printf '%s\n' "$out" | grep -qF -- "$holds" || { echo "$where: not told \"$holds\": $out"; return 1; }
      [ -z "$lacks" ] || ! printf '%s\n' "$out" | grep -qE -- "$lacks" || { echo "$where: told /$lacks/: $out"; return 1; }
      holds "$name.vkr.device" "$device" || { echo "$where: the device file is not $device: $(diff "$dir/$name.vkr.device.before" "$folder/$name.vkr.device")"; return 1; }
      holds "$name.vkr" "$project" || { echo "$where: the project is not $project"; return 1; }
      holds "$name.vkr.compared" "$record" || { echo "$where: the record is not $record: $(head -n 1 "$folder/$name.vkr.compared")"; return 1; }
      after "$check" "$name" "$unit" || { echo "$where: the device file fails the check $check: $(cat "$folder/$name.vkr.device")"; return 1; }
    done
  done
}

# The units run side by side, each on projects of its own.
for unit in m ft in cm mm; do
  (table "$unit" >"$dir/result-$unit" 2>&1 || echo "FAILED" >>"$dir/result-$unit") &
done
wait
for unit in m ft in cm mm; do
  grep -q FAILED "$dir/result-$unit" && fail "$(cat "$dir/result-$unit")"
done
echo "outcome table ok"
