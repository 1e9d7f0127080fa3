#!/usr/bin/env bash
# The Command page's levels and settings as a user reaches them: a level typed, the unit changed and
# sent on the Process page, the level sent from the Command page; levels beyond what the parameter
# holds; the settings record written once for all it carries. Judged by the transmitter's bytes and
# the message line, the expectations worked out here from the unit factors and the default
# transmitter's values.
set -u
host=$1
. "$(dirname "$0")/host_env.sh"
. "$(dirname "$0")/host_project.sh"
upload plain
# The default transmitter: range 0.5 m to 7.5 m, sensor limits 0.3 m and 8 m, minimum span 0.1 m;
# the range parameters hold 0 to 66 m.
cp "$folder/plain.vkr.device" "$folder/m.vkr.device"
upload m
device_in_unit "$folder/plain.vkr.device" mm >"$folder/mm.vkr.device"
upload mm
mkdir -p "$dir/kept"
for t in m mm; do cp "$folder/$t.vkr" "$folder/$t.vkr.device" "$dir/kept/"; done
declare -A unit_text=([m]="Metres (m)" [ft]="Feet (ft)" [in]="Inches (in)" [cm]="Centimetres (cm)" [mm]="Millimetres (mm)")

# judge KIND DEVICE OUT ARGS...: what the transmitter DEVICE holds and the message line in OUT, against
# what the user should see; prints the faults. KIND "unit": ARGS the transmitter's unit, the Hi Level
# typed, the unit sent, the Lower Range Value sent after it (or ""). KIND "limit": ARGS the unit, the
# level's name, the number typed, the level's metres after (or "": refused, the device untouched).
judge() {
  python3 - "$@" <<'PY'
import re, struct, sys
factor = {"m": 1.0, "ft": 0.3048, "in": 0.0254, "cm": 0.01, "mm": 0.001}
code = {"2D": "m", "2C": "ft", "2F": "in", "30": "cm", "31": "mm"}
kind, device, out, args = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]
held = dict(l.split(" ", 1) for l in open(device).read().splitlines() if " " in l)
def metres(name):
    return struct.unpack(">f", bytes.fromhex(held[name]))[0] * factor[code[held["rangeUnit"]]]
def length(value, unit):
    return f"{value:.3f} {unit}"
faults, want = [], {}
if kind == "unit":
    start, typed, to, low = args[0], float(args[1]), args[2], args[3]
    if code[held["rangeUnit"]] != to:
        faults.append(f"the transmitter is in {code[held['rangeUnit']]}, not {to}")
    # The level typed keeps its distance in the new unit unless it lies within the minimum span
    # (0.1 m) of the Low Level, from which it is then set that span away.
    high = typed * factor[start]
    lower = float(low) * factor[to] if low else 7.5
    told = ""
    if start != to:
        told = f"Hi Level was converted from {length(typed, start)} to {length(high / factor[to], to)}: the device's unit changed."
    if lower - high < 0.1:
        high = lower - 0.1
        told += (f" Hi Level was set to {length(high / factor[to], to)}, the minimum span of "
                 f"{length(0.1 / factor[to], to)} from Low Level.")
    want = {"upperRange": high, "lowerRange": lower}
else:
    unit, name, typed, after = args
    if after:
        # Within the limits the page holds the level within the sensor's, and says so.
        told = f"{name} was set to {length(float(after) / factor[unit], unit)}, the sensor's limit."
        want = {"lowerRange" if name == "Low Level" else "upperRange": float(after)}
    else:
        limit = f"{66 / factor[unit]:.3f}".rstrip("0").rstrip(".")
        told = f"{name} was not written: its entry is not valid: 0 to {limit} {unit}."
for field, value in want.items():
    if abs(metres(field) - value) > 2e-6 * max(1.0, value):
        faults.append(f"{field} holds {metres(field):.6f} m, not {value:.6f} m")
line = re.search(r'^  item 6333: "(.*)"$', out, re.M)
if not line or line.group(1) != told:
    faults.append(f'the message line is {line.group(1) if line else None!r}, not {told!r}')
print("; ".join(faults))
PY
}

# ---- A level typed, the unit changed on the Process page, the level sent ---------------------------
# transmitter | Hi Level typed (its unit) | unit chosen and sent on page 1 | Lower Range Value then
# sent on page 1 in the new unit (none: the device's 7.5 m stays)
rows=(
  "m|2.5|m|"
  "m|2.5|ft|"
  "m|2.5|in|"
  "m|2.5|cm|"
  "m|2.5|mm|"
  "mm|2500|in|"
  "m|2.5|ft|8.3"
  "m|2.5|cm|253"
  "mm|2500|in|99"
)
for row in "${rows[@]}"; do
  IFS='|' read -r t typed to low <<<"$row"
  fresh "$t"
  what="$t: Hi Level $typed, $to sent on page 1${low:+ with Lower Range Value $low}"
  steps=(--page 0 --type "544=$typed" --page 1 --type "381=${unit_text[$to]}" --click 221)
  [ -n "$low" ] && steps+=(--type "397=$low" --click 221)
  run ui 1 --project "C:\\VKR\\$t.vkr" --no-picture "${steps[@]}" --page 0 --click 221 --read 6333
  [ $rc = 0 ] || fail "$what: exit $rc: $last: $out"
  verdict=$(judge unit "$folder/$t.vkr.device" "$out" "$t" "$typed" "$to" "$low")
  [ -z "$verdict" ] || fail "$what: $verdict: $out"
done

# ---- Levels beyond the parameter's limits: refused, never moved to the sensor's limit or the span --
# transmitter | item (545 Low Level, 544 Hi Level) | typed (the transmitter's unit) | the level's
# metres after (none: refused, the transmitter untouched)
rows=(
  "m|545|-1|" "m|545|-1000|" "m|545|1000|" "m|545|1e30|" "m|545|66.001|"
  "m|544|-1|" "m|544|66.001|" "m|544|1e30|"
  "mm|545|66001|" "mm|544|-0.5|"
  "m|545|66|8" "m|544|0|0.3" "mm|545|66000|8" "mm|544|100|0.3"
)
for row in "${rows[@]}"; do
  IFS='|' read -r t item typed after <<<"$row"
  fresh "$t"
  name=$([ "$item" = 545 ] && echo "Low Level" || echo "Hi Level")
  what="$t: $name $typed"
  run ui 1 --project "C:\\VKR\\$t.vkr" --no-picture --page 0 --type "$item=$typed" --click 221 --read 6333
  [ -n "$after" ] || cmp -s "$folder/$t.vkr.device" "$dir/kept/$t.vkr.device" || fail "$what: the transmitter changed: $out"
  verdict=$(judge limit "$folder/$t.vkr.device" "$out" "$t" "$name" "$typed" "$after")
  [ -z "$verdict" ] || fail "$what: $verdict: $out"
done

# ---- The settings record: one write carries every setting changed -------------------------------
# Display Mode (byte 0 of the display settings) and Fail Time (byte 4) typed and sent; the fault |
# the settings the transmitter then holds | the message line | the changed mark (671) or the green
# one (664) beside both entries
rows=(
  "136#2=busy|05010101040000000000||664"
  "136#1=busy|03010101000000000000|Display Mode and Fail Time were not written: the device is busy.|671"
)
for row in "${rows[@]}"; do
  IFS='|' read -r fault want told mark <<<"$row"
  fresh m
  what="Display Mode and Fail Time sent, $fault"
  run ui 1 --project 'C:\VKR\m.vkr' --no-picture --page 0 --fault "$fault" --type 383=Distance --type 448=4 \
    --click 221 --dump --read 6333
  [ "$(field m.vkr.device displaySettings)" = "$want" ] ||
    fail "$what: the transmitter holds $(field m.vkr.device displaySettings), not $want: $out"
  echo "$out" | grep -qxF "  item 6333: \"$told\"" || fail "$what: the message line is not \"$told\": $out"
  for item in '383 ComboBox enabled,mark=[0-9]*,entries=3 "Distance"' '448 Edit enabled,mark=[0-9]* "4"'; do
    echo "$out" | grep -q "^  shown 0 ${item/mark=\[0-9\]\*/mark=$mark}$" || fail "$what: not marked $mark: $item: $out"
  done
  # The data set took what the transmitter took, and nothing it did not.
  run compare --project 'C:\VKR\m.vkr'
  echo "$out" | grep -qxF "the data set equals the device" || fail "$what: compare: $out"
done
echo "command levels road: fine"
