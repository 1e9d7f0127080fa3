#!/usr/bin/env bash
# Two commands on one project at the moments where one could make the other's record of the device
# stale: each command is held at its point (the host's test hold: a fifo it writes when it gets
# there, one it reads before it goes on) while the other runs, then let go. After each moment the
# record never claims what compare does not find (a verdict "uploaded" or "equal" with a
# difference, "notEqual" without one), each command's last line says what it did, and the
# transmitter holds the download exactly when a line says so.
set -u
host=$1
. "$(dirname "$0")/host_env.sh"
. "$(dirname "$0")/host_project.sh"

# The project differs from its transmitter in the settings a download writes.
upload plain
run ui 5 --offline --project 'C:\VKR\plain.vkr' --png "$dir/edit.png" --type 614=6.5 --type 615=1.25 \
  --type 620=42 --type 625=0.333 --type 209='KEEP DRY' --click 1 --answer No
[ $rc = 0 ] || fail "the offline edit: $out $last"
for f in vkr vkr.device vkr.compared; do cp "$folder/plain.$f" "$dir/base.$f"; done
[ "$(head -n 1 "$dir/base.vkr.compared")" = "verdict uploaded" ] || fail "no uploaded record to start from"
# What the transmitter holds after the download on its own.
run download --project 'C:\VKR\plain.vkr'
[ $rc = 0 ] || fail "the download on its own: $last"
cp "$folder/plain.vkr.device" "$dir/downloaded.device"

# Holds: started COMMAND NAME POINT ARGS...: the host runs ARGS on project NAME, held at POINT;
# returns once it is there. Its exit status and output go to $dir/NAME.COMMAND.{rc,out,err}. A
# command that ends without coming to its point says so through the same fifo.
started() {
  local who=$1 name=$2 point=$3
  shift 3
  local at="$dir/hold-$name-$who"
  mkdir -p "$at"
  mkfifo "$at/${point%%#*}.reached" "$at/${point%%#*}.go"
  exec {reached}<>"$at/${point%%#*}.reached"
  (
    VKR_FRAME_TEST_HOLD=$point VKR_FRAME_TEST_HOLD_IN=$at "$host" "$@" --project "C:\\VKR\\$name.vkr" \
      >"$dir/$name.$who.out" 2>"$dir/$name.$who.err"
    echo $? >"$dir/$name.$who.rc"
    echo ended >"$at/${point%%#*}.reached"
  ) &
  pids[$who]=$!
  local line
  read -r line <&"$reached"
  exec {reached}<&-
  [ "$line" = "${point%%#*}" ] || echo "$name: $who ended before it came to $point: $(cat "$dir/$name.$who.err")"
}
# let_go NAME WHO POINT: lets the held command go on and waits for its end.
declare -A pids
let_go() {
  echo go >"$dir/hold-$1-$2/${3%%#*}.go"
  wait "${pids[$2]}"
}
# ran NAME WHO ARGS...: the host runs ARGS on project NAME to its end.
ran() {
  local name=$1 who=$2
  shift 2
  "$host" "$@" --project "C:\\VKR\\$name.vkr" >"$dir/$name.$who.out" 2>"$dir/$name.$who.err"
  echo $? >"$dir/$name.$who.rc"
}
# The last line a command left: stdout's when it succeeded, stderr's when it failed.
told() {
  if [ "$(cat "$dir/$1.$2.rc")" = 0 ]; then tail -n 1 "$dir/$1.$2.out"; else tail -n 1 "$dir/$1.$2.err"; fi
}
# expect NAME WHO RC LINE: the command's exit status and last line.
expect() {
  local rc last
  rc=$(cat "$dir/$1.$2.rc")
  last=$(told "$1" "$2")
  [ "$rc" = "$3" ] && [ "$last" = "$4" ] || echo "$1: $2 ended $rc: $last"
}
# differed NAME: compare ended 0 and found the data set different.
differed() {
  [ "$(cat "$dir/$1.compare.rc")" = 0 ] && grep -qx "the data set differs from the device" "$dir/$1.compare.out" ||
    echo "$1: compare ended $(cat "$dir/$1.compare.rc"): $(cat "$dir/$1.compare.out" "$dir/$1.compare.err")"
}
# judged NAME DOWNLOADED: the record against compare, and the transmitter against the download's
# word (DOWNLOADED yes: it holds the project's edits; no: it is as it was).
judged() {
  local name=$1 verdict compared
  verdict=$(head -n 1 "$folder/$name.vkr.compared")
  # The record as it was tells of the transmitter as it was (its upload before the offline edit).
  local unchanged=no
  cmp -s "$folder/$name.vkr.compared" "$dir/base.vkr.compared" &&
    [ "$(settings "$folder/$name.vkr.device")" = "$(settings "$dir/base.vkr.device")" ] && unchanged=yes
  compared=$("$host" compare --project "C:\\VKR\\$name.vkr" 2>&1)
  case $verdict in
    "verdict uploaded" | "verdict equal")
      [ $unchanged = yes ] || echo "$compared" | grep -qx "the data set equals the device" ||
        echo "$name: the record says $verdict, compare: $compared" ;;
    "verdict notEqual")
      echo "$compared" | grep -qx "the data set differs from the device" || echo "$name: the record says $verdict, compare: $compared" ;;
    "verdict none") ;;
    *) echo "$name: the record holds $verdict" ;;
  esac
  case $2 in
    yes) [ "$(settings "$folder/$name.vkr.device")" = "$(settings "$dir/downloaded.device")" ] ||
      echo "$name: the download said it wrote the transmitter, which holds: $(diff <(settings "$dir/downloaded.device") <(settings "$folder/$name.vkr.device"))" ;;
    no) [ "$(settings "$folder/$name.vkr.device")" = "$(settings "$dir/base.vkr.device")" ] ||
      echo "$name: the transmitter changed: $(diff <(settings "$dir/base.vkr.device") <(settings "$folder/$name.vkr.device"))" ;;
  esac
}
# The settings, what the status has to tell a master aside.
settings() { grep -vE '^(configChangeCounter|configChanged|coldStart|acknowledgedStatus) ' "$1"; }
fresh() { for f in vkr vkr.device vkr.compared; do cp "$dir/base.$f" "$folder/$1.$f"; done; }

kept="another command changed that file while this one ran (its work is kept; run this command again)"
moved="another command changed the transmitter while this one ran (run this command again)"
downloaded="downloaded; read back: the device holds the data set"

# 0. A download while an upload has read the transmitter and written nothing yet: the upload then
#    finds the record changed, and keeps nothing.
moment_uploaded() {
  local n=uploaded
  fresh $n
  started upload $n uploaded upload
  ran $n download download
  let_go $n upload uploaded
  expect $n download 0 "$downloaded"
  expect $n upload 1 "vkr-frame: the comparison with the device was not saved to C:\\VKR\\$n.vkr.compared: $kept; the upload changed nothing in the device"
  judged $n yes
}

# 1. A download while an upload at the wire's speed has made its record unknown and not yet saved
#    its project: the download writes the transmitter; the upload then keeps neither its data set
#    nor its verdict, which no longer describe the device.
moment_interim() {
  local n=interim
  fresh $n
  started upload $n interim upload --wire-delay hart
  ran $n download download
  let_go $n upload interim
  expect $n download 0 "$downloaded"
  expect $n upload 1 "vkr-frame: the data set was not saved to C:\\VKR\\$n.vkr: $moved; the upload changed nothing in the device"
  judged $n yes
}

# 2. The issue's moment: a download that read the upload's interim record and the older project,
#    held before its first change while the upload saves its project and renames its verdict in:
#    the download then finds the record changed, and writes nothing to the transmitter.
moment_upload_first() {
  local n=first
  fresh $n
  started upload $n interim upload
  started download $n change download
  let_go $n upload interim
  expect $n upload 0 "uploaded; data set saved to C:\\VKR\\$n.vkr"
  let_go $n download change
  expect $n download 1 "vkr-frame: the comparison with the device was not saved to C:\\VKR\\$n.vkr.compared: $kept; nothing was written to the device"
  judged $n no
}

# 3. The same, the download let go first: it made the record unknown over the upload's interim
#    one and changed the transmitter; the upload saves no data set of a device that changed.
moment_download_first() {
  local n=second
  fresh $n
  started upload $n interim upload
  started download $n change#2 download
  let_go $n upload interim
  expect $n upload 1 "vkr-frame: the data set was not saved to C:\\VKR\\$n.vkr: $moved; the upload changed nothing in the device"
  let_go $n download change
  expect $n download 0 "$downloaded"
  judged $n yes
}

# 4. An upload that saved its project, held before its verdict, while a download runs: the
#    download's verdict stands, the upload's is not written over it.
moment_verdict() {
  local n=verdict
  fresh $n
  started upload $n verdict upload
  ran $n download download
  let_go $n upload verdict
  expect $n download 0 "$downloaded"
  expect $n upload 1 "vkr-frame: the comparison with the device was not saved to C:\\VKR\\$n.vkr.compared: $kept; the data set was saved to C:\\VKR\\$n.vkr; the upload changed nothing in the device"
  judged $n no
}

# 5. compare between two writes of a download: what it found stands until the download's next
#    write, which makes the record unknown again; the download's own verdict is the last.
moment_compare_between() {
  local n=between
  fresh $n
  started download $n change#3 download
  ran $n compare compare
  let_go $n download change
  differed $n
  expect $n download 0 "$downloaded"
  judged $n yes
}

# 6. compare after a download's read back, before its verdict: compare's stands; the download
#    says its own was not written and what the device holds.
moment_compare_after() {
  local n=after
  fresh $n
  started download $n verdict download
  ran $n compare compare
  let_go $n download verdict
  expect $n compare 0 "the data set equals the device"
  expect $n download 1 "vkr-frame: the comparison with the device was not saved to C:\\VKR\\$n.vkr.compared: $kept; the device holds the downloaded data set"
  judged $n yes
}

# 7. compare held before its verdict while a download runs, and while a page writes the
#    transmitter (which leaves the record alone): a comparison of a device that changed since is
#    not kept.
moment_compare_held() {
  local n=held
  fresh $n
  started compare $n verdict compare
  ran $n download download
  let_go $n compare verdict
  expect $n download 0 "$downloaded"
  expect $n compare 1 "vkr-frame: the comparison with the device was not saved to C:\\VKR\\$n.vkr.compared: $kept; this command changed nothing in the device"
  judged $n yes
  # A page's write: it makes the record unknown before the transmitter changes.
  n=page
  fresh $n
  started compare $n verdict compare
  "$host" ui 1 --page 0 --project "C:\\VKR\\$n.vkr" --png "$dir/$n.png" --type 542=0.333 --click 221 >"$dir/$n.ui.out" 2>&1 ||
    echo "$n: the page's write: $(cat "$dir/$n.ui.out")"
  let_go $n compare verdict
  expect $n compare 1 "vkr-frame: the comparison with the device was not saved to C:\\VKR\\$n.vkr.compared: $kept; this command changed nothing in the device"
  [ "$(cat "$folder/$n.vkr.compared")" = "verdict none" ] || echo "$n: after the page's write the record holds $(cat "$folder/$n.vkr.compared")"
  # Another frame's write that leaves the record alone: the device file's settings changed.
  n=other
  fresh $n
  started compare $n verdict compare
  setlines "$folder/$n.vkr.device" damping 3EAA7EFA
  let_go $n compare verdict
  expect $n compare 1 "vkr-frame: the comparison with the device was not saved to C:\\VKR\\$n.vkr.compared: $moved; this command changed nothing in the device"
  cmp -s "$folder/$n.vkr.compared" "$dir/base.vkr.compared" || echo "$n: the record changed"
  # What the status has to tell another master is no setting: the comparison stands.
  n=status
  fresh $n
  started compare $n verdict compare
  setlines "$folder/$n.vkr.device" configChanged 0001
  let_go $n compare verdict
  differed $n
}

for moment in moment_uploaded moment_interim moment_upload_first moment_download_first moment_verdict moment_compare_between \
  moment_compare_after moment_compare_held; do
  $moment >"$dir/result-$moment" 2>&1 &
done
wait
for moment in moment_uploaded moment_interim moment_upload_first moment_download_first moment_verdict moment_compare_between \
  moment_compare_after moment_compare_held; do
  [ -s "$dir/result-$moment" ] && fail "$(cat "$dir/result-$moment")"
done
echo "record moments ok"
