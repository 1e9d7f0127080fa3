#!/usr/bin/env bash
# Each user interface at the wire's speed: the run's wall time against the time its HART requests
# held the line, as the host reports it. A run that waits for the line and nothing else is at or
# just above 1.0; one below 1.0 got answers faster than a HART line carries them.
# Usage: scripts/line_time.sh [HOST]   (HOST defaults to build/frame/vkr-frame)
set -euo pipefail
host=${1:-$(dirname "$0")/../build/frame/vkr-frame}
host=$(cd "$(dirname "$host")" && pwd)/$(basename "$host")
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export VKR_REGISTRY=$dir/registry.reg VKR_DRIVE_ROOT=$dir/drives
cd "$dir"
"$host" register >/dev/null
"$host" upload >/dev/null 2>&1

now() { date +%s.%N; }
run() {
  local name=$1
  shift
  local start end out
  start=$(now)
  out=$("$host" ui "$@" --wire-delay hart --png "$dir/ui.png" 2>/dev/null) || true
  end=$(now)
  local line requests
  line=$(sed -n 's/^  line time: \([0-9.]*\) s for the run.s \([0-9]*\) HART requests.*/\1 \2/p' <<<"$out")
  requests=${line#* }
  line=${line% *}
  awk -v name="$name" -v wall="$(echo "$end - $start" | bc)" -v line="${line:-0}" -v n="${requests:-0}" 'BEGIN {
    ratio = line > 0 ? sprintf("%.2f", wall / line) : "-"
    printf "%-22s %8d %9.2f %9.2f %7s\n", name, n, line, wall, ratio
  }'
}

printf "%-22s %8s %9s %9s %7s\n" "user interface" requests "line (s)" "wall (s)" ratio
for page in 0 1 2 3 4 5 6 7 8 9; do run "function 1, page $page" 1 --page "$page"; done
"$host" ui --list | awk '$1 ~ /^[0-9]+$/ && $1 != 1 { print $1 }' | while read -r function; do
  run "function $function" "$function"
done
