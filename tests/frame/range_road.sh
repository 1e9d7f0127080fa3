#!/usr/bin/env bash
# Limits with their unit, a transmitter that refuses what it cannot measure, and values nobody
# touched written back as they were read: the roads a user takes, judged by the device file's
# bytes and by what the host and the pages tell.
set -u
host=$1
. "$(dirname "$0")/host_env.sh"
. "$(dirname "$0")/host_project.sh"
upload plain

# ---- The range values in the transmitter's unit, and what it cannot measure ---------------------
# unit | device file lines | Lower Range Value typed | the lowerRange then | the message line
entries=(
  "cm|pvUnit 30 rangeUnit 30 upperRange 42480000 lowerRange 443B8000|760|443E0000|"
  "mm|pvUnit 31 rangeUnit 31 upperRange 43FA0000 lowerRange 45EA6000|7000|45DAC000|"
  "in|pvUnit 2F rangeUnit 2F upperRange 419D7AF6 lowerRange 4393A347|250|437A0000|"
  "m|pvUnit 2D|60|40F00000|Lower Range Value was not written: the device refused it: 0x09 (lower range value too high)."
)
for entry in "${entries[@]}"; do
  IFS='|' read -r name lines typed want told <<<"$entry"
  # shellcheck disable=SC2086
  transmitter "$name" $lines
  run ui 1 --project "C:\\VKR\\$name.vkr" --no-picture --page 1 --type "397=$typed" --click 221 \
    --read 6333
  [ "$(field "$name.vkr.device" lowerRange)" = "$want" ] || fail "$name: $typed left $(field "$name.vkr.device" lowerRange), not $want: $out"
  echo "$out" | grep -qxF "  item 6333: \"$told\"" || fail "$name: $typed: the message line: $out"
done

# A download of a Hi Level beyond the sensor, edited offline: refused, named, and the transmitter
# holds what the download wrote before it.
transmitter offline pvUnit 2D
run ui 5 --offline --project 'C:\VKR\offline.vkr' --type 615=9 --click 1
run download --project 'C:\VKR\offline.vkr'
[ $rc = 1 ] || fail "download of 9 m: exit $rc: $out"
echo "$last" | grep -qF 'the download failed: "Range Values" was not written: error: device status = 0x40 command response = 0x0B (upper range value too high); the device now holds part of the data set (compare names what differs)' ||
  fail "download of 9 m: $last"
[ "$(field offline.vkr.device upperRange)" = 3F000000 ] || fail "download of 9 m: upperRange $(field offline.vkr.device upperRange)"
# The same through the offline/online control online: OK asks, the DTM downloads, and the control
# tells the refusal, naming the value, and stays open; the run exits 1 and names it last.
transmitter online pvUnit 2D
run ui 5 --project 'C:\VKR\online.vkr' --type 615=9 --click 1 --answer Yes
[ $rc = 1 ] || fail "ui 5 with 9 m: exit $rc: $out"
echo "$out" | grep -qF 'The download did not go through: "Low Level" and "Hi Level" were not written: the device refused them: 0x0B (upper range value too high). The device now holds what the download wrote before it stopped ("Message", ' ||
  fail "ui 5 with 9 m: not told: $out"
echo "$out" | grep -qF '"Damping"), not the changes "Hi Level"; they stay in the data set.' ||
  fail "ui 5 with 9 m: not told what the device holds: $out"
echo "$last" | grep -qF 'the download failed: "Range Values" was not written' || fail "ui 5 with 9 m: the last line: $last"
[ "$(field online.vkr.device upperRange)" = 3F000000 ] || fail "ui 5 with 9 m: upperRange $(field online.vkr.device upperRange)"
# A data set uploaded from a transmitter in a PV unit it cannot be set to: the download names it.
transmitter badunit pvUnit FF
run download --project 'C:\VKR\badunit.vkr'
[ $rc = 1 ] || fail "download of pvUnit FF: exit $rc: $out"
echo "$last" | grep -qF '"PV unit" was not written: error: device status = 0x40 command response = 0x02 (invalid selection)' ||
  fail "download of pvUnit FF: $last"
echo "$last" | grep -qE 'the device (now holds part of the data set|was not changed)' || fail "download of pvUnit FF: $last"

# ---- A value nobody touched goes back as it was read --------------------------------------------
# Inches: Low Level 295.27559 in (4393A347) stays when only Hi Level is sent, on either page.
for page in 1 0; do
  transmitter inches pvUnit 2F rangeUnit 2F upperRange 419D7AF6 lowerRange 4393A347
  item=$([ $page = 1 ] && echo 395 || echo 544)
  run ui 1 --project 'C:\VKR\inches.vkr' --no-picture --page $page --type "$item=30" --click 221
  [ "$(field inches.vkr.device upperRange)" = 41F00000 ] || fail "page $page: Hi Level not written: $out"
  [ "$(field inches.vkr.device lowerRange)" = 4393A347 ] ||
    fail "page $page: the untouched Low Level became $(field inches.vkr.device lowerRange)"
done
echo "range road: ok"
