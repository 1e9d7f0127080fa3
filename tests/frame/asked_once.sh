#!/usr/bin/env bash
# Each user interface asks the transmitter once for what it shows, when it opens: one table of page
# or function x the HART commands its run sends (the "requests:" line), as many times as listed.
# The online frame's first page shows while the DTM goes online and reads once it is; the other
# pages read on their first show; reading all entries again (the DTM's word that it is online)
# replays the frame's stored Refresh, which is no press. The frame's own header reads the level
# (command 1) as the DTM goes online, and the Command and Process pages, shown before, read theirs
# once it is.
set -u
host=$1
. "$(dirname "$0")/host_env.sh"
. "$(dirname "$0")/host_project.sh"
upload plain

# user interface # the commands its run sends, in ascending order
rows=(
  '1 --page 0#0 1 1 2 13 14 15 131 135'
  '1 --page 1#0 1 1 2 13 15'
  '1 --page 2#0 1 3 13'
  '1 --page 3#0 1 12 13 14 15 16 20'
  '1 --page 4#0 1 13 131 137'
  '1 --page 5#0 1 13 48'
  '1 --page 6#0 1 7 13'
  '1 --page 7#0 1 13'
  '1 --page 8#0 1 13'
  '1 --page 9#0 1 13'
  '2#3 13 14'
  '3#'
  '4#'
  '5#'
  '6#'
  '7#'
  '8#48'
)
failures=0
for row in "${rows[@]}"; do
  IFS='#' read -r ui want <<<"$row"
  # shellcheck disable=SC2086
  run ui $ui --project 'C:\VKR\plain.vkr' --no-picture
  requests=$(printf '%s\n' "$out" | sed -n 's/^  requests: //p')
  [ "$requests" = none ] && requests=
  got=$(tr ' ' '\n' <<<"$requests" | sed '/^$/d' | sed 's/#.*//' | sort -n | tr '\n' ' ' | sed 's/ $//')
  if [ $rc != 0 ] || [ "$got" != "$want" ]; then
    echo "FAILED: ui $ui: exit $rc, requests: ${requests:-none} (want: ${want:-none})"
    failures=$((failures + 1))
  fi
done
[ $failures = 0 ] || exit 1
echo "every user interface asked once for what it shows"
