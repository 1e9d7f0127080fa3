#!/usr/bin/env bash
# The Advanced, HART, Diagnostics and Echo pages and the controls of functions 2 to 8 under the
# faults of the requests they send, each command run twice in a row, judged from outside: the
# transmitter's memory (the device file), the project file and `compare`, the host's exit status,
# and what the user was told (each required word once, on the message line, in a message or in a
# field) and never told (a result the device did not give).
set -u
host=$1
. "$(dirname "$0")/host_env.sh"
. "$(dirname "$0")/host_project.sh"

upload plain
transmitter metres pvUnit 2D
# Blanking and offset kept in millimetres (300 mm and 0).
transmitter mm pvUnit 31 limitsUnit 31 upperSensorLimit 43960000 lowerSensorLimit 45FA0000 minimumSpan 42C80000 \
  upperRange 43FA0000 lowerRange 45EA6000 rangeUnit 31 echoSettings 32004396000000000000
# Blanking 12 in.
transmitter inches pvUnit 2F echoSettings 32004140000000000000

# check NAME TRANSMITTER RC DEVICE PROJECT REQUIRED FORBIDDEN -- ARGS...
#   DEVICE: "same", or "LINE=VALUE ..." lines of the device file that must hold VALUE after the run
#   PROJECT: "same" (byte for byte, and `compare` finds the device equal), or "any" (each run then
#   starts from the transmitter as uploaded)
#   REQUIRED, FORBIDDEN: fixed strings separated by "^^": each required one in the run's report
#   exactly once (told once), no forbidden one at all
check() {
  local name=$1 device=$2 want_rc=$3 want_device=$4 want_project=$5 required=$6 forbidden=$7
  shift 8
  local round
  for round in 1 2; do
    # A run that may change the data set starts again from the transmitter as it was; one that must
    # leave it as it was is run again on what the first run left.
    [ "$round" = 1 ] || [ "$want_project" = any ] && cp "$dir/kept/$device.vkr" "$dir/kept/$device.vkr.device" "$folder/"
    run ui "$@" --project "C:\\VKR\\$device.vkr" --no-picture
    local where="$name (run $round): ui $*"
    [ "$rc" = "$want_rc" ] || fail "$where: exit $rc, not $want_rc: $out $last"
    if [ "$want_rc" = 1 ]; then echo "$last" | grep -q "^vkr-frame: " || fail "$where: no reason last: $last"; fi
    if [ "$want_device" = same ]; then
      cmp -s "$folder/$device.vkr.device" "$dir/kept/$device.vkr.device" || fail "$where: the device file changed"
    else
      local pair
      for pair in $want_device; do
        [ "$(field "$device.vkr.device" "${pair%%=*}")" = "${pair#*=}" ] ||
          fail "$where: ${pair%%=*} is $(field "$device.vkr.device" "${pair%%=*}"), not ${pair#*=}"
      done
    fi
    if [ "$want_project" = same ]; then
      cmp -s "$folder/$device.vkr" "$dir/kept/$device.vkr" || fail "$where: the project file changed: $out"
      local compared
      compared=$("$host" compare --project "C:\\VKR\\$device.vkr" 2>&1)
      echo "$compared" | grep -q "the data set equals the device" || fail "$where: compare: $compared"
    fi
    # What the user interfaces told and showed, and the requests they sent (not the host's own
    # words on the run).
    local pattern told
    told=$(echo "$out" | grep -E "^  (told|item|requests):? ")
    IFS=$'\1' read -r -a patterns <<<"${required//^^/$'\1'}"
    for pattern in "${patterns[@]}"; do
      [ -z "$pattern" ] && continue
      [ "$(echo "$told" | grep -cF -- "$pattern")" = 1 ] || fail "$where: not told once: \"$pattern\": $out"
    done
    IFS=$'\1' read -r -a patterns <<<"${forbidden//^^/$'\1'}"
    for pattern in "${patterns[@]}"; do
      [ -z "$pattern" ] && continue
      echo "$told" | grep -qF -- "$pattern" && fail "$where: told \"$pattern\": $out"
    done
  done
}

reason() {
  case $1 in
    silent) echo "the device did not answer" ;;
    busy) echo "the device is busy" ;;
    refused) echo "the request did not reach the device" ;;
    lost) echo "the device's answer was lost" ;;
    linkgone) echo "the connection to the device is lost" ;;
  esac
}
answers=(--answer OK --answer OK --answer OK)

# A self test that did not run shows no result of itself: the results are not opened (no command
# 48 read), nothing says PASSED.
for kind in silent busy refused lost; do
  check "self-test-$kind" metres 1 same same "Self Test failed: $(reason $kind)." "SELF TEST PASSED^^ 48#" \
    -- 1 --page 7 --fault "41=$kind" --click 604 "${answers[@]}"
done
# The self-test results that could not be read say why; no line says PASS.
for kind in silent busy refused lost linkgone; do
  check "self-test-results-$kind" metres 1 same same \
    "item 6354: \"Self test results could not be read: $(reason $kind).\"^^item 296: \"Not read\"" "PASS" \
    -- 8 --fault "48=$kind" --read 6354 --read 296
done
# The HART page's settings without their read: not read, never a choice the device did not give.
check hart-settings-not-read metres 1 same same \
  "item 700: \"Not read\"^^item 534: \"Not read\"^^could not be read: $(reason linkgone)." "\"Disabled\"" \
  -- 1 --page 6 --fault 7=linkgone --read 700 --read 534 --read 6333
# A read that failed and was read again leaves no word that it could not be read, and the run did
# all that was asked.
for fault in 0=busy 7=busy 7=lost; do
  check "hart-read-again-$fault" metres 0 same same "item 6333: \"\"^^item 700: \"Enabled\"" "could not be read" \
    -- 1 --page 6 --fault "$fault" --read 6333 --read 700
done
check advanced-unit-read-again metres 0 same same "item 6333: \"\"^^item 596: \"meters\"" "could not be read" \
  -- 1 --page 4 --fault 1=busy --read 6333 --read 596
# The flag of the Diagnostics page without any answer: not read, not waiting for ever.
check diag-flag-not-read metres 1 same same "item 701: \"Not read\"" "Loading..." -- 1 --page 7 --fault 13=linkgone --read 701
# Offline the settings only a device takes take no typing and say why they are empty.
check hart-offline metres 0 same same "item 534: \"Not connected\"^^item 700: \"Not connected\"" "" \
  -- 1 --offline --page 6 --read 534 --read 700
check advanced-offline metres 0 same same "item 554: \"Not connected\"^^item 555: \"Not connected\"" "" \
  -- 1 --offline --page 4 --read 554 --read 555
# Offline those entries take no typing: the run stops at it and says why last.
for typing in "6 --type 534=5" "4 --type 554=30.0"; do
  # shellcheck disable=SC2086
  run ui 1 --offline --page $typing --project 'C:\VKR\metres.vkr' --no-picture
  [ "$rc" = 1 ] && echo "$last" | grep -q "(it is read-only)$" || fail "offline, page $typing: $out $last"
done
# The probe fault not written says why: the read of its word (131) or its write (134) failed.
for kind in busy refused linkgone; do
  check "probe-fault-write-$kind" metres 1 same same "item 6333: \"Probe Fault was not written: $(reason $kind).\"" \
    "" -- 1 --page 4 --type 562=Enable --fault "134=$kind" --click 221 --read 6333
  check "probe-fault-word-$kind" metres 1 same same "item 6333: \"Probe Fault was not written: $(reason $kind).\"" \
    "" -- 1 --page 4 --type 562=Enable --fault "131#2=$kind" --click 221 --read 6333
done
# Blanking refused by the transmitter (beyond the probe) or not confirmed, in metres and in
# millimetres: the transmitter keeps its settings, the write's failure is told as the write's.
check blanking-refused metres 1 "echoSettings=32003E99999A00000000" any \
  "item 6333: \"Blanking was not written: the device refused it: 0x03 (passed parameter too large).\"" \
  "could not be read" -- 1 --page 4 --type 555=9 --click 221 --read 6333
for kind in busy linkgone; do
  check "blanking-mm-$kind" mm 1 "echoSettings=32004396000000000000" any \
    "item 6333: \"Blanking was not written: $(reason $kind).\"^^item 555: \"500.000\"" "could not be read" \
    -- 1 --page 4 --type 555=500.000 --fault "138=$kind" --click 221 --read 6333 --read 555
done
check blanking-inches inches 0 "echoSettings=320041A0000000000000" any "item 6333: \"\"" "" \
  -- 1 --page 4 --type 555=20.000 --click 221 --read 6333
# The loop current mode not written keeps the transmitter's.
for kind in busy refused; do
  check "hart-mode-$kind" metres 1 "loopCurrentMode=01" any \
    "item 6333: \"Loop Current Mode was not written: $(reason $kind).\"" "" \
    -- 1 --page 6 --type 700=Disabled --fault "6=$kind" --click 221 --read 6333
done
# The echo read that failed: every field not read, told once as the read's failure.
check echo-busy metres 1 same same "Reading the echo data failed: the device is busy^^item 533: \"Not read\"" "" \
  -- 1 --page 9 --fault 131=busy --click 632 --read 533
# The loop test's questions answered No through the host: nothing is fixed.
check loop-test-no metres 1 "fixedCurrent=00000000" same "" "fixed at" \
  -- 1 --page 7 --click 600 --answer No --answer No --click 377
# A level the transmitter did not confirm is told with why; the loop is not fixed.
for kind in busy refused; do
  check "loop-level-$kind" metres 1 "fixedCurrent=00000000" same \
    "4.000 mA ($(reason $kind)): the loop current is not fixed" "Field device output is fixed" \
    -- 4 --fault "40=$kind" --click 377 --click 378
done
# The trend whose link went with its first read does not start, and says so.
check trend-link-gone metres 1 same same \
  "item 407: \"Start\"^^item 6334: \"The trend did not start: the connection to the device is lost.\"" "" \
  -- 2 --fault 3=linkgone --type "703=1 Sec." --click 435 --click 407 --read 407 --read 6334
# Function 5: a download that did not go through names the value the DTM told was not written,
# what it wrote before it stopped, and the changes the transmitter lacks (the Hi Level typed, its
# range not written); refused at its first command, that the transmitter was not changed.
# (The question at the close is answered too: Yes downloads again, and that download's failure is
# told at the close on its own; No keeps the changes in the data set alone.)
f5=(--type 615=1 --click 1 --answer Yes)
check download-refused metres 1 "upperRange=3F000000" any \
  "told: message messageStop buttonsOk Download Parameters: The download did not go through: \"Low Level\" and \"Hi Level\" were not written: the request did not reach the device. The device now holds what the download wrote before it stopped (\"Message\", ^^told at the close: message messageStop buttonsOk Download Parameters: The download did not go through: \"Low Level\" and \"Hi Level\" were not written^^told at the close: message messageQuestion" \
  "Download parameters failed" -- 5 --fault 35=refused --fault 35=refused "${f5[@]}" --answer Yes
for fault in 17=refused 34=refused 138=refused 35=linkgone 35=silent; do
  held="The device now holds what the download wrote before it stopped (\"Message\", ^^not the changes \"Hi Level\"; they stay in the data set."
  [ "$fault" = 17=refused ] && held="The device was not changed: it holds none of the changes (\"Hi Level\"); they stay in the data set."
  check "download-${fault/=/-}" metres 1 "upperRange=3F000000" any "$held" \
    "Download parameters failed^^descriptor" -- 5 --fault "$fault" "${f5[@]}" --answer No
done
check download-part metres 1 "upperRange=3F000000 damping=40200000" any \
  "\"Low Level\" and \"Hi Level\" were not written: the device is busy. The device now holds what the download wrote before it stopped (^^\"Damping\"), not the changes \"Hi Level\"; they stay in the data set." \
  "" -- 5 --fault 35=busy --type 616=2.5 "${f5[@]}" --answer No
# Function 5's current, PV and SV without a value say why.
check f5-values metres 0 same same "item 302: \"Not connected\"^^item 408: \"Not connected\"" "" \
  -- 5 --offline --read 302 --read 408
echo "honest controls road: ok"
