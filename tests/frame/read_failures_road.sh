#!/usr/bin/env bash
# A read of the Device page failing, on the frame host online to the simulated transmitter: the page
# shown after another page, or read again by Refresh. Every field the failure left without the
# device's value says "Not read" with no mark of a value on its way, each such field is named on the
# message line by its label with the reason, and no field keeps an earlier answer as if read again.
set -u
host=$1
. "$(dirname "$0")/host_env.sh"
. "$(dirname "$0")/host_project.sh"
open_project reads

# The Device page's fields by the labels the user sees beside them.
declare -A label=(
  [205]="Tag" [307]="Long Tag" [357]="Descriptor" [299]="Message" [358]="Date" [360]="Date" [364]="Date"
  [359]="Final Assemply Number" [365]="Write Protect" [366]="Private Label Distributor"
  [367]="Sensor Serial No." [361]="Upper Sensor Limit" [362]="Lower Sensor Limit" [363]="Minimum Span"
)
# The reasons, as HART and the channel give them.
lost="the connection to the device is lost"
notTaken="the request did not reach the device"
busy="the device is busy"

# steps | fault | the fields that say "Not read" | the reason told
rows=(
  "--page 0 --page 3|15#3=linkgone|307|$lost"
  "--page 0 --page 3|15#3=refused|307|$notTaken"
  "--page 0 --page 3|14#3=refused|307|$notTaken"
  "--page 3 --click 356|14#2=busy|367 361 362 363|$busy"
  "--page 3 --click 356|15#2=busy|365 366|$busy"
  "--page 3 --click 356|20#2=busy|307|$busy"
)
for row in "${rows[@]}"; do
  IFS='|' read -r steps fault unread why <<<"$row"
  what="$steps --fault $fault"
  # shellcheck disable=SC2086
  out=$("$host" ui 1 --project "$p" --no-picture $steps --fault "$fault" --dump --read 6333 2>&1)
  line=$(item 6333)
  names=()
  for id in "${!label[@]}"; do
    shown=$(echo "$out" | grep -E "^  shown 0 $id (Edit|Static)" | tail -1)
    if [[ " $unread " == *" $id "* ]]; then
      [[ "$shown" == *'"Not read"' ]] || fail "$what: field $id (${label[$id]}) is not \"Not read\": $shown"
      [[ "$shown" != *mark=* || "$shown" == *mark=664* ]] || fail "$what: field $id says \"Not read\" with a mark: $shown"
      names+=("${label[$id]}")
    else
      [[ "$shown" != *'"Not read"'* ]] || fail "$what: field $id (${label[$id]}) says \"Not read\": $shown"
    fi
  done
  [[ "$line" == *" could not be read: $why." ]] || fail "$what: the message line does not say why: $line"
  # "A, B and C could not be read: ...": each field that says "Not read" named once, none other.
  named=$(echo "${line% could not be read: *}" | sed 's/, /\n/g; s/ and /\n/g' | sort)
  wanted=$(printf '%s\n' "${names[@]}" | sort -u)
  [ "$named" = "$wanted" ] || fail "$what: the message line names \"$(echo $named)\", not \"$(echo $wanted)\": $line"
  echo "$out" | grep -q "the user interface told nothing of it" && fail "$what: the host says nothing was told: $out"
done
echo "read failures road: ${#rows[@]} failures"
