#!/usr/bin/env bash
# One file, one role. Every pair of roles a command gives its files (the project, its device file,
# its record, --with, --png, and the new files written beside each) put on one file, named as it
# is, in other capitals, through a link and through a second (hard) name, is a wrong command line:
# exit 2 at once (no command waits for a lock it holds itself), naming both, and no file changes.
# Then the rows of one table: a damaged record through show, each failure's own reason, the
# numbers and paths of the command line, and the roads the earlier tests left open.
set -u
host=$1
faults=$2  # preloaded: VKR_TEST_FAULT, VKR_TEST_READ_ONLY and VKR_TEST_FSYNC_FAILS
. "$(dirname "$0")/host_env.sh"
. "$(dirname "$0")/host_project.sh"
preload=(LD_PRELOAD="$faults" ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0")
problems=0
problem() {
  echo "$*"
  problems=$((problems + 1))
}
upload plain
run compare --project 'C:\VKR\plain.vkr'
[ $rc = 0 ] || fail "the first compare: $last"
# Every file below the drive root, with its kind, size and bytes: what a row may not change.
state() {
  (cd "$VKR_DRIVE_ROOT" && find . -printf '%p %y %s\n' | sort && find . -type f -exec md5sum {} + | sort)
}

# ---- One role per file ------------------------------------------------------------------------
# named FORM FILE N: the Windows path a row gives for FILE of the folder: its own name, in capitals,
# a link to it, or a second name of it (not for a file that is not there).
named() {
  case $1 in
    same) echo "C:\\VKR\\$2" ;;
    case) echo "C:\\VKR\\${2^^}" ;;
    link) ln -sfn "$2" "$folder/link-$3" && echo "C:\\VKR\\link-$3" ;;
    hard) [ -e "$folder/$2" ] && ln -f "$folder/$2" "$folder/hard-$3" && echo "C:\\VKR\\hard-$3" ;;
  esac
}
# The rows: COMMAND | OPTION | FILE (in the folder) | the two roles the refusal names.
roles=()
for command in upload download compare status show set; do
  roles+=("$command|--device|plain.vkr|--project C:\\VKR\\plain.vkr|--device"
    "$command|--device|plain.vkr.compared|--device|the record of --project (C:\\VKR\\plain.vkr.compared)"
    "$command|--device|plain.vkr.new.{0}|--device|the new files of --project C:\\VKR\\plain.vkr")
done
roles+=("compare|--with|plain.vkr|--project C:\\VKR\\plain.vkr|--with"
  "compare|--with|plain.vkr.compared|--with|the record of --project (C:\\VKR\\plain.vkr.compared)"
  "compare|--with|plain.vkr.device|--with|the device file of --project (C:\\VKR\\plain.vkr.device)"
  "ui|--device|plain.vkr.compared|--device|the record of --project (C:\\VKR\\plain.vkr.compared)"
  "ui|--device|plain.vkr|--project C:\\VKR\\plain.vkr|--device")
tried=0
n=0
for row in "${roles[@]}"; do
  IFS='|' read -r command option file one other <<<"$row"
  for form in same case link hard; do
    n=$((n + 1))
    given=$(named "$form" "$file" "$n") || continue
    extra=()
    [ "$command" = set ] && extra=(Tag=ROLES)
    [ "$command" = ui ] && extra=(1 --page 1 --type 399=7 --click 221 --png "$dir/roles.png")
    before=$(state)
    out=$(timeout 30 "$host" "$command" --project 'C:\VKR\plain.vkr' "$option" "$given" "${extra[@]}" 2>&1)
    code=$?
    first=$(printf '%s\n' "$out" | head -n 1)
    tried=$((tried + 1))
    [ $code = 2 ] && [[ $first == *"$one"* ]] && [[ $first == *"$other"* ]] ||
      problem "$command $option $given ($form): exit $code: $first"
    [ "$(state)" = "$before" ] || problem "$command $option $given ($form) changed a file"
    rm -f "$folder/link-$n" "$folder/hard-$n"
  done
done
# A picture over the project (a path of the machine): by its path, through a link, a second name.
for form in same link hard; do
  case $form in
    same) picture=$folder/plain.vkr ;;
    link) ln -sfn plain.vkr "$folder/picture-link" && picture=$folder/picture-link ;;
    hard) ln -f "$folder/plain.vkr" "$folder/picture-hard" && picture=$folder/picture-hard ;;
  esac
  before=$(state)
  out=$(timeout 30 "$host" ui 5 --offline --project 'C:\VKR\plain.vkr' --png "$picture" 2>&1)
  code=$?
  tried=$((tried + 1))
  [ $code = 2 ] && [[ $(printf '%s\n' "$out" | head -n 1) == *"--project C:\\VKR\\plain.vkr and --png $picture"* ]] ||
    problem "ui --png over the project ($form): exit $code: $(printf '%s\n' "$out" | head -n 1)"
  [ "$(state)" = "$before" ] || problem "ui --png over the project ($form) changed a file"
  rm -f "$folder/picture-link" "$folder/picture-hard"
done
[ $tried = 89 ] || problem "the roles table ran $tried rows, not 89"

# ---- The table of single rows -----------------------------------------------------------------
# A project of its own for a row: plain's files copied to NAME.
project() { for f in vkr vkr.device vkr.compared; do cp "$folder/plain.$f" "$folder/$1.$f"; done; }
project rec
cp "$folder/rec.vkr.compared" "$dir/rec.record"
# The record damaged: show names it, takes it as not compared, and shows no finding. (Every cut
# and byte of a record is in the unit test of the record's check; these go through the frame.)
damaged="the record C:\\VKR\\rec.vkr.compared is damaged; taken as not compared"
unchecked="the record C:\\VKR\\rec.vkr.compared has no check (one an earlier version wrote, or one cut short); taken as not compared"
for what in "cut to 31 bytes" "a hex digit of the value changed" "the verdict word changed" "a line appended" \
  "the check line taken off" "nothing left"; do
  line=$damaged
  case $what in
    cut*) head -c 31 "$dir/rec.record" ;;
    "a hex digit"*) sed 's/564B/564C/' "$dir/rec.record" ;;
    "the verdict"*) sed 's/^verdict equal$/verdict equak/' "$dir/rec.record" ;;
    "a line"*) cat "$dir/rec.record" && echo "value 00 00" ;;
    "the check"*) head -n -1 "$dir/rec.record" && line=$unchecked ;;
    nothing*) : ;;
  esac >"$folder/rec.vkr.compared"
  cmp -s "$folder/rec.vkr.compared" "$dir/rec.record" && problem "the record with $what is the whole record"
  run show --project 'C:\VKR\rec.vkr'
  [ $rc = 0 ] && printf '%s\n' "$out" | grep -qxF "$line" &&
    printf '%s\n' "$out" | grep -qx "device: not compared yet (upload, download or compare first)" &&
    printf '%s\n' "$out" | grep -q "^Tag  .* ?$" || problem "show on a record with $what: $rc $out"
done
cp "$dir/rec.record" "$folder/rec.vkr.compared"
run show --project 'C:\VKR\rec.vkr'
printf '%s\n' "$out" | grep -q "^Tag  .* no$" && printf '%s\n' "$out" | grep -qx "device: as the last comparison found it" ||
  problem "show on the whole record: $out"

# Each failure's own reason. A link inside the drive root to a file that is not there:
ln -s ../real/p.vkr "$folder/dangling.vkr"
for command in upload show; do
  run "$command" --project 'C:\VKR\dangling.vkr'
  [ $rc = 1 ] && [ "$last" = "vkr-frame: the file C:\\VKR\\dangling.vkr is a link to $(cd "$VKR_DRIVE_ROOT/c" && pwd -P)/real/p.vkr, where there is no file (the link's target is missing); nothing was changed" ] ||
    problem "$command through a link to nothing: $rc $last"
  [ -e "$VKR_DRIVE_ROOT/c/real" ] && problem "$command through a link to nothing made its folder"
done
project dangrec
rm "$folder/dangrec.vkr.compared"
ln -s gone.compared "$folder/dangrec.vkr.compared"
run compare --project 'C:\VKR\dangrec.vkr'
[ $rc = 1 ] && [[ $last == *"C:\\VKR\\dangrec.vkr.compared is a link to "*"/gone.compared, where there is no file"* ]] ||
  problem "compare with its record a link to nothing: $rc $last"
# A first upload whose read back of the device file it made (before its verdict) fails (EIO,
# ENOSPC): that error, not another command's change.
for errno in EIO ENOSPC; do
  out=$(env "${preload[@]}" VKR_TEST_FAULT="read:first-$errno.vkr.device:1:$errno" "$host" upload \
    --project "C:\\VKR\\first-$errno.vkr" 2>&1)
  code=$?
  last=$(printf '%s\n' "$out" | tail -n 1)
  [ $code = 1 ] && [[ $last == "vkr-frame: the comparison with the device was not saved to C:\\VKR\\first-$errno.vkr.compared: the device file C:\\VKR\\first-$errno.vkr.device could not be read again to check that no other command changed the transmitter: "* ]] &&
    [[ $last != *"another command changed"* ]] || problem "a first upload whose device file fails to read back ($errno): $code $last"
done

# The command line. Numbers beyond their range are no numbers that wrap into it; a project a
# command would have written stays as it was.
project ids
before=$(state)
for args in "4294967301 --offline" "5 --offline --type 4294967912=3.3" "5 --offline --click 4294967297" \
  "5 --offline --click 99999999999999999999" "5 --offline --read 65536" "2147483648 --offline" "5 --offline --type 65536=1"; do
  out=$("$host" ui $args --project 'C:\VKR\ids.vkr' --png "$dir/ids.png" 2>&1)
  code=$?
  [ $code = 2 ] || problem "ui $args: exit $code: $(printf '%s\n' "$out" | tail -n 1)"
done
[ "$(state)" = "$before" ] || problem "a number beyond its range changed a file"
out=$("$host" ui 5 --offline --project 'C:\VKR\ids.vkr' --png "$dir/ids.png" --click 65535 2>&1)
[ $? = 1 ] && printf '%s\n' "$out" | grep -q "no item 65535" || problem "ui --click 65535 was not tried: $out"
for args in "register|" "unregister|" 'register|\\server\share\m.so'; do
  IFS='|' read -r command module <<<"$args"
  "$host" "$command" "$module" >/dev/null 2>&1
  code=$?
  [ $code = 2 ] || problem "$command '$module': exit $code"
done
"$host" register >/dev/null || fail "register again"
# A registry file whose folder cannot be written through to the disk is told, not taken as written.
out=$(env "${preload[@]}" VKR_TEST_FSYNC_FAILS=folder VKR_REGISTRY="$dir/synced.reg" "$host" register 2>&1)
[ $? = 1 ] && [[ $out == *"ERROR_REGISTRY_IO_FAILED"* ]] || problem "a registry folder not written through: $out"
# A record whose link leads out of the drive root is refused offline too.
project outside
mkdir -p "$dir/out"
rm "$folder/outside.vkr.compared"
ln -s "$dir/out/r" "$folder/outside.vkr.compared"
run ui 5 --offline --project 'C:\VKR\outside.vkr' --png "$dir/out.png" --type 616=7 --click 1 --answer No
[ $rc = 1 ] && [[ $last == *"outside the drive root"* ]] && [ -z "$(ls "$dir/out")" ] ||
  problem "ui --offline with its record's link leading out: $rc $last"
# A command that needs a project makes nothing where there is none, not even the drive's folder.
for command in show compare status; do
  out=$(VKR_DRIVE_ROOT=$dir/bare "$host" "$command" 2>&1)
  [ $? = 1 ] && [ ! -e "$dir/bare" ] || problem "$command without a project made $(ls -R "$dir/bare" 2>&1)"
done
# A folder on the way that is not there is named.
run upload --project 'C:\x\y\z\p.vkr'
[ $rc = 1 ] && [[ $last == *"(the folder C:\\x is not there)" ]] || problem "an upload into folders not there: $last"
# A fixed loop current is told on one line.
project fixed
sed -i 's/^fixedCurrent .*/fixedCurrent 41400000/' "$folder/fixed.vkr.device"
run status --project 'C:\VKR\fixed.vkr'
[ "$(printf '%s\n' "$out" | grep -c "loop current fixed")" = 1 ] || problem "status told the fixed current on other than one line: $out"
run ui 1 --project 'C:\VKR\fixed.vkr' --png "$dir/f.png"
[ "$(printf '%s\n' "$out" | grep -c "fixed")" = 1 ] || problem "ui told the fixed current on other than one line: $out"

# ---- The roads the earlier tests left open ------------------------------------------------------
# A page number equal to the number of pages is beyond the list (its pages count from 0).
pages=$("$host" ui 1 --project 'C:\VKR\plain.vkr' --page 99 --png "$dir/p.png" 2>/dev/null |
  sed -n 's/^  the user interface has \([0-9]*\) pages in its tree$/\1/p')
[ -n "$pages" ] || problem "ui 1 did not say how many pages it has"
for args in "--page $pages" "--page 0 --page $pages"; do
  run ui 1 --project 'C:\VKR\plain.vkr' --png "$dir/p.png" $args
  [ $rc = 1 ] && [[ $last == *"no page $pages in the user interface's page tree" ]] || problem "ui 1 $args: $rc $last"
done
# A cold start both masters have still to be told, on a read-only disk: told, not kept, and the
# file keeps it for both; the next status tells this master and keeps the other's.
project cold
sed -i 's/^coldStart .*/coldStart 01/' "$folder/cold.vkr.device"
cp "$folder/cold.vkr.device" "$dir/cold.device"
out=$(env "${preload[@]}" VKR_TEST_READ_ONLY=cold.vkr.device "$host" status --project 'C:\VKR\cold.vkr' 2>&1)
[ $? = 1 ] && cmp -s "$folder/cold.vkr.device" "$dir/cold.device" ||
  problem "status on a read-only disk with a cold start for both: $out"
run status --project 'C:\VKR\cold.vkr'
[ $rc = 0 ] && [ "$(field cold.vkr.device coldStart)" = 0001 ] ||
  problem "the next status kept the cold starts $(field cold.vkr.device coldStart): $rc $last"
# Two commands held against each other (the holds of docs/testing.md).
hold() {
  local at=$dir/hold-$1
  mkdir -p "$at"
  mkfifo "$at/$2.reached" "$at/$2.go"
  exec {reached}<>"$at/$2.reached"
  (
    VKR_FRAME_TEST_HOLD=$2 VKR_FRAME_TEST_HOLD_IN=$at "$host" "${@:3}" >"$at/out" 2>"$at/err"
    echo $? >"$at/rc"
    echo ended >"$at/$2.reached"
  ) &
  held=$!
  local line
  read -r line <&"$reached"
  exec {reached}<&-
  holding=yes
  [ "$line" = "$2" ] || { holding=no && problem "$1 ended before $2: $(cat "$at/err")"; }
}
go_on() {
  [ "$holding" = yes ] && echo go >"$dir/hold-$1/$2.go"
  wait "$held"
  rc=$(cat "$dir/hold-$1/rc")
  last=$(tail -n 1 "$dir/hold-$1/err")
}
# A device file removed while compare holds before its verdict is no default transmitter: the
# transmitter compare read is gone.
project gone
hold gone verdict compare --project 'C:\VKR\gone.vkr'
rm "$folder/gone.vkr.device"
go_on gone verdict
[ $rc = 1 ] && [[ $last == *"another command changed the transmitter while this one ran"* ]] &&
  cmp -s "$folder/gone.vkr.compared" "$folder/plain.vkr.compared" ||
  problem "compare over a device file removed meanwhile: $rc $last; record: $(head -n 1 "$folder/gone.vkr.compared")"
# A user interface that only read (a cold start told) leaves the record as it was.
project looked
sed -i 's/^coldStart .*/coldStart 01/' "$folder/looked.vkr.device"
run ui 1 --project 'C:\VKR\looked.vkr' --png "$dir/looked.png"
[ $rc = 0 ] && [ "$(field looked.vkr.device coldStart)" = 0001 ] && cmp -s "$folder/looked.vkr.compared" "$folder/plain.vkr.compared" ||
  problem "ui that only read: $rc $last; record: $(head -n 1 "$folder/looked.vkr.compared")"
# A download whose record was made unknown for its first change, and then written by compare
# before the change went into the device file, leaves compare's verdict and the transmitter as
# they were.
project race
run ui 5 --offline --project 'C:\VKR\race.vkr' --png "$dir/race.png" --type 614=6.5 --type 615=1.25 --click 1 --answer No
[ $rc = 0 ] || problem "the offline edit of race: $last"
cp "$folder/race.vkr.device" "$dir/race.device"
hold race marked download --project 'C:\VKR\race.vkr'
run compare --project 'C:\VKR\race.vkr'
cp "$folder/race.vkr.compared" "$dir/race.compared"
go_on race marked
[ $rc = 1 ] && [[ $last == *"another command changed that file while this one ran"*"nothing was written to the device" ]] &&
  cmp -s "$folder/race.vkr.compared" "$dir/race.compared" && cmp -s "$folder/race.vkr.device" "$dir/race.device" ||
  problem "a download over compare's verdict before its first change: $rc $last"

[ $problems = 0 ] || fail "$problems rows went wrong"
echo "roles, damaged records, reasons and the command line: all rows held"
