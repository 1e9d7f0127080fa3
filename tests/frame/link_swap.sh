#!/usr/bin/env bash
# A link swapped in while a command runs leads nowhere out of the drive root. Each row holds a
# command at one of its moments (the host's test hold), moves the project's folder aside and puts
# in its place a link to a copy of it outside the drive root, then lets the command go on. The
# copy outside stays byte for byte as it was, nothing appears beside it, and the command fails
# (exit 1) when it still had a file to write, naming it; the real folder, moved aside, is left
# whole. Rows: upload (first and again), download, compare, status and a user interface's write,
# at each point each of them comes to.
set -u
host=$1
. "$(dirname "$0")/host_env.sh"
. "$(dirname "$0")/host_project.sh"
drives=$VKR_DRIVE_ROOT
upload plain
run ui 5 --offline --project 'C:\VKR\plain.vkr' --png "$dir/edit.png" --type 614=6.5 --type 615=1.25 --click 1 --answer No
[ $rc = 0 ] || fail "the offline edit: $last"
mkdir -p "$dir/outside"

# What a folder holds: every name, size and content.
snapshot() { (cd "$1" && find . -printf '%p %s\n' | sort && find . -type f -exec md5sum {} + | sort); }

# row N POINT WHAT COMMAND...: project C:\SN\p.vkr, set up as WHAT says (first: no project, only
# its transmitter; edited: the data set differs from the transmitter; told: the transmitter has a
# cold start to tell), the command held at POINT while C:\SN becomes a link to a copy outside.
row() {
  local n=$1 point=$2 what=$3
  shift 3
  local real="$drives/c/S$n" out="$dir/outside/S$n" at="$dir/hold-$n"
  mkdir -p "$real" "$at"
  cp "$folder/plain.vkr.device" "$real/p.vkr.device"
  if [ "$what" != first ]; then
    cp "$folder/plain.vkr" "$real/p.vkr"
    cp "$folder/plain.vkr.compared" "$real/p.vkr.compared"
  fi
  [ "$what" = told ] && setlines "$real/p.vkr.device" coldStart 01
  cp -a "$real" "$out"
  local before
  before=$(snapshot "$out")
  mkfifo "$at/$point.reached" "$at/$point.go"
  exec {reached}<>"$at/$point.reached"
  (
    VKR_FRAME_TEST_HOLD=$point VKR_FRAME_TEST_HOLD_IN=$at "$host" "$@" --project "C:\\S$n\\p.vkr" \
      >"$at/out" 2>"$at/err"
    echo $? >"$at/rc"
    echo ended >"$at/$point.reached"
  ) &
  local pid=$! line
  read -r line <&"$reached"
  exec {reached}<&-
  if [ "$line" != "$point" ]; then
    echo "S$n ($*): ended before it came to $point: $(cat "$at/err")"
    wait $pid
    return
  fi
  mv "$real" "$real.real"
  ln -s "$out" "$real"
  echo go >"$at/$point.go"
  wait $pid
  local rc
  rc=$(cat "$at/rc")
  [ "$(snapshot "$out")" = "$before" ] ||
    echo "S$n ($* at $point): written outside the drive root: $(diff <(echo "$before") <(snapshot "$out"))"
  [ "$rc" = 1 ] && grep -q "C:\\\\S$n\\\\p\\.vkr" "$at/err" ||
    echo "S$n ($* at $point): ended $rc, not refusing a file of C:\\S$n: $(tail -n 2 "$at/err")"
  [ -z "$(find "$real.real" -name '*.new.*')" ] || echo "S$n: a new file left beside the real files"
}

rows() {
  row 1 uploaded first upload
  row 2 interim first upload
  row 3 uploaded plain upload
  row 4 interim plain upload --wire-delay hart
  row 5 change edited download
  row 6 verdict edited download
  row 7 verdict plain compare
  row 8 change told status
  row 9 change plain ui 1 --page 1 --type 399=7 --click 221 --png "$dir/ui.png"
}
result=$(rows)
[ -z "$result" ] || fail "$result"
echo "link swap ok"
