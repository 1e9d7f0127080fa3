#!/usr/bin/env bash
# What the transmitter's status told, and what its values were, as every command that reads it
# tells them: each status bit planted in the device file (for this master, and for the other one
# only) before upload, compare, status, download and a user interface online, each telling the
# bit once or, for the other master's, not at all and leaving it to that master; each float line
# not a finite number before the same commands, none of which takes or prints it as a value; and
# a status whose cold start cannot be kept as told on a full or read-only disk.
set -u
host=$1
faults=$2  # preloaded: VKR_TEST_DISK_FULL=TEXT, VKR_TEST_READ_ONLY=TEXT
. "$(dirname "$0")/host_env.sh"
. "$(dirname "$0")/host_project.sh"
upload plain
cp "$folder/plain.vkr" "$dir/plain.vkr"
cp "$folder/plain.vkr.device" "$dir/plain.device"
problems=""
problem() { problems+="$*"$'\n'; }

# go [ENV=VALUE...] COMMAND NAME [ARGS...]: the host on project NAME; rc, out (stdout), err.
go() {
  local env=()
  while [[ $1 == VKR_*=* ]]; do env+=("$1"); shift; done
  [ ${#env[@]} -gt 0 ] && env+=(LD_PRELOAD="$faults" ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0")
  local command=$1 name=$2
  shift 2
  if [ "$command" = ui ]; then
    out=$(env "${env[@]}" "$host" ui 1 --page 0 --no-picture --project "C:\\VKR\\$name.vkr" "$@" 2>"$dir/err")
  else
    out=$(env "${env[@]}" "$host" "$command" --project "C:\\VKR\\$name.vkr" "$@" 2>"$dir/err")
  fi
  rc=$?
  err=$(cat "$dir/err")
}
# A project NAME on the plain transmitter with the device file lines given ("name value" pairs).
plant() {
  local name=$1
  shift
  rm -f "$folder/$name".vkr*
  cp "$dir/plain.vkr" "$folder/$name.vkr"
  cp "$dir/plain.device" "$folder/$name.vkr.device"
  setlines "$folder/$name.vkr.device" "$@"
  cp "$folder/$name.vkr.device" "$dir/$name.before"
}
# How often CONDITION is one of the conditions the output's status line names (a user interface
# indents its line and says "told"). A current the transmitter holds fixed is told once, with its
# value: by status in its line ("loop current fixed at 12.000 mA"), by a user interface in the
# line of what the transmitter holds ("loop current 12.000 mA (fixed)").
told() {
  {
    printf '%s\n' "$out" | grep -E '^(transmitter|  transmitter told): ' |
      grep -oE "(: |, )$1( at [^,]*)?( \(told once: cleared for this master\))?(,|$)"
    [ "$1" = "loop current fixed" ] && printf '%s\n' "$out" | grep -E '^  transmitter: loop current [^,]* \(fixed\)'
  } | wc -l
}

# ---- Each bit, each command ------------------------------------------------------------------------
# Row: name # device file lines # the condition told to the primary master, the one the frame
# host is ("" none) # a line the file holds after the command (which else only a download
# changes) # a condition kept for the other master only, which this one is not told.
acknowledged=$(printf '01%046d' 0)
rows=(
  'cold#coldStart 01#cold start#coldStart 0001#'
  'coldother#coldStart 0001##coldStart 0001#cold start'
  'changed#configChanged 01#configuration changed##'
  'changedother#configChanged 0001###configuration changed'
  "more#acknowledgedStatus $acknowledged#more status available##"
  "moreother#acknowledgedStatus $(printf '%048d' 0)$acknowledged###more status available"
  'malfunction#malfunction 01#field device malfunction##'
  'fixed#fixedCurrent 41400000#loop current fixed##'
  'multidrop#loopCurrentMode 00#loop current fixed##'
  'saturated#upperRange 40C00000#loop current saturated##'
)
for row in "${rows[@]}"; do
  IFS='#' read -r name lines condition after other <<<"$row"
  for command in upload compare status download ui; do
    # shellcheck disable=SC2086
    plant "$name" $lines
    go "$command" "$name"
    what="$name, $command"
    [ $rc = 0 ] || problem "$what: exit $rc: $err"
    printf '%s\n' "$out" | grep -qiwE -- '-?(nan|inf)' && problem "$what printed a value that is no number: $out"
    if [ -n "$condition" ]; then
      [ "$(told "$condition")" = 1 ] || problem "$what: \"$condition\" not told once: $out"
    fi
    # A download changes the configuration: that it tells to both masters.
    if [ -n "$other" ] && ! { [ "$command" = download ] && [ "$other" = "configuration changed" ]; }; then
      [ "$(told "$other")" = 0 ] || problem "$what: the other master's \"$other\" was told to this one: $out"
    fi
    if [ -n "$after" ]; then
      [ "$(grep "^${after%% *} " "$folder/$name.vkr.device")" = "$after" ] ||
        problem "$what: the device file holds $(grep "^${after%% *} " "$folder/$name.vkr.device"), not $after"
    fi
    if [ "$command" != download ] && [ "$name" != cold ]; then
      cmp -s "$dir/$name.before" "$folder/$name.vkr.device" || problem "$what changed the device file"
    fi
    # A cold start told once is not told again; the other bits are told again, as still true.
    if [ "$name" = cold ]; then
      go status "$name"
      [ $rc = 0 ] && [ "$(told "cold start")" = 0 ] || problem "$what: the cold start told again: $out"
    fi
  done
done

# ---- Floats that are not finite numbers --------------------------------------------------------------
# Row: device file line # what upload leaves out and names ("" it does not read it) # what status
# names among the values it was given.
floats=(
  'upperRange#"Range Values" (1023)#upper range value (command 15)'
  'lowerRange#"Range Values" (1023)#lower range value (command 15)'
  'damping#"Damping Value" (1022)#damping (command 15)'
  'fixedCurrent#"Current value" (1048)#loop current (commands 2, 3)'
  'upperSensorLimit##upper sensor limit (command 14)'
  'lowerSensorLimit##lower sensor limit (command 14)'
  'minimumSpan##minimum span (command 14)'
)
for row in "${floats[@]}"; do
  IFS='#' read -r line left named <<<"$row"
  for value in 7FC00000 7F800000 FF800000; do
    name="nf-$line-$value"
    what="$line $value"
    # The upload starts the project: none is there before it.
    plant "$name" "$line" "$value"
    rm -f "$folder/$name.vkr"
    go upload "$name"
    printf '%s\n%s\n' "$out" "$err" | grep -qiwE -- '-?(nan|inf)' && problem "$what: upload printed a value that is no number: $out $err"
    cmp -s "$dir/$name.before" "$folder/$name.vkr.device" || problem "$what: the upload changed the transmitter"
    if [ -n "$left" ]; then
      [ $rc = 1 ] && printf '%s\n' "$out" | grep -qxF "Upload left out $left: the device's value is not a finite number" &&
        [ "$(printf '%s\n' "$err" | tail -n 1)" = "vkr-frame: uploaded but for the values named above, which the data set does not hold; data set saved to C:\\VKR\\$name.vkr" ] ||
        problem "$what: the upload did not refuse it: $rc $out $err"
      # What the project holds: no value that is not a number.
      go show "$name"
      printf '%s\n' "$out" | grep -qiwE -- '-?(nan|inf)' && problem "$what: the project holds a value that is no number: $out"
    fi
    for command in compare status download ui; do
      go "$command" "$name"
      printf '%s\n%s\n' "$out" "$err" | grep -qiwE -- '-?(nan|inf)' && problem "$what: $command printed a value that is no number: $out $err"
      case $command in
        compare)
          if [ -n "$left" ] && [ "$line" != fixedCurrent ]; then
            printf '%s\n' "$out" | grep -qF "Compare: ${left} differs from the device, whose value is not a finite number" ||
              problem "$what: compare did not name it: $out"
          fi ;;
        status)
          [ $rc = 1 ] && printf '%s\n' "$out" | grep -qE "^transmitter: gave values that are not finite numbers: (.*, )?${named//[()]/.}" &&
            [ "$(printf '%s\n' "$err" | tail -n 1)" = "vkr-frame: the transmitter gave values that are not finite numbers (named above)" ] ||
            problem "$what: status did not name it: $rc $out $err"
          if [ "$line" = fixedCurrent ]; then
            printf '%s\n' "$out" | grep -qx "transmitter: loop current fixed at a current that is not a finite number" ||
              problem "$what: status did not say the fixed current is no number: $out"
          fi ;;
      esac
    done
  done
done

# ---- A status whose told cold start cannot be kept ------------------------------------------------
for disk in VKR_TEST_DISK_FULL VKR_TEST_READ_ONLY; do
  plant "disk" coldStart 01
  go "$disk=/c/VKR/disk.vkr" status disk
  [ $rc = 1 ] && [ "$(printf '%s\n' "$out" | head -n 1)" = "device status: ok" ] && [ "$(told "cold start")" = 1 ] &&
    ! printf '%s\n' "$out" | grep -q "told once" &&
    [[ $(printf '%s\n' "$err" | tail -n 1) == "vkr-frame: the transmitter's memory of having told this master its cold start could not be kept (the device could not be saved to C:\\VKR\\disk.vkr.device: "*"): the next command is told it again" ]] ||
    problem "$disk: status with a cold start to tell: $rc $out $err"
  cmp -s "$dir/disk.before" "$folder/disk.vkr.device" || problem "$disk: the device file changed"
  # A user interface online shows it too; the device file that cannot keep it fails the run.
  go "$disk=/c/VKR/disk.vkr" ui disk
  [ $rc = 1 ] && [ "$(told "cold start")" = 1 ] &&
    printf '%s\n' "$err" | grep -q "^vkr-frame: the transmitter's memory of having told this master its cold start could not be kept (" ||
    problem "$disk: a user interface with a cold start to tell: $rc $out $err"
  cmp -s "$dir/disk.before" "$folder/disk.vkr.device" || problem "$disk: the user interface changed the device file"
  # The transmitter tells it again, and this time keeps that it did.
  go status disk
  [ $rc = 0 ] && [ "$(told "cold start")" = 1 ] && printf '%s\n' "$out" | grep -q "told once" &&
    [ "$(grep '^coldStart ' "$folder/disk.vkr.device")" = "coldStart 0001" ] || problem "$disk: the status after: $rc $out $err"
done

[ -z "$problems" ] || fail $'\n'"$problems"
echo "status table: every row held"
