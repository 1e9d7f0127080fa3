#!/usr/bin/env bash
# The record of the device under a failing disk, and disks of little room. A fault at every write,
# fsync, rename and folder write-through of the record (ENOSPC or EIO) in a download, an upload and
# a compare never leaves a record that claims more than compare finds, and the command's last line
# says what the transmitter holds: a download whose record could not be made unknown writes
# nothing. On a disk with the room of one file but not of all a first upload creates, the upload
# creates nothing and goes nowhere near the transmitter; a disk with more than one copy's room but
# less than two of each file is refused as short, one with two copies' room is not.
set -u
host=$1
faults=$2  # preloaded: VKR_TEST_FAULT and VKR_TEST_DISK_SIZE
. "$(dirname "$0")/host_env.sh"
. "$(dirname "$0")/host_project.sh"
preload=(LD_PRELOAD="$faults" ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0")

# The project differs from its transmitter in the settings a download writes.
upload plain
run ui 5 --offline --project 'C:\VKR\plain.vkr' --png "$dir/edit.png" --type 614=6.5 --type 615=1.25 \
  --type 620=42 --type 625=0.333 --click 1 --answer No
[ $rc = 0 ] || fail "the offline edit: $out $last"
for f in vkr vkr.device vkr.compared; do cp "$folder/plain.$f" "$dir/base.$f"; done
settings() { grep -vE '^(configChangeCounter|configChanged|coldStart|acknowledgedStatus) ' "$1"; }

# ---- A fault at each of the record's saves ---------------------------------------------------------
# faulted COMMAND CALL ERRNO: the command on project COMMAND-CALL-ERRNO with the Nth CALL on its
# record failing, for N = 1, 2, ... until the command no longer meets the fault; says what went wrong.
faulted() {
  local command=$1 call=$2 errno=$3 name="$1-$2-$3" n rc last verdict compared
  for n in 1 2 3 4 5 6 7 8; do
    for f in vkr vkr.device vkr.compared; do cp "$dir/base.$f" "$folder/$name.$f"; done
    env "${preload[@]}" VKR_TEST_FAULT="$call:$name.vkr.compared:$n:$errno" \
      "$host" "$command" --project "C:\\VKR\\$name.vkr" >"$dir/$name.out" 2>"$dir/$name.err"
    rc=$?
    [ $rc = 0 ] && return
    last=$(tail -n 1 "$dir/$name.err")
    local where="$command, $call $errno at the record's $n."
    [ $rc = 1 ] || { echo "$where: exit $rc: $last"; return; }
    # What the record claims, compare finds.
    verdict=$(head -n 1 "$folder/$name.vkr.compared")
    cp "$folder/$name.vkr.compared" "$dir/$name.record"
    compared=$("$host" compare --project "C:\\VKR\\$name.vkr" 2>&1)
    # (The record as it was tells of the transmitter as it was: its upload before the offline edit.)
    case $verdict in
      "verdict uploaded" | "verdict equal")
        { cmp -s "$dir/$name.record" "$dir/base.vkr.compared" &&
          [ "$(settings "$folder/$name.vkr.device")" = "$(settings "$dir/base.vkr.device")" ]; } ||
          echo "$compared" | grep -qx "the data set equals the device" ;;
      "verdict notEqual") echo "$compared" | grep -qx "the data set differs from the device" ;;
      "verdict none") true ;;
      *) false ;;
    esac || echo "$where: the record says $verdict, compare: $compared"
    # The last line names the record, and says what the transmitter holds.
    case $last in
      *"comparison with the device"* | *".compared cannot be written"*) ;;
      *) echo "$where: the last line does not name the record: $last" ;;
    esac
    if [ "$(settings "$folder/$name.vkr.device")" = "$(settings "$dir/base.vkr.device")" ]; then
      [ "$command" != download ] || { [[ $last == *"nothing was written to the device" ]] ||
        [[ $last == "vkr-frame: nothing was done: "* ]]; } && [ "$(grep -c '^vkr-frame: ' "$dir/$name.err")" = 1 ] &&
        { [ "$command" = upload ] || cmp -s "$folder/$name.vkr" "$dir/base.vkr"; } ||
        echo "$where: nothing was written, the last line: $last; the project $(cmp -s "$folder/$name.vkr" "$dir/base.vkr" && echo kept || echo changed)"
    else
      [ "$command" = download ] && [[ $last == *"; the device holds the downloaded data set" ]] ||
        echo "$where: the transmitter changed, the last line: $last"
    fi
  done
  echo "$command, $call $errno: still failing at the record's 8th"
}
for command in download upload compare; do
  for fault in write:ENOSPC fsync:ENOSPC fsync:EIO rename:EIO dirsync:EIO; do
    faulted "$command" "${fault%:*}" "${fault#*:}" >"$dir/result-$command-${fault/:/-}" 2>&1 &
  done
  wait
done
for f in "$dir"/result-*; do [ -s "$f" ] && fail "$(cat "$f")"; done

# ---- Disks of little room ----------------------------------------------------------------------------
# A disk of its own: a folder of the drive whose files may take BYTES (VKR_TEST_DISK_SIZE).
# on_disk FOLDER BYTES COMMAND...: rc, last (stderr's last line), err.
on_disk() {
  local at=$1 bytes=$2
  shift 2
  out=$(env "${preload[@]}" VKR_TEST_DISK_SIZE="$(realpath "$VKR_DRIVE_ROOT/c/$at")@$bytes" "$host" "$@" 2>"$dir/err")
  rc=$?
  err=$(cat "$dir/err")
  last=$(tail -n 1 "$dir/err")
}
full="0x80070070 (ERROR_DISK_FULL): the disk is full"

# A first upload on a disk of 8 KiB that holds only the device file: each file's room alone is
# there, not the room of all the upload creates.
mkdir "$VKR_DRIVE_ROOT/c/tight"
cp "$dir/base.vkr.device" "$VKR_DRIVE_ROOT/c/tight/p.vkr.device"
on_disk tight 8192 upload --project 'C:\tight\p.vkr'
[ $rc = 1 ] && [[ $last == "vkr-frame: nothing was done: C:\\tight\\p.vkr"*" cannot be written: $full" ]] ||
  fail "a first upload on a nearly full disk: $rc $err"
[ "$(ls -A "$VKR_DRIVE_ROOT/c/tight")" = p.vkr.device ] && cmp -s "$VKR_DRIVE_ROOT/c/tight/p.vkr.device" "$dir/base.vkr.device" ||
  fail "a first upload on a nearly full disk left: $(ls -A "$VKR_DRIVE_ROOT/c/tight")"
echo "$err" | grep -q "^upload: " && fail "a first upload on a nearly full disk went online: $err"
# With the room of all three, it is done.
on_disk tight $((4 * 4096)) upload --project 'C:\tight\p.vkr'
[ $rc = 0 ] || fail "a first upload with the room of its files: $err"

# Free room between one copy and two copies of each file a download replaces: a device file of
# more than 2 KiB (a device memory of 300 words) takes one block, its check two.
mkdir "$VKR_DRIVE_ROOT/c/room"
for f in vkr vkr.device vkr.compared; do cp "$dir/base.$f" "$VKR_DRIVE_ROOT/c/room/r.$f"; done
words=$(python3 -c 'print("".join("%04X%04X" % (a, a) for a in range(300)))')
if grep -q '^memory ' "$dir/base.vkr.device"; then
  sed -i "s/^memory .*/memory $words/" "$VKR_DRIVE_ROOT/c/room/r.vkr.device"
else
  echo "memory $words" >>"$VKR_DRIVE_ROOT/c/room/r.vkr.device"
fi
[ "$(wc -c <"$VKR_DRIVE_ROOT/c/room/r.vkr.device")" -gt 2048 ] || fail "the device file is not over 2 KiB"
for f in vkr vkr.device vkr.compared; do cp "$VKR_DRIVE_ROOT/c/room/r.$f" "$dir/room.$f"; done
used=$((3 * 4096))
# Free: the project's and the record's two copies (one block each) and the device file's two
# (two blocks), less one block; then all of it.
on_disk room $((used + 3 * 4096)) download --project 'C:\room\r.vkr'
[ $rc = 1 ] && [ "$last" = "vkr-frame: nothing was done: C:\\room\\r.vkr.device cannot be written: $full" ] ||
  fail "a download with the room of one copy of its device file: $rc $err"
for f in vkr vkr.device vkr.compared; do cmp -s "$VKR_DRIVE_ROOT/c/room/r.$f" "$dir/room.$f" || fail "r.$f changed"; done
on_disk room $((used + 4 * 4096)) download --project 'C:\room\r.vkr'
[ $rc = 0 ] || fail "a download with the room of two copies of each file: $err"
echo "record faults ok"
