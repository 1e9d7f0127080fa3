#!/usr/bin/env bash
# Dates typed into the offline parameter control (function 5, online and offline) and the Device
# page, on the frame host with the simulated transmitter: a date of the calendar is written as
# typed (the transmitter's day, month and year bytes in the device file), one that never was (31
# April, 29 February of a year that has none) is refused naming the days its month has, and the
# transmitter stays as it was. A date the transmitter already holds that never was does not keep
# the user's tag from being written, and goes back as it was; changed by the user, it is refused
# and the Send names the tag it did not write for it.
set -u
host=$1
. "$(dirname "$0")/host_env.sh"
. "$(dirname "$0")/host_project.sh"
open_project dates
# The date's three bytes at the end of command 13's record: day, month, year - 1900.
held_date() { line tagDescriptorDate | tail -c 7; }

# The Gregorian calendar, as this test knows it.
leap() { (($1 % 4 == 0 && $1 % 100 != 0 || $1 % 400 == 0)); }
last_day() {
  case $1 in
    2) if leap "$2"; then echo 29; else echo 28; fi ;;
    4 | 6 | 9 | 11) echo 30 ;;
    *) echo 31 ;;
  esac
}

# day month year
dates=(
  "30 2 2026" "28 2 2026" "31 4 2026" "30 4 2026" "31 11 2026" "31 12 2026" "29 2 2023" "29 2 1900"
  "29 2 2100" "29 2 2000" "29 2 2024" "31 1 2155" "31 6 1999" "31 9 2001"
)
runs=0
for row in "${dates[@]}"; do
  read -r d m y <<<"$row"
  last=$(last_day "$m" "$y")
  want=$(printf '%02X%02X%02X' "$d" "$m" $((y - 1900)))
  for ui in f5 f5-offline device; do
    what="$ui $d.$m.$y"
    before=$(cat "$device")
    # Typed in either order: the day before its month and year, or after them.
    if ((runs % 2)); then typing=(--type "358=$d" --type "360=$m"); else typing=(--type "360=$m" --type "358=$d"); fi
    runs=$((runs + 1))
    case $ui in
      f5) out=$("$host" ui 5 --project "$p" --no-picture "${typing[@]}" --type "631=$y" --click 1 --answer Yes 2>&1) ;;
      f5-offline)
        out=$("$host" ui 5 --offline --project 'C:\VKR\offline.vkr' --no-picture "${typing[@]}" --type "631=$y" \
          --click 1 2>&1)
        ;;
      device)
        out=$("$host" ui 1 --page 3 --project "$p" --no-picture "${typing[@]}" --type "364=$y" --click 221 \
          --read 6333 2>&1)
        ;;
    esac
    rc=$?
    if ((d <= last)); then
      [ $rc = 0 ] || fail "$what: a date of the calendar ended with $rc: $out"
      echo "$out" | grep -q "not valid" && fail "$what: a date of the calendar refused: $out"
      if [ $ui = f5-offline ]; then
        kept=$("$host" ui 5 --offline --project 'C:\VKR\offline.vkr' --no-picture --read 358 --read 360 --read 631 2>&1)
        for item in "358: \"$d\"" "360: \"$m\"" "631: \"$y\""; do
          echo "$kept" | grep -qF "item $item" || fail "$what: the data set did not keep $item: $kept"
        done
      else
        [ "$(held_date)" = "$want" ] || fail "$what: the transmitter holds the date $(held_date), not $want"
      fi
    else
      # (The pages' exit status after a refused Send is not this test's to judge.)
      [ $ui = device ] || [ $rc = 1 ] || fail "$what: a date that never was ended with $rc: $out"
      case $ui in
        device) word="Date was not written: its entry is not valid: day 1 to $last." ;;
        *) word="Offline Parameterization: Day was not written: its entry is not valid: 1 to $last." ;;
      esac
      echo "$out" | grep -qF -- "$word" || fail "$what: not refused with \"$word\": $out"
      [ "$(cat "$device")" = "$before" ] || fail "$what: the transmitter changed: $(diff <(echo "$before") "$device")"
    fi
  done
done

# The transmitter holds 30 February 2026, and the project with it.
sed -i 's/^\(tagDescriptorDate .*\)......$/\11E027E/' "$device"
out=$("$host" upload --project "$p" 2>&1) || fail "upload of the impossible date: $out"
# user interface | typed | the tag the transmitter then holds | the words told (empty: none)
held=(
  "device|205=DP1|DP1|"
  "f5|205=F51|F51|"
  "device|205=DP2 364=2025|F51|Date was not written: its entry is not valid: day 1 to 28. Tag was not sent: Date holds an entry that is not valid."
  "f5|205=F52 631=2025|F51|Day was not written: its entry is not valid: 1 to 28. Tag and Year were not sent: Day holds an entry that is not valid."
)
for row in "${held[@]}"; do
  IFS='|' read -r ui typed tag word <<<"$row"
  typing=()
  for t in $typed; do typing+=(--type "$t"); done
  if [ "$ui" = device ]; then
    out=$("$host" ui 1 --page 3 --project "$p" --no-picture "${typing[@]}" --click 221 --read 6333 2>&1)
  else
    out=$("$host" ui 5 --project "$p" --no-picture "${typing[@]}" --click 1 --answer Yes 2>&1)
  fi
  [ "$(line tagDescriptorDate | cut -c1-12)" = "$(packed "$tag" 8)" ] || fail "$ui $typed: the transmitter's tag is not $tag: $out"
  [ "$(held_date)" = 1E027E ] || fail "$ui $typed: the transmitter's date became $(held_date)"
  if [ -z "$word" ]; then
    echo "$out" | grep -qE "not (valid|written|sent)" && fail "$ui $typed: the held date held the tag back: $out"
  else
    echo "$out" | grep -qF -- "$word" || fail "$ui $typed: not told \"$word\": $out"
  fi
done
echo "date entries road: $runs dates typed, ${#held[@]} sends over a date that never was"
