#!/usr/bin/env bash
# A project's files under the frame host's commands, judged by the bytes the files end up holding:
# two commands at once on one project (neither loses the other's work without a word), damaged
# device files (refused, never written over), a disk that fails after the transmitter took a
# download (the device file still follows the transmitter), `ui` on the project's transmitter, and
# the smaller edges (a folder for a project, a transmitter at another address, leftovers).
set -u
host=$1
faults=$2  # preloaded for a failing disk: fsync fails where VKR_TEST_FSYNC_FAILS says
. "$(dirname "$0")/host_env.sh"
. "$(dirname "$0")/host_project.sh"
# Every file of the folder with its checksum.
files() { (cd "$folder" && find . -type f | sort | xargs md5sum); }

# ---- Two commands on one project ----------------------------------------------------------------
# A download at the wire's speed runs while another command saves the project's files. Of two
# commands that loaded one file and save it, the second is refused, with one line naming the file,
# and exits 1; the first one's bytes stay. Which one comes second depends on the machine's speed (a
# slow `ui` saves after the download, or loads after it saved), so every order is judged by what
# each file then holds. The device file still gets what reached the transmitter when the other
# command left it alone. Two projects at once: an offline edit (the project file), and an online
# write through the Command page (the device file and the project).
for p in edit write; do upload $p; done
for p in edit write; do
  "$host" download --project "C:\\VKR\\$p.vkr" --wire-delay hart >"$dir/$p.out" 2>"$dir/$p.err" &
  echo $! >"$dir/$p.pid"
done
for p in edit write; do
  # Until the download says it started (at most two minutes: a loaded machine is slow to start it).
  for _ in $(seq 1200); do grep -q "^download: " "$dir/$p.err" && break; sleep 0.1; done
  grep -q "^download: " "$dir/$p.err" || fail "the download of $p did not start: $(cat "$dir/$p.err")"
done
"$host" ui 5 --offline --project 'C:\VKR\edit.vkr' --png "$dir/edit.png" --type 616=8.25 --click 1 \
  >"$dir/edit.ui.out" 2>"$dir/edit.ui.err"
echo $? >"$dir/edit.ui.rc"
"$host" ui 1 --project 'C:\VKR\write.vkr' --png "$dir/write.png" --click 578 --type 544=5 --click 221 \
  >"$dir/write.ui.out" 2>"$dir/write.ui.err"
echo $? >"$dir/write.ui.rc"
for p in edit write; do
  wait "$(cat "$dir/$p.pid")"
  echo $? >"$dir/$p.rc"
done
changed="another command changed that file while this one ran (its work is kept; run this command again)"
logs() { cat "$dir/$1.out" "$dir/$1.err" "$dir/$1.ui.out" "$dir/$1.ui.err"; }
# (A download's refusal of its data set's save says too what the device holds.)
holds="; the device holds the downloaded data set"
refusals() { grep -c "^vkr-frame: the .* was not saved to .*: $changed\($holds\)\?$" "$1"; }
refused() { grep -qxF -e "vkr-frame: the $2 was not saved to $3: $changed" -e "vkr-frame: the $2 was not saved to $3: $changed$holds" "$1"; }
# refusedBy P WHAT FILE: sets "by" to the one of the two commands on P that refused its save of the
# file ("ui", "download" or "none"); never both.
refusedBy() {
  by=none
  refused "$dir/$1.err" "$2" "$3" && by=download
  if refused "$dir/$1.ui.err" "$2" "$3"; then
    [ $by = none ] || fail "$1: both commands refused their save of $3: $(logs "$1")"
    by=ui
  fi
}
for p in edit write; do
  # A command exits 1 exactly when it refused a save; nothing is refused without its line.
  for c in "$p" "$p.ui"; do
    n=$(refusals "$dir/$c.err")
    { [ "$n" = 0 ] && [ "$(cat "$dir/$c.rc")" = 0 ]; } || { [ "$n" -ge 1 ] && [ "$(cat "$dir/$c.rc")" = 1 ]; } ||
      fail "$c ended with $(cat "$dir/$c.rc") after $n refusals: $(logs "$p")"
  done
done
# The edit is kept unless its save was refused (then the download's data set stands, and the user
# heard so); a download refused leaves the record knowing nothing of the device.
refusedBy edit "data set" 'C:\VKR\edit.vkr'
if [ "$by" != ui ]; then
  run ui 5 --offline --project 'C:\VKR\edit.vkr' --png "$dir/edit.png" --read 616
  echo "$out" | grep -qF 'item 616: "8.250"' || fail "the offline edit was lost ($by refused): $out $(logs edit)"
fi
if [ "$by" = download ]; then
  [ "$(cat "$folder/edit.vkr.compared")" = "verdict none" ] || fail "the record claims to know the device"
fi
# The edit's project left the device file alone: it holds what the download wrote.
[ "$(field edit.vkr.device configChanged)" = 01 ] || fail "the download's writes did not reach the device file"
refusedBy write "data set" 'C:\VKR\write.vkr'
# The transmitter of the write: the download's when the write's save was refused, else the write's
# (saved first, or after it loaded what the download saved).
refusedBy write device 'C:\VKR\write.vkr.device'
if [ $by = ui ]; then
  [ "$(field write.vkr.device upperRange)" = 3F000000 ] || fail "the download's transmitter was lost: $(logs write)"
else
  [ "$(field write.vkr.device upperRange)" = 40A00000 ] || fail "the online write was lost from the device file: $(logs write)"
fi

# ---- Damaged device files ----------------------------------------------------------------------
# damage (a sed script on a whole device file) | what the refusal says
upload damaged
cp "$folder/damaged.vkr.device" "$dir/whole.device"
damages=(
  's/^damping .*/damping 403000/|"damping" holds 3 bytes, not 4'
  's/^pvUnit .*/pvUnit 2C2C/|"pvUnit" holds 2 bytes, not 1'
  '/^message /d|no line "message"'
  's/^damping .*/damping 3F00000G/|"damping" is not hex'
  '$a dampening 00|a line "dampening" it does not keep'
  '$a pvUnit 2D|"pvUnit" twice'
  's/^fixedCurrent .*/fixedCurrent 0000/|"fixedCurrent" holds 2 bytes, not 4'
  's/^zeroTrim.*/zeroTrim 41/|"zeroTrim" holds 1 bytes, not 0 or 4'
  '1,$d|no line "alarmSelect"'
)
for d in "${damages[@]}"; do
  IFS='|' read -r script why <<<"$d"
  sed "$script" "$dir/whole.device" >"$folder/damaged.vkr.device"
  before=$(files)
  for command in download status "ui 1" compare; do
    # shellcheck disable=SC2086
    run $command --project 'C:\VKR\damaged.vkr'
    [ $rc = 1 ] && [ "$last" = "vkr-frame: the device file C:\\VKR\\damaged.vkr.device is damaged ($why); nothing was changed" ] ||
      fail "$command on a device file with $script: $rc $last"
    [ "$(files)" = "$before" ] || fail "$command on a device file with $script changed a file"
  done
done
rm "$folder/damaged.vkr.device" && mkdir "$folder/damaged.vkr.device"
run status --project 'C:\VKR\damaged.vkr'
[ "$last" = "vkr-frame: the device file C:\\VKR\\damaged.vkr.device is not a file (a folder of that name is there); nothing was changed" ] ||
  fail "a folder for the device file: $last"

# ---- What reached the transmitter reaches its device file --------------------------------------
upload disk
for f in disk.vkr disk.vkr.device disk.vkr.compared; do cp "$folder/$f" "$dir/$f"; done
restore() { for f in disk.vkr disk.vkr.device disk.vkr.compared; do cp "$dir/$f" "$folder/$f"; done; }
run download --project 'C:\VKR\disk.vkr'
[ $rc = 0 ] || fail "the download to compare with: $last"
cp "$folder/disk.vkr.device" "$dir/downloaded.device"
cmp -s "$dir/downloaded.device" "$dir/disk.vkr.device" && fail "the download left the device file as it was"
restore
# The project cannot be saved after the transfer: the disk, which had the room the download
# checked for before it went online (its file twice over, in whole 4 KiB blocks), fills meanwhile.
size=$(wc -c <"$folder/disk.vkr")
out=$(LD_PRELOAD=$faults ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0 \
  VKR_TEST_DISK_FULL="disk.vkr.new.@$(((2 * size + 4095) / 4096 * 4096))" "$host" download --project 'C:\VKR\disk.vkr' 2>&1)
[ $? = 1 ] || fail "a download whose project save failed did not fail: $out"
echo "$out" | tail -n 1 | grep -qx "vkr-frame: the data set could not be saved to C:\\\\VKR\\\\disk.vkr: 0x80070070 (ERROR_DISK_FULL): the disk is full; the device holds the downloaded data set" ||
  fail "the failed project save said: $out"
cmp -s "$folder/disk.vkr.device" "$dir/downloaded.device" || fail "the transmitter took the download, its device file did not"
cmp -s "$folder/disk.vkr" "$dir/disk.vkr" || fail "the failed save changed the project"
[ "$(cat "$folder/disk.vkr.compared")" = "verdict none" ] || fail "the record claims to know the device"
ls "$folder" | grep -q "\.new\." && fail "the failed save left a new file: $(ls "$folder")"
# The folder cannot be written through after a rename: said, not ignored.
restore
out=$(LD_PRELOAD=$faults ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0 \
  VKR_TEST_FSYNC_FAILS=folder "$host" compare --project 'C:\VKR\disk.vkr' 2>&1)
[ $? = 1 ] || fail "a comparison whose folder failed did not fail: $out"
echo "$out" | tail -n 1 | grep -qx "vkr-frame: the comparison with the device was saved to C:\\\\VKR\\\\disk.vkr.compared, but its folder could not be written through to the disk: 0x8007045D (ERROR_IO_DEVICE): input/output error" ||
  fail "the failed folder said: $out"
# A project older than the frame's container with a value byte damaged: refused as show refuses
# it, before anything reaches the transmitter.
restore
python3 - "$folder/disk.vkr" <<'PY'
import sys
data = bytearray(open(sys.argv[1], 'rb').read()[16:])
data[14] ^= 1
open(sys.argv[1], 'wb').write(data)
PY
cp "$folder/disk.vkr" "$dir/old.vkr"
run show --project 'C:\VKR\disk.vkr'
shown=$last
run download --project 'C:\VKR\disk.vkr'
[ $rc = 1 ] && [ "$last" = "$shown" ] && echo "$last" | grep -q "the DTM's parameter document is not valid" ||
  fail "the damaged older project: download said \"$last\", show \"$shown\""
grep -q "^download: " "$dir/err" && fail "the damaged older project went online"
cmp -s "$folder/disk.vkr.device" "$dir/disk.vkr.device" || fail "the damaged older project reached the transmitter"

# ---- ui talks to the project's transmitter -------------------------------------------------------
upload ui
cp "$folder/ui.vkr.device" "$dir/ui.device"
run ui 1 --project 'C:\VKR\ui.vkr' --png "$dir/ui.png" --click 578 --type 544=5 --click 221
[ $rc = 0 ] && [ "$(field ui.vkr.device upperRange)" = 40A00000 ] || fail "Hi Level 5 did not reach the device file: $out $last"
upload ui
run ui 5 --offline --project 'C:\VKR\ui.vkr' --png "$dir/ui.png" --read 615
echo "$out" | grep -qF 'item 615: "5.000"' || fail "the next upload did not find Hi Level 5: $out"
# Another transmitter named with --device (an upload puts it in place); the project's own stays as
# it was.
run upload --project 'C:\VKR\spare.vkr' --device 'C:\VKR\spare.device'
[ $rc = 0 ] || fail "the upload of the spare transmitter: $last"
cp "$folder/ui.vkr.device" "$dir/ui.device"
run ui 1 --project 'C:\VKR\ui.vkr' --device 'C:\VKR\spare.device' --png "$dir/ui.png" --click 578 --type 544=6 --click 221
[ $rc = 0 ] && [ "$(field spare.device upperRange)" = 40C00000 ] || fail "--device: $out $last"
cmp -s "$folder/ui.vkr.device" "$dir/ui.device" || fail "--device changed the project's own device file"
# A loop current left fixed (12 mA) shows in the device file and in status; a control that fixes
# and gives it back leaves it given back.
sed -i 's/^fixedCurrent .*/fixedCurrent 41400000/' "$folder/ui.vkr.device"
run status --project 'C:\VKR\ui.vkr'
echo "$out" | grep -qx "transmitter: loop current fixed at 12.000 mA" || fail "status did not show the fixed current: $out"
run ui 4 --project 'C:\VKR\ui.vkr' --png "$dir/ui.png" --click 377
echo "$out" | grep -q "transmitter: loop current 4.000 mA (fixed)" || fail "the loop test did not fix 4 mA: $out"
[ "$(field ui.vkr.device fixedCurrent)" = 00000000 ] || fail "the current the loop test gave back is still fixed in the device file"
run status --project 'C:\VKR\ui.vkr'
echo "$out" | grep -q "loop current fixed" && fail "status after the loop test: $out"
# A look at a project that is not there writes none.
run ui 5 --offline --project 'C:\VKR\none.vkr' --png "$dir/ui.png" --read 616
[ $rc = 0 ] && [ ! -e "$folder/none.vkr" ] || fail "a look at a project that is not there: $rc $(ls "$folder")"

# ---- The smaller edges ---------------------------------------------------------------------------
mkdir "$folder/folder.vkr"
for command in show upload "ui 1" "ui 5 --offline" items "compare --with C:\\VKR\\ui.vkr"; do
  # shellcheck disable=SC2086
  run $command --project 'C:\VKR\folder.vkr'
  [ "$last" = "vkr-frame: the project file C:\\VKR\\folder.vkr is not a file (a folder of that name is there); nothing was changed" ] ||
    fail "$command on a folder: $last"
done
upload far
sed -i 's/^pollingAddress .*/pollingAddress 05/' "$folder/far.vkr.device"
# A download looks where the project says; an upload scans the line, and the project takes the
# address the transmitter answers at.
run download --project 'C:\VKR\far.vkr'
[ "$last" = "vkr-frame: the DTM refused the download: no device answered at polling address 0" ] ||
  fail "download of a transmitter at address 5: $last"
run upload --project 'C:\VKR\far.vkr'
[ $rc = 0 ] && echo "$out" | grep -qx "found the transmitter at polling address 5" || fail "upload of a transmitter at address 5: $rc $out $last"
run download --project 'C:\VKR\far.vkr'
[ $rc = 0 ] || fail "download after the upload found the transmitter at address 5: $last"
# What killed commands left beside the project's files goes at the next command on the project;
# a file of another kind stays.
guid='{0123ABCD-4567-89EF-0123-456789ABCDEF}'
for f in far.vkr far.vkr.device far.vkr.compared; do echo cut >"$folder/$f.new.$guid"; done
echo mine >"$folder/far.vkr.new.notes"
run show --project 'C:\VKR\far.vkr'
[ $rc = 0 ] || fail "show: $last"
[ "$(cd "$folder" && ls far.vkr*)" = "$(printf '%s\n' far.vkr far.vkr.compared far.vkr.device far.vkr.new.notes)" ] ||
  fail "the leftovers were not removed: $(ls "$folder")"
echo "project files ok"
