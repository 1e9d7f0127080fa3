#!/usr/bin/env bash
# The offline parameter control on the frame host without a device: every field of the control
# typed to a value of its own, OK, the project saved by the host; a second run reads back what the
# data set kept. Entries the device field cannot hold are refused (the control stays open, nothing
# stored, the user told which and what it holds), and opening the control alone stores nothing.
set -u
host=$1
. "$(dirname "$0")/host_env.sh"
"$host" register >/dev/null || fail "register"
p='C:\VKR\offline.vkr'

# item  typed  kept (as the control shows it when it opens again)
fields=(
  "612|Distance|Distance"
  "613|Feet (ft)|Feet (ft)"
  "614|1.25|1.250"
  "615|12.5|12.500"
  "616|7.5|7.500"
  "617|Velomode|Velomode"
  "618| < 40| < 40"
  "619|Last Known|Last Known"
  "620|42|42"
  "623|10.0|10.0"
  "624|Park 8 mA|Park 8 mA"
  "625|0.333|0.333"
  "626|0.125|0.125"
  "205|TANK7|TANK7"
  "207|NORTH SILO|NORTH SILO"
  "209|KEEP DRY|KEEP DRY"
  "358|17|17"
  "360|9|9"
  "631|2155|2155"
)
args=() reads=()
for f in "${fields[@]}"; do
  IFS='|' read -r id typed kept <<<"$f"
  args+=(--type "$id=$typed") reads+=(--read "$id")
done
out=$("$host" ui 5 --offline --project "$p" --png "$dir/edit.png" "${args[@]}" --click 1 2>&1) || fail "edit: $out"
echo "$out" | grep -q "the user interface closed itself" || fail "OK did not close the control: $out"
echo "$out" | grep -q "data set saved to" || fail "the host did not save the project: $out"
head -c 8 "$dir/edit.png" | od -An -c | grep -q "P   N   G" || fail "no picture of the control"
out=$("$host" show --project "$p") || fail "show: $out"
echo "$out" | grep -q "^data set: validModified" || fail "show after the edit printed: $out"
out=$("$host" ui 5 --offline --project "$p" --no-picture "${reads[@]}" --read 622 2>&1) || fail "reopen: $out"
for f in "${fields[@]}"; do
  IFS='|' read -r id typed kept <<<"$f"
  echo "$out" | grep -qF "item $id: \"$kept\"" || fail "item $id kept \"$(echo "$out" | grep "item $id:")\", not \"$kept\""
done
echo "$out" | grep -qF 'item 622: "ft"' || fail "the unit labels do not follow the unit: $out"
# Opening and closing alone leaves the data set as it was.
echo "$out" | grep -q "data set unchanged" || fail "opening the control changed the data set: $out"

# Entries the device cannot take: OK keeps the control open and the data set keeps its values; the
# host says so and fails.
refused=("615|abc" "623|200" "620|300" "626|9" "631|2100x" "631|1850" "631|2156")
for r in "${refused[@]}"; do
  IFS='|' read -r id typed <<<"$r"
  out=$("$host" ui 5 --offline --project "$p" --no-picture --type "$id=$typed" --click 1 --read "$id" 2>&1) &&
    fail "refused entry $id ended well: $out"
  echo "$out" | tail -1 | grep -qx "vkr-frame: the control is still open with an invalid entry (item $id): it refused OK and applied nothing" ||
    fail "refused entry $id: $out"
  echo "$out" | grep -q "the user interface closed itself" && fail "OK closed the control over $id=$typed: $out"
  echo "$out" | grep -qF "item $id: \"$typed\"" || fail "the entry $id=$typed was not kept for the user: $out"
done
out=$("$host" ui 5 --offline --project "$p" --no-picture --read 615 --read 623 --read 620 --read 626 --read 631 --type 631=2100 --click 102 2>&1) ||
  fail "after the refusals: $out"
for kept in '615: "12.500"' '623: "10.0"' '620: "42"' '626: "0.125"'; do
  echo "$out" | grep -qF "item $kept" || fail "a refused entry reached the data set (wanted $kept): $out"
done
# A year the date's byte holds is stored as typed, never another.
out=$("$host" ui 5 --offline --project "$p" --no-picture --read 631 2>&1) || fail "year: $out"
echo "$out" | grep -qF 'item 631: "2100"' || fail "the year 2100 is not kept as typed: $out"

# Leaving without OK or Apply: Cancel, or the frame closing the control; the typing goes nowhere.
for road in "--click 2" ""; do
  # shellcheck disable=SC2086
  out=$("$host" ui 5 --offline --project "$p" --no-picture --type 615=33.3 --type 205=GONE $road 2>&1) ||
    fail "leaving by \"${road:-the frame}\": $out"
  out=$("$host" ui 5 --offline --project "$p" --no-picture --read 615 --read 205 2>&1) || fail "after leaving: $out"
  echo "$out" | grep -qF 'item 615: "12.500"' && echo "$out" | grep -qF 'item 205: "TANK7"' ||
    fail "leaving by \"${road:-the frame}\" stored the typing: $out"
done
echo "offline parameter road ok"
