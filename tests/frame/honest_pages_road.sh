#!/usr/bin/env bash
# The Command, Process/Output, Values, Device and Status pages and their frame when a request
# fails, judged from outside: the transmitter's bytes (the device file), the project file and
# `compare`, what each field shows against what a healthy run shows (the device's values) and
# what the message line says. Every run starts from the same files, and the runs that judge a
# failure run twice: the second must end as the first.
#
# With SHARD/SHARDS (e.g. 2/6) it runs every SHARDS-th of its cases from the SHARD-th on (each on
# the same files, after the same healthy runs), so that shards run side by side.
set -u
host=$1
shard=${2:-0/1}
shards=${shard#*/}
shard=${shard%/*}
case=-1
# Two of the five ways a request fails, another two for each request in turn (the sweep fails
# every request of these pages in every way; here each way still meets each kind of request).
ways=(busy refused silent lost linkgone)
turn=0
two_ways() {
  turn=$((turn + 1))
  echo "${ways[$((turn % 5))]} ${ways[$(((turn + 2) % 5))]}"
}
# Whether the next case is this shard's.
mine() {
  case=$((case + 1))
  [ $((case % shards)) = "$shard" ]
}
. "$(dirname "$0")/host_env.sh"
. "$(dirname "$0")/host_project.sh"
restore() { for f in "$1.vkr" "$1.vkr.device"; do cp "$dir/kept/$f" "$folder/$f"; done; }
same() { cmp -s "$folder/$1" "$dir/kept/$1"; }
equal() {
  local c
  c=$("$host" compare --project "C:\\VKR\\$1.vkr" 2>/dev/null | grep -v '^compare:\|^transmitter:')
  [ "$c" = "the data set equals the device" ]
}
# ui 1 on transmitter NAME from its kept files, with the items of ITEMS read at the end.
look() {
  local name=$1 items=$2
  shift 2
  restore "$name"
  local reads=()
  for i in $items 6333 688 659 583; do reads+=(--read "$i"); done
  run ui 1 --project "C:\\VKR\\$name.vkr" --no-picture "$@" "${reads[@]}"
}
upload plain

# The fields of each page and the frame's, as a healthy run shows the default transmitter's values.
declare -A fields=([0]="383 381 545 544 542 385 388 391 448" [1]="302 381 392 393 395 397 399 401"
                   [2]="408 394 396 398 400" [3]="205 307 357 299 358 360 364 365 359 367 361 362 363"
                   [5]="6375")
declare -A healthy
transmitter metres pvUnit 2D
for page in 0 1 2 3 5; do
  look metres "${fields[$page]}" --page "$page"
  [ $rc = 0 ] || fail "page $page, healthy: $last"
  for i in ${fields[$page]} 688 659 583; do healthy[$page.$i]=$(item "$i"); done
  [ -z "$(item 6333)" ] || fail "page $page, healthy: the message line says $(item 6333)"
done

# ---- A read that fails: nothing invented, nothing written, told --------------------------------
# Each request a page's look sends, failing in each way, then Send with nothing typed: every field
# shows the device's value (as the healthy run) or says why it has none ("Not read"), nothing is
# left waiting, the message line says what could not be read, and neither the transmitter nor the
# project changes, nor does compare find a difference.
# page | faults (COMMAND[#N]) | clicks after the look
reads=(
  "0|131 14 13 15 135 1#2 2|--click 578 --click 221"
  "1|15 1#2 2|--click 221"
  "2|3|"
  "3|12 16 13#2 15 14 20|--click 221"
  "5|48|--click 335"
)
for row in "${reads[@]}"; do
  IFS='|' read -r page faults clicks <<<"$row"
  for fault in $faults; do
    for kind in $(two_ways); do
      mine || continue
      first=""
      # A look, twice, then the look with the page's clicks.
      for round in 1 2 3; do
        act=""
        [ $round = 3 ] && act=$clicks
        # shellcheck disable=SC2086
        look metres "${fields[$page]}" --page "$page" --fault "$fault=$kind" $act
        what="page $page, $fault=$kind, run $round $act"
        same metres.vkr || fail "$what: the project changed: $out"
        same metres.vkr.device || fail "$what: the transmitter changed: $out"
        equal metres || fail "$what: compare finds a difference"
        judged=""
        for i in ${fields[$page]} 688 659 583; do
          shown=$(item "$i")
          # The reading's unit says nothing beside a reading not read.
          [ "$i" = 659 ] && [ "$(item 688)" = "Not read" ] && [ -z "$shown" ] && shown="Not read"
          [ "$shown" = "${healthy[$page.$i]}" ] || [ "$shown" = "Not read" ] ||
            fail "$what: item $i shows \"$shown\", neither the device's \"${healthy[$page.$i]}\" nor Not read: $out"
          judged="$judged $i=$shown"
        done
        # A field that says it was not read has its reason on the message line.
        if echo "$judged" | grep -q "=Not read"; then
          item 6333 | grep -q "could not be read: " || fail "$what: fields not read, nothing told: $out"
        fi
        [ $round = 2 ] && { [ "$first" = "$judged" ] || fail "$what: the second run ended otherwise:$judged /$first"; }
        first=$judged
      done
    done
  done
done

# ---- A write that fails: told as the write's, the files as they were, the entry kept ------------
# Then, in a run of its own, the user gives the entry up (Refresh) and writes another value: the
# project saved then holds nothing of the failed write (compare finds no difference) and the
# transmitter nothing either.
# transmitter | page | what is typed | the write's command | the name the message line gives |
# the device file's line of the write | the other value written afterwards
writes=(
  "metres|0|--type 542=2|34|Damping|damping|--type 545=7"
  "metres|0|--type 448=5|136|Fail Time|displaySettings|--type 542=2"
  "metres|0|--type 544=0.6|35|Hi Level|upperRange|--type 542=2"
  "metres|1|--type 399=2|34|Damping|damping|--type 397=7"
  "metres|1|--type 395=1 --type 397=7.500|35|Upper Range Value|upperRange|--type 399=2"
  "metres|3|--type 205=NEWTAG|18|Tag|tagDescriptorDate|--type 299=HELLO"
  "mm|1|--type 397=7000|35|Lower Range Value|lowerRange|--type 399=2"
)
transmitter mm pvUnit 31 rangeUnit 31 upperRange 43FA0000 lowerRange 45EA6000
for row in "${writes[@]}"; do
  IFS='|' read -r name page typing command label line then <<<"$row"
  held=$(grep "^$line " "$dir/kept/$name.vkr.device" | cut -d' ' -f2)
  for kind in $(two_ways); do
    mine || continue
    for round in 1 2; do
      what="$name page $page $typing, $command=$kind, run $round"
      # shellcheck disable=SC2086
      look "$name" "$(echo "$typing" | grep -o '[0-9]*=' | tr -d '=')" --page "$page" --fault "$command=$kind" \
        --click 578 $typing --click 221
      [ $rc = 1 ] || fail "$what: exit $rc"
      same "$name.vkr" || fail "$what: the project changed: $out"
      same "$name.vkr.device" || fail "$what: the transmitter changed: $out"
      equal "$name" || fail "$what: compare finds a difference"
      case "$(item 6333)" in
        "$label"*" not written: "*) ;;
        *) fail "$what: the message line: $(item 6333)" ;;
      esac
      for typed in $typing; do
        [ "$typed" = --type ] && continue
        [ "$(item "${typed%%=*}")" = "${typed#*=}" ] || fail "$what: item ${typed%%=*} lost what was typed: $out"
      done
    done
    [ "$kind" = linkgone ] && continue
    # shellcheck disable=SC2086
    look "$name" "" --page "$page" --fault "$command=$kind" --click 578 $typing --click 221 --click 356 $then --click 221
    what="$name page $page $typing, $command=$kind, then $then"
    same "$name.vkr" && fail "$what: the other value was not saved: $out"
    [ "$(field "$name.vkr.device" "$line")" = "$held" ] || fail "$what: the transmitter took the failed write: $out"
    equal "$name" || fail "$what: the project keeps what the transmitter does not hold"
  done
  # Without the fault it is written, and the project keeps what the transmitter took.
  mine || continue
  # shellcheck disable=SC2086
  look "$name" "" --page "$page" --click 578 $typing --click 221
  [ $rc = 0 ] || fail "$name $typing: $last"
  same "$name.vkr.device" && fail "$name $typing: nothing reached the transmitter: $out"
  same "$name.vkr" && fail "$name $typing: the project did not keep it: $out"
  equal "$name" || fail "$name $typing: compare finds a difference"
done

# ---- What the user typed is written, or refused with a word ---------------------------------------
# Both range values typed on the Process page, the lower one as shown: the pair goes out as typed.
# transmitter | typed | upperRange | lowerRange
pairs=(
  "metres|--type 395=1 --type 397=7.500|3F800000|40F00000"
  "feet|--type 395=1 --type 397=7.500|3F800000|40F00000"
)
transmitter feet pvUnit 2C rangeUnit 2C upperRange 3FC00000 lowerRange 41C40000
for row in "${pairs[@]}"; do
  mine || continue
  IFS='|' read -r name typing upper lower <<<"$row"
  # shellcheck disable=SC2086
  look "$name" "395 397" --page 1 $typing --click 221
  [ $rc = 0 ] || fail "$name $typing: $last"
  [ "$(field "$name.vkr.device" upperRange) $(field "$name.vkr.device" lowerRange)" = "$upper $lower" ] ||
    fail "$name $typing: the transmitter holds $(field "$name.vkr.device" upperRange) $(field "$name.vkr.device" lowerRange): $out"
done
# A level the range rules move is written where they moved it, and the message line says where to
# and why; an entry refused as not valid names its limits in the unit shown.
if mine; then
  look metres "544" --click 578 --type 544=20 --click 221
  [ "$(field metres.vkr.device upperRange)" = 40ECCCCD ] || fail "Hi Level 20: $(field metres.vkr.device upperRange)"
  [ "$(item 6333)" = "Hi Level was set to 7.400 m, the minimum span of 0.100 m from Low Level." ] || fail "Hi Level 20: $out"
fi
if mine; then
  look mm "395" --page 1 --type 395=70000 --click 221
  same mm.vkr.device || fail "70000 mm was written: $out"
  [ "$(item 6333)" = "Upper Range Value was not written: its entry is not valid: 0 to 66000 mm." ] || fail "70000 mm: $out"
fi

# ---- Offline: only the device takes these entries ------------------------------------------------
# page | entry | what is typed
offline=(
  "1|395|1" "1|399|3" "3|205|NEWTAG" "3|307|LONG" "3|299|MSG" "3|357|DESC" "3|358|2" "3|359|77" "0|544|1" "0|448|5"
)
for row in "${offline[@]}"; do
  mine || continue
  IFS='|' read -r page entry text <<<"$row"
  # The typing stops there: the entry takes none, and the run says so last.
  look metres "$entry" --offline --page "$page" --type "$entry=$text"
  [ $rc = 1 ] && echo "$last" | grep -q "no item $entry that takes .*(it is \(read-only\|greyed\))" ||
    fail "offline, $entry took \"$text\": $out"
  same metres.vkr || fail "offline, $entry: the project changed"
  look metres "$entry" --offline --page "$page"
  case "$(item "$entry")" in "Not connected" | "--") ;; *) fail "offline, $entry shows $(item "$entry")" ;; esac
done
# The unit combo offline does not open.
if mine; then
  look metres "381" --offline --page 1 --type "381=Feet (ft)"
  [ $rc = 1 ] && echo "$last" | grep -q "greyed" || fail "offline, the unit combo took a unit: $out"
fi
[ "$case" -ge "$shard" ] || fail "shard $shard/$shards has no case"
echo "ok: $(((case - shard) / shards + 1)) of $((case + 1)) cases"
