#!/usr/bin/env bash
# The engineer's commands at the edges of the machine, one table run on the default transmitter and
# on one in millimetres and one in inches, each row judged by the exit status, the last line, the
# bytes of the project's files (project, device file, record of the comparison) and what the
# transmitter answered: a full disk (found before anything reaches the transmitter; a disk that
# fills while the transmitter is written: it confirms no write its device file did not take), a
# path that climbs above the drive's root, a missing transmitter, an upload killed after it
# replaced the project, a device value that is not a number, a device file line with a leading
# space, a download on an older device file, an option's value that is itself an option, and every
# form of path a command line may name.
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
    [ $rc = 1 ] && echo "$out" | grep -qx 'Upload left out "Damping Value" (1022): the device'"'"'s value is not a finite number' &&
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
# ---- A kernel without openat2 (before Linux 5.6): every command on the drives refused, nothing made --
unit=m
setup old-kernel edited
before=$(cd "$VKR_DRIVE_ROOT" && find . | sort)
old_kernel="vkr-frame: this system's kernel lacks openat2 (Linux 5.6 and later have it), without which the host cannot keep its files inside the drive root; nothing was done"
while IFS= read -r args; do
  # shellcheck disable=SC2086
  go VKR_TEST_NO_OPENAT2=1 $args
  [ $rc = 1 ] && [ "$last" = "$old_kernel" ] || fail "$args on a kernel without openat2: $rc $last"
done <<'ROWS'
upload --project C:\VKR\old-kernel.vkr
upload --project C:\new\p.vkr
download --project C:\VKR\old-kernel.vkr
compare --project C:\VKR\old-kernel.vkr
status --project C:\VKR\old-kernel.vkr
show --project C:\VKR\old-kernel.vkr
set --project C:\VKR\old-kernel.vkr Damping=3
ui 1 --project C:\VKR\old-kernel.vkr --page 1 --type 399=3 --click 221
ui 5 --offline --project C:\VKR\old-kernel.vkr --type 616=3 --click 1
ROWS
[ "$(cd "$VKR_DRIVE_ROOT" && find . | sort)" = "$before" ] && every_file_same old-kernel ||
  fail "a command on a kernel without openat2 changed the drive"
go VKR_TEST_NO_OPENAT2=0 status --project 'C:\VKR\old-kernel.vkr'
[ $rc = 0 ] || fail "status with openat2 there: $rc $last"

# ---- Every path a command line names, as Windows finds it, inside the drive root -----------------
# Run from a working folder outside the drive root: a path without a drive is in C:\, a name Windows
# does not allow is a wrong command line (2), and a link that leads out of the drive root is
# refused (1) before anything is made. Nothing appears in the working folder, above it, outside the
# drive root, or (on a refusal) anywhere.
mkdir -p "$dir/paths/work/cwd" "$dir/paths/outside"
drives=$VKR_DRIVE_ROOT
mkdir -p "$drives/c/VKR"
ln -s "$dir/paths/outside" "$drives/c/L"           # a link out of the drive root
ln -s ../.. "$drives/c/up"                          # one that climbs out by name
ln -s loop "$drives/c/loop"                         # one that goes round in a circle
ln -s VKR "$drives/c/in"                            # one that stays inside
ln -s "$dir/paths/outside/p.vkr.device" "$drives/c/VKR/linked.vkr.device"  # a file of the project
ln -s "$dir/paths/outside/p.vkr.compared" "$drives/c/VKR/rec.vkr.compared"  # the project's record
ln -s "$drives/c/VKR" "$drives/c/absin"             # one inside, by an absolute path
ln -s "../../$(basename "$drives")/c/VKR" "$drives/c/back"  # one that climbs out and comes back
mkdir -p "$drives/c/chain"                          # five links in a row, each to the next
ln -s ../VKR "$drives/c/chain/5"
for i in 4 3 2 1; do ln -s "$((i + 1))" "$drives/c/chain/$i"; done
root_name="vkr-path-$$"                             # what "\..\..\NAME" once made at /
: >"$dir/paths/err"
before_outside=$(find "$dir" -path "$drives" -prune -o -print | sort)
# path ARGS...: the host from the working folder; rc and last: the line that says why (a wrong
# command line's first, before the usage; else the last on stderr), or stdout's last.
path() {
  out=$(cd "$dir/paths/work/cwd" && "$host" "$@" 2>"$dir/paths/err")
  rc=$?
  if [ $rc = 2 ]; then last=$(head -n 1 "$dir/paths/err"); else last=$(tail -n 1 "$dir/paths/err"); fi
  [ -n "$last" ] || last=$(printf '%s\n' "$out" | tail -n 1)
}
# A form that lands: the command's rc 0 and the project's files where Windows puts them (below the
# drive root; "-" for a project that makes no files).
lands() {
  local where=$1
  shift
  path "$@"
  if [ $rc != 0 ]; then
    echo "$*: $rc $last"
  elif [ "$where" != - ]; then
    for f in "$where" "$where.device" "$where.compared"; do [ -f "$drives/$f" ] || echo "$*: no $f"; done
  fi
}
# A form refused with RC, its last line holding TEXT, and nothing made or changed in the drive root.
refused() {
  local want=$1 text=$2 was
  shift 2
  was=$(cd "$drives" && find . -printf '%p %s %T@\n' | sort)
  path "$@"
  [ $rc = "$want" ] && [[ $last == *"$text"* ]] || echo "$*: $rc $last (not $want ... $text ...)"
  [ "$(cd "$drives" && find . -printf '%p %s %T@\n' | sort)" = "$was" ] || echo "$*: the drive root changed on a refusal"
}
paths_table() {
  lands c/rel.vkr upload --project 'rel.vkr'
  lands c/esc.vkr upload --project '..\esc.vkr'
  lands "c/$root_name.vkr" upload --project "\\..\\..\\$root_name.vkr"
  lands c/- upload --project -
  lands c/abs/p.vkr upload --project '/abs/p.vkr'
  lands c/VKR/dotted.vkr upload --project 'x\..\.\VKR\\dotted.vkr'
  lands d/drel.vkr upload --project 'd:drel.vkr'
  lands c/VKR/fwd.vkr upload --project 'c:/VKR/fwd.vkr'
  lands c/VKR/inside.vkr upload --project 'C:\in\inside.vkr'
  lands "c/Tank ü.vkr" upload --project 'Tank ü.vkr'
  lands c/VKR/chained.vkr upload --project 'C:\chain\1\chained.vkr'
  # Names as Windows compares them: the file and each folder on the way found by any case of its
  # name, keeping its own; a new name takes the case typed.
  lands c/VKR/fwd.vkr upload --project 'C:\vkr\FWD.VKR'
  lands c/VKR/NewCase.vkr upload --project 'c:\Vkr\NewCase.vkr'
  lands c/VKR/NewCase.vkr upload --project 'C:\VKR\newcase.VKR'
  lands - status --project 'C:\VKR\NEWCASE.vkr' --device '\VKR\newCase.VKR.DEVICE'
  lands - show --project 'C:\VKR\NEWCASE.vkr'
  lands - compare --project 'C:\vkr\NewCase.vkr' --with 'c:\VKR\FWD.vkr'
  [ "$(cd "$drives/c" && find . -iname 'vkr' -o -ipath './vkr/newcase*' -o -ipath './vkr/fwd*' | LC_ALL=C sort | tr '\n' ' ')" = \
    "./VKR ./VKR/NewCase.vkr ./VKR/NewCase.vkr.compared ./VKR/NewCase.vkr.device ./VKR/fwd.vkr ./VKR/fwd.vkr.compared ./VKR/fwd.vkr.device " ] ||
    echo "names in another case made other files: $(cd "$drives/c" && find . -iname 'vkr' -o -ipath './vkr/newcase*' -o -ipath './vkr/fwd*')"
  # Near the device names, but none of them.
  lands c/COM10.vkr upload --project 'COM10.vkr'
  lands "c/LPT⁴.vkr" upload --project 'LPT⁴.vkr'
  lands c/CONSOLE.vkr upload --project 'CONSOLE.vkr'
  # Strict UTF-8 at its edges: the last code point below the surrogates, the last one of all, a
  # four-byte one.
  lands $'c/\xed\x9f\xbf.vkr' upload --project $'\xed\x9f\xbf.vkr'
  lands $'c/\xf4\x8f\xbf\xbf.vkr' upload --project $'\xf4\x8f\xbf\xbf.vkr'
  lands $'c/\xf0\x9f\x98\x80.vkr' upload --project $'\xf0\x9f\x98\x80.vkr'
  path upload --project 'own.vkr' --device 'dev.device'
  [ $rc = 0 ] && [ -f "$drives/c/own.vkr" ] && [ -f "$drives/c/dev.device" ] && [ ! -e "$drives/c/own.vkr.device" ] ||
    echo "upload with --device dev.device: $rc $last"
  lands - compare --project 'rel.vkr' --with '..\esc.vkr'
  lands - status --project 'rel.vkr' --device '\dev.device'
  lands - items --project 'rel.vkr'
  lands - ui --list --project '.\rel.vkr'
  local unc="a network (UNC) path" drive="is not a drive (a drive is one letter, A to Z)" folder="names a folder, not a file"
  refused 2 "upload: --project //server/share/p.vkr: $unc" upload --project '//server/share/p.vkr'
  refused 2 "$unc" upload --project '\\server\share'
  refused 2 "name space" upload --project '\\?\C:\p.vkr'
  refused 2 "name space" upload --project '\\.\COM1'
  refused 2 "\"1:\" $drive" upload --project '1:\p.vkr'
  refused 2 "\"CC:\" $drive" upload --project 'CC:\p.vkr'
  refused 2 "\"CC:\" $drive" download --device 'CC:\p.device' --project 'rel.vkr'
  local c
  for c in '<' '>' '|' '"' '?' '*'; do refused 2 "Windows allows no $c in a name" upload --project "C:\\VKR\\a${c}b.vkr"; done
  refused 2 "Windows allows no : in a name (\"a:b.vkr\")" upload --project 'C:\VKR\a:b.vkr'
  refused 2 "Windows allows no : in a name (\"x1:\")" upload --project 'sub\x1:\p.vkr'
  refused 2 'no control character in a name ("a\x09b.vkr" holds \x09)' upload --project $'C:\\VKR\\a\tb.vkr'
  refused 2 'holds \x1F' upload --project $'rel\x1f.vkr'
  refused 2 "not UTF-8" upload --project $'C:\\VKR\\\xff.vkr'
  refused 2 "$folder" upload --project 'C:\VKR\new\'
  refused 2 "$folder" upload --project 'new/'
  refused 2 "$folder" upload --project 'C:\VKR\.'
  refused 2 "$folder" upload --project 'C:\VKR\x\..'
  refused 2 "names the root folder of drive C:" upload --project 'C:'
  refused 2 "names the root folder of drive C:" upload --project '\'
  refused 2 "ends in a dot" upload --project 'C:\VKR\p.vkr.'
  refused 2 "ends in a space" upload --project 'p.vkr '
  refused 2 "ends in a dot" upload --project 'C:\VKR.\p.vkr'
  refused 2 "names the device NUL on Windows" upload --project 'C:\VKR\NUL.vkr'
  refused 2 "names the device CON on Windows" upload --project 'con'
  refused 2 "names the device COM1 on Windows" upload --project 'COM1 .x.vkr'
  refused 2 "names the device LPT9 on Windows" upload --project 'lpt9\p.vkr'
  local device
  for device in AUX aux.vkr PRN.x nul CONIN\$ conout\$.vkr COM0 com0.vkr LPT0 COM5.vkr 'COM¹' 'com².vkr' 'COM³' \
    'LPT¹.vkr' 'lpt²' 'LPT³.x.vkr'; do
    refused 2 "\"$device\" names the device" upload --project "C:\\VKR\\$device"
  done
  refused 2 "names the device COM³ on Windows" show --project 'C:\COM³\p.vkr'
  refused 2 "ui: --device C:\\LPT¹.device: \"LPT¹.device\" names the device" ui 1 --device 'C:\LPT¹.device'
  # Text that is not UTF-8: a surrogate, a code point above U+10FFFF, overlong forms (of "/" in
  # three bytes and two), sequences cut short, a lone continuation byte.
  local bytes
  for bytes in '\xed\xa0\x80' '\xed\xbf\xbf' '\xf4\x90\x80\x80' '\xf5\x80\x80\x80' '\xe0\x80\xaf' '\xc0\xaf' '\xc1\xbf' \
    '\xf0\x80\x80\xaf' '\xc3' '\xe2\x82' '\xf0\x9f\x98' '\x80'; do
    refused 2 "the path is not UTF-8 text" upload --project "$(printf 'C:\\VKR\\a%bb.vkr' "$bytes")"
    refused 2 "the path is not UTF-8 text" status --project 'rel.vkr' --device "$(printf 'x%b' "$bytes")"
  done
  refused 2 "compare: --with //server/x.vkr: $unc" compare --project 'rel.vkr' --with '//server/x.vkr'
  refused 2 "items: --project 1:\\p.vkr: \"1:\" $drive" items --project '1:\p.vkr'
  refused 2 "ui: --project \\\\s\\x.vkr: $unc" ui 1 --project '\\s\x.vkr'
  refused 2 "ui: --device a|b: Windows allows no |" ui 1 --device 'a|b'
  refused 2 "register: the module 1:\\m.so: \"1:\" $drive" register '1:\m.so'
  local out_root="outside the drive root"
  refused 1 "the file C:\\L\\p.vkr is, through a link on its way, at $dir/paths/outside/p.vkr, $out_root" upload --project 'C:\L\p.vkr'
  refused 1 "the file C:\\L\\x.device is, through a link" upload --project 'rel.vkr' --device 'C:\L\x.device'
  refused 1 "the file C:\\VKR\\linked.vkr.device is, through a link" upload --project 'C:\VKR\linked.vkr'
  refused 1 "at $dir/p.vkr, $out_root" upload --project 'C:\up\p.vkr'
  refused 1 "go round in a circle" upload --project 'C:\loop\p.vkr'
  refused 1 "the file C:\\L\\p.vkr is, through a link" compare --project 'rel.vkr' --with 'L\p.vkr'
  refused 1 "the file C:\\L\\p.vkr is, through a link" items --project '\L\p.vkr'
  refused 1 "the file C:\\L\\p.vkr is, through a link" ui 1 --offline --project 'C:\L\p.vkr'
  # The record is a file of the project too, for every command; ui checks its --device as well.
  refused 1 "the file C:\\VKR\\rec.vkr.compared is, through a link" upload --project 'C:\VKR\rec.vkr'
  # (compare, with no project there, says so first: it would open nothing)
  refused 1 "there is no project file C:\\vkr\\REC.vkr" compare --project 'C:\vkr\REC.vkr'
  refused 1 "the file C:\\VKR\\rec.vkr.compared is, through a link" ui 5 --offline --project 'C:\VKR\rec.vkr'
  refused 1 "the file C:\\L\\x.device is, through a link" ui 1 --project 'rel.vkr' --device 'C:\L\x.device'
  # Links inside the drive root the files are not opened through: an absolute one, one that
  # climbs above the drive root to come back.
  refused 1 "the file C:\\absin\\p.vkr is reached through a link the host does not follow: the link $drives/c/absin -> $drives/c/VKR names its target by an absolute path" upload --project 'C:\absin\p.vkr'
  refused 1 "the file C:\\back\\p.vkr is reached through a link the host does not follow: the link $drives/c/back -> ../../" upload --project 'C:\back\p.vkr'
  refused 1 "the file C:\\L\\m.so is, through a link" register 'C:\L\m.so'
  [ -z "$(ls -A "$dir/paths/outside")" ] || echo "a file was made outside the drive root: $(ls -A "$dir/paths/outside")"
  [ -z "$(ls -A "$dir/paths/work/cwd")" ] || echo "a file was made in the working folder: $(ls -A "$dir/paths/work/cwd")"
  [ "$(find "$dir" -path "$drives" -prune -o -print | sort)" = "$before_outside" ] ||
    echo "a file was made outside the drive root: $(diff <(echo "$before_outside") <(find "$dir" -path "$drives" -prune -o -print | sort))"
  [ ! -e "/$root_name.vkr" ] || echo "a file was made at /$root_name.vkr"
}
result=$(paths_table)
[ -z "$result" ] || fail "$result"
echo "files table ok"
