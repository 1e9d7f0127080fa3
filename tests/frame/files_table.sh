#!/usr/bin/env bash
# The engineer's commands at the edges of the machine, one table run on the default transmitter and
# on one in millimetres and one in inches, each row judged by the exit status, the last line, the
# bytes of the project's files (project, device file, record of the comparison) and what the
# transmitter answered: a full disk (found before anything reaches the transmitter; a disk that
# fills while the transmitter is written: it confirms no write its device file did not take), a
# path that climbs above the drive's root, a missing transmitter, an upload killed after it
# replaced the project, a device value that is not a number, a device file line with a leading
# space, a download on an older device file, and an option's value that is itself an option.
set -u
host=$1
faults=$2  # preloaded for a disk that fills (VKR_TEST_DISK_FULL=TEXT[@BYTES])
. "$(dirname "$0")/host_env.sh"
. "$(dirname "$0")/host_project.sh"
upload plain

# ---- The transmitters: the default one, and the same in mm and in -------------------------------
for unit in m mm in; do device_in_unit "$folder/plain.vkr.device" "$unit" >"$dir/$unit.device"; done

# ---- Running a row ---------------------------------------------------------------------------------
# go [ENV=VALUE...] COMMAND...: the host in the row's unit, the disk faults preloaded when an
# environment is given; rc, out, last (stdout's last line, or stderr's when the command failed).
go() {
  local env=()
  while [ $# -gt 0 ] && [[ $1 == VKR_*=* ]]; do env+=("$1"); shift; done
  [ ${#env[@]} -gt 0 ] && env+=(LD_PRELOAD="$faults" ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0")
  out=$(env "${env[@]}" "$host" "$@" 2>"$dir/err-$unit")
  rc=$?
  if [ $rc = 0 ]; then last=$(printf '%s\n' "$out" | tail -n 1); else last=$(tail -n 1 "$dir/err-$unit"); fi
}
# The project NAME of the unit's transmitter, uploaded, its files kept in $dir/NAME.*.before;
# "edited": the data set then differs from the transmitter in its range and blanking (an offline
# edit), so that a download has writes to make.
setup() {
  local name=$1 how=${2:-}
  rm -f "$folder/$name".vkr*
  cp "$dir/$unit.device" "$folder/$name.vkr.device"
  go upload --project "C:\\VKR\\$name.vkr"
  [ $rc = 0 ] || fail "$unit: the upload of $name: $last"
  if [ "$how" = edited ]; then
    go ui 5 --offline --project "C:\\VKR\\$name.vkr" --png "$dir/$name.png" --type "614=$(in_unit 6 "$unit")" \
      --type "615=$(in_unit 1.2 "$unit")" --type 625=0.333 --click 1 --answer No
    [ $rc = 0 ] || fail "$unit: the offline edit of $name: $last"
  fi
  keep "$name"
}
keep() { for f in vkr vkr.device vkr.compared; do cp "$folder/$1.$f" "$dir/$1.$f.before"; done; }
# Whether file NAME.SUFFIX holds its bytes of before.
same() { cmp -s "$folder/$1.$2" "$dir/$1.$2.before"; }
every_file_same() { same "$1" vkr && same "$1" vkr.device && same "$1" vkr.compared; }
counter() { printf '%d' "0x$(grep '^configChangeCounter ' "$1" | cut -d' ' -f2)"; }
# The room the commands check for a file of SIZE bytes: twice that, in whole 4 KiB blocks.
room() { echo $(((2 * $1 + 4095) / 4096 * 4096)); }
full="0x80070070 (ERROR_DISK_FULL): the disk is full"
nothing="there is no transmitter: the device file"

# ---- The table, run in one unit; it says what went wrong, nothing when every row held ------------
table() {
  unit=$1
  local n="$unit-" d

  # A full disk: found before anything reaches the transmitter; nothing changes. (status writes
  # nothing and runs.)
  setup "${n}full" edited
  for command in download upload compare; do
    go VKR_TEST_DISK_FULL="/c/VKR/${n}full.vkr" "$command" --project "C:\\VKR\\${n}full.vkr"
    [ "$command" = compare ] && d="C:\\VKR\\${n}full.vkr.compared" || d="C:\\VKR\\${n}full.vkr"
    [ $rc = 1 ] && [ "$last" = "vkr-frame: nothing was done: $d cannot be written: $full" ] ||
      echo "$unit: $command on a full disk: $rc $last"
    every_file_same "${n}full" || echo "$unit: $command on a full disk changed a file"
    grep -q "^$command: " "$dir/err-$unit" && echo "$unit: $command on a full disk went online"
  done
  go VKR_TEST_DISK_FULL="/c/VKR/${n}full.vkr" status --project "C:\\VKR\\${n}full.vkr"
  [ $rc = 0 ] && [ "$last" = "device status: ok" ] && every_file_same "${n}full" ||
    echo "$unit: status on a full disk: $rc $last"

  # The disk fills while the download writes the transmitter (after the room it checked for): the
  # transmitter keeps the one write its device file took and answers the next as not done, and
  # the download says what it holds; compare then names what differs.
  setup "${n}fills" edited
  local size
  size=$(wc -c <"$folder/${n}fills.vkr.device")
  go VKR_TEST_DISK_FULL="${n}fills.vkr.device.new.@$(($(room "$size") + size + size / 2))" \
    download --project "C:\\VKR\\${n}fills.vkr"
  [ $rc = 1 ] && [[ $last == 'vkr-frame: the download failed: "'*'" was not written: '*'command response = 0x06 (device-specific command error); the device now holds part of the data set (compare names what differs)' ]] ||
    echo "$unit: a download on a disk that fills: $rc $last"
  grep -qx "vkr-frame: the device could not be saved to C:\\\\VKR\\\\${n}fills.vkr.device: $full" "$dir/err-$unit" ||
    echo "$unit: the device file's failure was not told: $(cat "$dir/err-$unit")"
  [ $(($(counter "$folder/${n}fills.vkr.device") - $(counter "$dir/${n}fills.vkr.device.before"))) = 1 ] ||
    echo "$unit: the device file does not hold the one write the transmitter confirmed: $(cat "$folder/${n}fills.vkr.device")"
  same "${n}fills" vkr && [ "$(cat "$folder/${n}fills.vkr.compared")" = "verdict none" ] ||
    echo "$unit: the project or the record after the disk filled"
  go compare --project "C:\\VKR\\${n}fills.vkr"
  [ $rc = 0 ] && echo "$out" | grep -q '^Compare: ".*" (10[0-9][0-9]) differs from the device$' ||
    echo "$unit: compare after the disk filled: $rc $out"

  # The disk fills after the download reached the transmitter: its project save fails, and the
  # last line says what the device holds; the device file holds the whole download.
  setup "${n}late" edited
  go download --project "C:\\VKR\\${n}late.vkr"
  [ $rc = 0 ] || echo "$unit: the download to compare with: $last"
  cp "$folder/${n}late.vkr.device" "$dir/${n}late.downloaded"
  for f in vkr vkr.device vkr.compared; do cp "$dir/${n}late.$f.before" "$folder/${n}late.$f"; done
  go VKR_TEST_DISK_FULL="${n}late.vkr.new.@$(room "$(wc -c <"$folder/${n}late.vkr")")" download --project "C:\\VKR\\${n}late.vkr"
  [ $rc = 1 ] && [ "$last" = "vkr-frame: the data set could not be saved to C:\\VKR\\${n}late.vkr: $full; the device holds the downloaded data set" ] ||
    echo "$unit: a download whose project save found the disk full: $rc $last"
  cmp -s "$folder/${n}late.vkr.device" "$dir/${n}late.downloaded" && same "${n}late" vkr ||
    echo "$unit: the device file or the project after the late full disk"

  # A write through a page on a full disk: the transmitter does not confirm it, the page says so.
  setup "${n}page"
  go VKR_TEST_DISK_FULL="${n}page.vkr.device.new." ui 1 --project "C:\\VKR\\${n}page.vkr" --png "$dir/${n}page.png" \
    --click 578 --type "544=$(in_unit 5 "$unit")" --click 221 --read 6333
  [ $rc = 1 ] && echo "$out" | grep -qxF '  item 6333: "Hi Level was not written: the device refused it: 0x06 (device-specific command error)."' &&
    [ "$last" = "vkr-frame: not all was done: HART command 35#1: the device refused it (response code 6); the user interface told last: message line: Hi Level was not written: the device refused it: 0x06 (device-specific command error)." ] ||
    echo "$unit: a page's write on a full disk: $rc $last $out"
  # (The record says nothing is known from the moment a change was about to reach the transmitter.)
  same "${n}page" vkr && same "${n}page" vkr.device && [ "$(cat "$folder/${n}page.vkr.compared")" = "verdict none" ] ||
    echo "$unit: a page's write on a full disk changed the project or the device file, or left the record"

  # ".." at the drive's root stays there: the files are made in C:\, none above the drive root.
  rm -f "$VKR_DRIVE_ROOT/c/${n}up".vkr*
  cp "$dir/$unit.device" "$VKR_DRIVE_ROOT/c/${n}up.vkr.device"
  go upload --project "C:\\..\\..\\${n}up.vkr"
  [ $rc = 0 ] && [ -f "$VKR_DRIVE_ROOT/c/${n}up.vkr" ] && [ -f "$VKR_DRIVE_ROOT/c/${n}up.vkr.compared" ] ||
    echo "$unit: upload to C:\\..\\..\\${n}up.vkr: $rc $last $(ls "$VKR_DRIVE_ROOT/c")"
  go status --project "C:\\VKR\\..\\..\\..\\${n}up.vkr"
  [ $rc = 0 ] || echo "$unit: status on C:\\VKR\\..\\..\\..\\${n}up.vkr: $last"
  [ -z "$(find "$dir" "$VKR_DRIVE_ROOT" -maxdepth 1 -name "${n}up*")" ] || echo "$unit: files above the drive root"

  # Only an upload puts a transmitter in place: the others refuse, naming the file, and make
  # nothing.
  setup "${n}none"
  rm "$folder/${n}none.vkr.device"
  local before
  # (The units run at once: each looks at the files of its own rows.)
  before=$(cd "$VKR_DRIVE_ROOT" && find . -name "${n}*" | sort)
  for command in status compare download "ui 1 --png $dir/${n}none.png" "ui 4 --click 377 --png $dir/${n}none.png"; do
    # shellcheck disable=SC2086
    go $command --project "C:\\VKR\\${n}none.vkr"
    [ $rc = 1 ] && [ "$last" = "vkr-frame: $nothing C:\\VKR\\${n}none.vkr.device is not there (an upload puts one in place); nothing was changed" ] ||
      echo "$unit: $command without a transmitter: $rc $last"
  done
  go status --project "C:\\VKR\\${n}none.vkr" --device "C:\\VKR\\${n}missing\\x.device"
  [ $rc = 1 ] && [ "$last" = "vkr-frame: $nothing C:\\VKR\\${n}missing\\x.device is not there (an upload puts one in place); nothing was changed" ] ||
    echo "$unit: status on a device file in a folder that is not there: $rc $last"
  [ "$(cd "$VKR_DRIVE_ROOT" && find . -name "${n}*" | sort)" = "$before" ] ||
    echo "$unit: a command without a transmitter made a file"
  same "${n}none" vkr && same "${n}none" vkr.compared || echo "$unit: a command without a transmitter changed a file"

  # An upload at the wire's speed killed at each of its saves: once the project is replaced the
  # record no longer claims the difference a comparison found before (show and compare agree).
  setup "${n}kill"
  setlines "$folder/${n}kill.vkr.device" damping 3F400000
  go compare --project "C:\\VKR\\${n}kill.vkr"
  [ "$(head -n 1 "$folder/${n}kill.vkr.compared")" = "verdict notEqual" ] || echo "$unit: no difference to start from"
  keep "${n}kill"
  local save replaced=0
  for save in 1 2 3 4 5 6; do
    for f in vkr vkr.device vkr.compared; do cp "$dir/${n}kill.$f.before" "$folder/${n}kill.$f"; done
    go VKR_FRAME_TEST_KILL_AT_SAVE=$save upload --wire-delay hart --project "C:\\VKR\\${n}kill.vkr"
    [ $rc = 0 ] && break
    [ $rc = 9 ] || { echo "$unit: the upload was not killed at save $save: $rc $last"; break; }
    same "${n}kill" vkr && continue
    replaced=$((replaced + 1))
    go show --project "C:\\VKR\\${n}kill.vkr"
    echo "$out" | grep -q "found a difference" && echo "$unit: killed at save $save, show says: $out"
    [ "$(cat "$folder/${n}kill.vkr.compared")" = "verdict none" ] ||
      echo "$unit: killed at save $save after the project was replaced, the record holds $(head -n 1 "$folder/${n}kill.vkr.compared")"
  done
  [ $rc = 0 ] && [ $replaced -ge 1 ] || echo "$unit: the upload was never killed after it replaced the project"

  # A device value that is not a number: the upload names what it left out and exits 1; compare
  # names it; the download leaves it out, and the transmitter keeps it.
  for value in 7FC00000 7F800000; do
    rm -f "$folder/${n}nan".vkr*
    sed "s/^damping .*/damping $value/" "$dir/$unit.device" >"$folder/${n}nan.vkr.device"
    go upload --project "C:\\VKR\\${n}nan.vkr"
    [ $rc = 1 ] && echo "$out" | grep -qx 'Upload left out "Damping Value" (1022): the data set cannot hold the device'"'"'s value' &&
      [ "$last" = "vkr-frame: uploaded but for the values named above, which the data set does not hold; data set saved to C:\\VKR\\${n}nan.vkr" ] ||
      echo "$unit: upload of damping $value: $rc $last $out"
    go compare --project "C:\\VKR\\${n}nan.vkr"
    [ $rc = 0 ] && [ "$(echo "$out" | grep -c differs)" = 2 ] && echo "$out" | grep -q '"Damping Value" (1022) differs' ||
      echo "$unit: compare after the upload of damping $value: $rc $out"
    go download --project "C:\\VKR\\${n}nan.vkr"
    [ $rc = 1 ] && echo "$out" | grep -qx 'Download left out "Damping Value" (1022): the data set holds no value for it' &&
      [ "$(field "${n}nan.vkr.device" damping)" = "$value" ] || echo "$unit: download after damping $value: $rc $out"
  done

  # A line with a leading space is named whole.
  setup "${n}space"
  d=$(grep '^damping ' "$folder/${n}space.vkr.device")
  sed -i "s/^damping /  damping /" "$folder/${n}space.vkr.device"
  keep "${n}space"
  go status --project "C:\\VKR\\${n}space.vkr"
  [ $rc = 1 ] && [ "$last" = "vkr-frame: the device file C:\\VKR\\${n}space.vkr.device is damaged (a line \"  $d\" it does not keep); nothing was changed" ] &&
    every_file_same "${n}space" || echo "$unit: a line with a leading space: $rc $last"

  # A download on a device file written before the optional lines were kept rewrites only the
  # lines of the settings it changed, and adds none. (Such a file's sensor limits are the default
  # transmitter's, in metres: the PV unit the download writes converts them in another unit.)
  setup "${n}old" edited
  local older="fixedCurrent gainTrim zeroTrim memory"
  [ "$unit" = m ] && older+=" limitsUnit lowerSensorLimit upperSensorLimit minimumSpan"
  for line in $older; do
    sed -i "/^$line /d" "$folder/${n}old.vkr.device"
  done
  keep "${n}old"
  go download --project "C:\\VKR\\${n}old.vkr"
  [ $rc = 0 ] || echo "$unit: the download on an older device file: $last"
  [ "$(cut -d' ' -f1 "$folder/${n}old.vkr.device")" = "$(cut -d' ' -f1 "$dir/${n}old.vkr.device.before")" ] ||
    echo "$unit: the download changed the older device file's lines: $(diff "$dir/${n}old.vkr.device.before" "$folder/${n}old.vkr.device")"
  [ "$(diff "$dir/${n}old.vkr.device.before" "$folder/${n}old.vkr.device" | grep '^>' | cut -d' ' -f2 | sort | tr '\n' ' ')" = \
    "configChangeCounter configChanged echoSettings lowerRange upperRange " ] ||
    echo "$unit: the download rewrote other lines: $(diff "$dir/${n}old.vkr.device.before" "$folder/${n}old.vkr.device")"
}

for unit in m mm in; do table "$unit" >"$dir/result-$unit" 2>&1 & done
wait
for unit in m mm in; do
  [ -s "$dir/result-$unit" ] && fail "$(cat "$dir/result-$unit")"
done

# ---- An option's value that is itself an option is a missing value: usage, exit 2, no file -------
mkdir "$dir/cwd"
before=$(cd "$VKR_DRIVE_ROOT" && find . | sort)
while IFS='|' read -r args option; do
  # shellcheck disable=SC2086
  out=$(cd "$dir/cwd" && "$host" $args 2>&1)
  rc=$?
  [ $rc = 2 ] && [ "$(echo "$out" | head -n 1)" = "vkr-frame: $option needs a value" ] &&
    echo "$out" | grep -q "^usage: " || fail "$args: $rc $out"
done <<'ROWS'
upload --project --help|upload: --project
upload --device -h|upload: --device
download --project --device x.device|download: --project
download --wire-delay --project|download: --wire-delay
status --project -h|status: --project
show --project --help|show: --project
compare --with --help|compare: --with
compare --project --with x.vkr|compare: --project
set --project --help Tag=X|set: --project
items --project --help|items: --project
ui 1 --project --help|ui: --project
ui 1 --device --offline|ui: --device
ui 1 --png --help|ui: --png
ui 1 --answer --help|ui: --answer
ui 1 --type --click|ui: --type
ROWS
[ -z "$(ls -A "$dir/cwd")" ] && [ "$(cd "$VKR_DRIVE_ROOT" && find . | sort)" = "$before" ] ||
  fail "a command line with a missing value made a file: $(ls -A "$dir/cwd")"
echo "files table ok"
