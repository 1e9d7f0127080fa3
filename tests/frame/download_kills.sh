#!/usr/bin/env bash
# A download at the wire's speed killed (SIGKILL) at twenty moments spread over its run: when its
# first write reached the transmitter, and after each of its first nineteen progress lines. The
# device file then holds every write the transmitter confirmed before the kill (the writes the
# download's progress had counted, all of them once the read back ran), each line as before the
# download or as the whole download leaves it, whole and loadable; the project is as it was; the
# record says nothing is known once the device changed, and is as it was before that.
set -u
host=$1
. "$(dirname "$0")/host_env.sh"
. "$(dirname "$0")/host_project.sh"

# The project differs from its transmitter in every setting the download writes.
upload plain
run ui 5 --offline --project 'C:\VKR\plain.vkr' --no-picture --type 612=Distance --type 614=6.5 \
  --type 615=1.25 --type 616=2.5 --type 617=Velomode --type 620=42 --type 623=10.0 --type 624='Park 8 mA' \
  --type 625=0.333 --type 205=TANK7 --type 207='NORTH SILO' --type 209='KEEP DRY' --type 358=17 --click 1 --answer No
[ $rc = 0 ] || fail "the offline edit: $out $last"
for f in plain.vkr plain.vkr.device plain.vkr.compared; do cp "$folder/$f" "$dir/$f.before"; done
counter() { printf '%d' "0x$(grep '^configChangeCounter ' "$1" | cut -d' ' -f2)"; }

# The whole download once: what the transmitter holds after it, how many writes, how many lines.
"$host" download --wire-delay hart --project 'C:\VKR\plain.vkr' >/dev/null 2>"$dir/whole.err" ||
  fail "the whole download: $(cat "$dir/whole.err")"
cp "$folder/plain.vkr.device" "$dir/after.device"
writes=$(($(counter "$dir/after.device") - $(counter "$dir/plain.vkr.device.before")))
lines=$(wc -l <"$dir/whole.err")
[ "$writes" -ge 4 ] && [ "$lines" -ge 22 ] || fail "the download made $writes writes and $lines progress lines"

# Kills the download of project kill-N at moment N; says what went wrong, nothing when all held.
kill_at() {
  local n=$1 name="kill-$1" err="$dir/kill-$1.err"
  for f in vkr vkr.device vkr.compared; do cp "$dir/plain.$f.before" "$folder/$name.$f"; done
  "$host" download --wire-delay hart --project "C:\\VKR\\$name.vkr" >/dev/null 2>"$err" &
  local pid=$!
  # The moment: the device file changed (the first write), or the Nth progress line.
  while :; do
    if [ "$n" = 0 ]; then
      cmp -s "$folder/$name.vkr.device" "$dir/plain.vkr.device.before" || break
    else
      [ "$(wc -l <"$err")" -ge "$n" ] && break
    fi
    kill -0 "$pid" 2>/dev/null || { echo "moment $n: the download ended first: $(cat "$err")"; return; }
    sleep 0.01
  done
  kill -9 "$pid"
  wait "$pid" 2>/dev/null
  local rc=$?
  [ $rc = 137 ] || { echo "moment $n: the download was not killed (exit $rc)"; return; }
  # The writes confirmed before the kill, as the progress the download printed counts them.
  # (The DTM counts out a share of the writes before each next one: i of them make i * 100 / writes
  # per cent, rounded down.)
  local told percent confirmed=0
  told=$(grep -E '^(download|read back): ' "$err" | tail -n 1)
  case $told in
    "read back: "*) confirmed=$writes ;;
    "download: "*)
      percent=${told#download: }
      confirmed=$(((${percent%\%} * writes + 99) / 100))
      ;;
  esac
  local device="$folder/$name.vkr.device" held
  held=$(($(counter "$device") - $(counter "$dir/plain.vkr.device.before")))
  [ "$held" -ge "$confirmed" ] && [ "$held" -le "$writes" ] ||
    { echo "moment $n ($told): the device file holds $held writes of $writes, $confirmed confirmed"; return; }
  if [ "$confirmed" = "$writes" ]; then
    cmp -s "$device" "$dir/after.device" || { echo "moment $n: the device file is not the whole download's"; return; }
  fi
  # Each setting as before or as the whole download leaves it.
  while read -r line value; do
    [ "$line" = configChangeCounter ] && continue
    grep -qx "$line $value" "$dir/plain.vkr.device.before" || grep -qx "$line $value" "$dir/after.device" ||
      { echo "moment $n: $line holds $value"; return; }
  done <"$device"
  cmp -s "$folder/$name.vkr" "$dir/plain.vkr.before" || { echo "moment $n: the project changed"; return; }
  if [ "$held" -gt 0 ]; then
    [ "$(cat "$folder/$name.vkr.compared")" = "verdict none" ] || { echo "moment $n: the record still claims to know the device"; return; }
  else
    cmp -s "$folder/$name.vkr.compared" "$dir/plain.vkr.compared.before" || { echo "moment $n: the record changed"; return; }
  fi
  # The next command loads every file, and takes away what the killed one left beside them.
  cp "$device" "$dir/$name.held"
  local status
  status=$("$host" status --project "C:\\VKR\\$name.vkr" 2>&1) || { echo "moment $n: status: $status"; return; }
  cmp -s "$device" "$dir/$name.held" || { echo "moment $n: status changed the device file"; return; }
  ls "$folder" | grep -q "^$name\..*\.new\." && { echo "moment $n: leftovers: $(ls "$folder")"; return; }
}

# Four downloads at a time, each on a project of its own.
for batch in "0 1 2 3" "4 5 6 7" "8 9 10 11" "12 13 14 15" "16 17 18 19"; do
  for n in $batch; do kill_at "$n" >"$dir/result-$n" 2>"$dir/stderr-$n" & done
  wait
done
for n in $(seq 0 19); do
  [ -s "$dir/result-$n" ] && fail "$(cat "$dir/result-$n")"
done
echo "download kills ok"
