#!/usr/bin/env bash
# The user going from page to page in the online frame, judged by the transmitter's bytes: a
# distance typed on one page keeps its meaning when the unit changes on another, a page shown
# again after a failed read never waits for good, and a unit chosen while its read had failed is
# sent on a live link.
set -u
host=$1
. "$(dirname "$0")/host_env.sh"
. "$(dirname "$0")/host_project.sh"
upload plain

# judge BEFORE AFTER UNIT [FIELD METRES]: the transmitter AFTER is in UNIT (its PV and range) and
# holds every distance of BEFORE as the same number of metres, FIELD (upperRange, blanking,
# offset) holding METRES; every other line but the change counter and flags is as it was.
judge() {
  python3 - "$@" <<'PY'
import struct, sys
per = {"2C": 0.3048, "2D": 1.0, "2F": 0.0254, "30": 0.01, "31": 0.001}
code = {"ft": "2C", "m": "2D", "in": "2F", "cm": "30", "mm": "31"}
def read(path):
    return dict(line.split(" ", 1) if " " in line else (line, "") for line in open(path).read().splitlines())
def distances(d):
    f = lambda h: struct.unpack(">f", bytes.fromhex(h))[0]
    out = {k: f(d[k]) * per[d["rangeUnit"]] for k in ("upperRange", "lowerRange")}
    out.update({k: f(d[k]) * per[d["limitsUnit"]] for k in ("upperSensorLimit", "lowerSensorLimit", "minimumSpan")})
    out["blanking"] = f(d["echoSettings"][4:12]) * per[d["pvUnit"]]
    out["offset"] = f(d["echoSettings"][12:20]) * per[d["pvUnit"]]
    return out
before, after = read(sys.argv[1]), read(sys.argv[2])
want = distances(before)
if len(sys.argv) > 5:
    want[sys.argv[4]] = float(sys.argv[5])
faults = []
if after["pvUnit"] != code[sys.argv[3]] or after["rangeUnit"] != code[sys.argv[3]]:
    faults.append(f"units pv {after['pvUnit']} range {after['rangeUnit']}, not {code[sys.argv[3]]}")
for name, metres in distances(after).items():
    if abs(metres - want[name]) > 1e-5 * max(1.0, abs(want[name])):
        faults.append(f"{name} holds {metres:.6f} m, not {want[name]:.6f} m")
skip = {"configChangeCounter", "configChanged", "pvUnit", "rangeUnit", "limitsUnit", "upperRange", "lowerRange",
        "upperSensorLimit", "lowerSensorLimit", "minimumSpan", "echoSettings"}
faults += [f"{k} changed" for k in before if k not in skip and before[k] != after.get(k)]
if before["echoSettings"][:4] != after["echoSettings"][:4]:
    faults.append("sensitivity or analog mode changed")
print("; ".join(faults))
sys.exit(1 if faults else 0)
PY
}
# A transmitter from the kept files again.
# Whether the device file FILE holds what it held when kept.
same() { cmp -s "$folder/$1" "$dir/kept/$1"; }

# The default transmitter with an offset, and the same one in millimetres: every distance differs.
transmitter m echoSettings 64003E99999A3DCCCCCD
device_in_unit "$folder/m.vkr.device" mm >"$folder/mm.vkr.device"
upload mm
cp "$folder/mm.vkr" "$folder/mm.vkr.device" "$dir/kept/"

# ---- A distance typed, the unit changed and sent on another page, then the first page's Send ------
# transmitter | page typed on | item | typed (transmitter's unit) | the device's field | its metres |
# page the unit is chosen on | the unit
rows=(
  "m|1|395|2|upperRange|2|0|Feet (ft)"
  "m|4|555|1|blanking|1|0|Feet (ft)"
  "m|0|544|2|upperRange|2|1|Feet (ft)"
  "mm|1|395|2000|upperRange|2|0|Inches (in)"
  "mm|4|555|1000|blanking|1|1|Metres (m)"
  "mm|0|544|2000|upperRange|2|1|Feet (ft)"
  "mm|4|697|150|offset|0.15|0|Centimetres (cm)"
)
for row in "${rows[@]}"; do
  IFS='|' read -r t page item typed field metres unitPage unit <<<"$row"
  fresh "$t"
  symbol=$(echo "$unit" | sed 's/.*(\(.*\))/\1/')
  what="$t: $typed typed into $item on page $page, $unit sent on page $unitPage"
  run ui 1 --project "C:\\VKR\\$t.vkr" --no-picture --page "$page" --type "$item=$typed" --page "$unitPage" \
    --type "381=$unit" --click 221 --journal --page "$page" --click 221
  [ $rc = 0 ] || fail "$what: exit $rc: $last: $out"
  verdict=$(judge "$dir/kept/$t.vkr.device" "$folder/$t.vkr.device" "$symbol" "$field" "$metres") ||
    fail "$what: the transmitter does not hold what the user saw: $verdict"
  # The user sees the number change, and why, before sending it.
  echo "$out" | grep -qE "^    > message line 6333: .* was converted from [0-9.]+ $t to [0-9.]+ $symbol: the device's unit changed\.$" ||
    fail "$what: the conversion was not told: $out"
done

# The unit changed and every read of it failed since: Blanking, which goes as a number in the
# device's unit, is not written, and the user hears why.
fresh m
run ui 1 --project 'C:\VKR\m.vkr' --no-picture --page 4 --type 555=1 --page 0 --type "381=Feet (ft)" \
  --fault 1#4=busy --fault 1#5=busy --fault 1#6=busy --click 221 --page 4 --click 221 --read 6333
verdict=$(judge "$dir/kept/m.vkr.device" "$folder/m.vkr.device" ft) || fail "blanking typed, its unit unread: $verdict"
echo "$out" | grep -q '^  item 6333: ".*Blanking was not written: the unit it is given in could not be read\.' ||
  fail "blanking typed, its unit unread: the message line: $out"

# ---- A unit chosen on the Command or Process page while its read had failed, on a live link -------
# The data set names the unit chosen, the transmitter (changed since) holds another, and both reads
# of the PV unit (the frame's distance reading, the page's) failed: the choice is no change to the
# data set, and still the user's to send.
# page | project | the transmitter now in | the unit chosen
for row in "1|m|ft|Metres (m)" "1|mm|m|Millimetres (mm)" "0|m|ft|Metres (m)" "0|mm|in|Millimetres (mm)"; do
  IFS='|' read -r page t now unit <<<"$row"
  fresh "$t"
  device_in_unit "$dir/kept/m.vkr.device" "$now" >"$folder/$t.vkr.device"
  cp "$folder/$t.vkr.device" "$dir/before.device"
  what="page $page, project in $t, the transmitter in $now: $unit chosen after the unit's reads failed"
  run ui 1 --project "C:\\VKR\\$t.vkr" --no-picture --page "$page" --fault 1#1=busy --fault 1#2=busy \
    --type "381=$unit" --click 221
  [ $rc = 0 ] || fail "$what: exit $rc: $last"
  echo "$out" | grep -q " 44#1 " || fail "$what: not sent: $out"
  verdict=$(judge "$dir/before.device" "$folder/$t.vkr.device" "$t") || fail "$what: $verdict"
done

# ---- Each page shown again after a read of it failed -------------------------------------------------
# Once nothing is on the channel no field says "Loading..."; a field left "Not read" comes with the
# message line saying why. page | the failed request
for row in 3/12=linkgone 3/16=linkgone 3/13=linkgone 3/15=linkgone 3/14=linkgone 3/20=linkgone 3/14=busy 3/20=busy \
  0/14=linkgone 0/15=busy 1/15=busy 1/1#2=linkgone 2/3=linkgone 4/137=linkgone 4/1=busy 5/48=linkgone 6/7=linkgone; do
  page=${row%%/*} fault=${row#*/}
  fresh m
  run ui 1 --project 'C:\VKR\m.vkr' --no-picture --page "$page" --fault "$fault" --page 8 --page "$page" --dump \
    --read 6333
  shown=$(echo "$out" | grep '^  shown ')
  echo "$shown" | grep -q 'Loading' && fail "page $page shown again after $fault still waits: $shown"
  echo "$out" | grep -q "^  page $page \".*\" shown$" || fail "page $page was not shown again: $out"
  if echo "$shown" | grep -q '"Not read"'; then
    echo "$out" | grep -q '^  item 6333: "..*"$' || fail "page $page shown again after $fault: Not read without a word: $out"
  fi
  same m.vkr.device || fail "page $page shown again after $fault wrote to the transmitter"
done

# ---- An entry typed as the transmitter holds it, the page left and shown again, then typed anew ----
# Now it differs from the transmitter: it shows its changed mark, and Send writes it.
# item | typed first (the transmitter's value) | typed after the page came back | echoSettings after Send
rows=(
  "554|40.0|30|4B003E99999A3DCCCCCD"
  "556|4 - 20 mA|20 - 4 mA|64013E99999A3DCCCCCD"
)
for row in "${rows[@]}"; do
  IFS='|' read -r item first then held <<<"$row"
  steps=(--page 4 --type "$item=$first" --page 5 --page 4 --type "$item=$then")
  what="$first typed into $item, the page left and shown again, $then typed"
  fresh m
  run ui 1 --project 'C:\VKR\m.vkr' --no-picture "${steps[@]}" --dump
  [ $rc = 0 ] || fail "$what: exit $rc: $last"
  echo "$out" | grep -qE "^  shown 0 $item [A-Za-z]+ enabled,mark=671[, ]" ||
    fail "$what: no changed mark: $(echo "$out" | grep "^  shown 0 $item ")"
  run ui 1 --project 'C:\VKR\m.vkr' --no-picture "${steps[@]}" --click 221
  [ $rc = 0 ] && [ "$(field m.vkr.device echoSettings)" = "$held" ] ||
    fail "$what, sent: exit $rc, the transmitter holds $(field m.vkr.device echoSettings), not $held: $last"
done

# Offline no device takes an entry: every page's device fields take no typing, shown first or after
# another page (the Echo page's chart scale, 706, is the picture's own choice).
for first in 0 4; do
  for page in 0 1 2 3 4 5 6 7 8 9; do
    run ui 1 --offline --project 'C:\VKR\m.vkr' --no-picture --page "$first" --page "$page" --dump
    open=$(echo "$out" | grep -E '^  shown 0 [0-9]+ (Edit|ComboBox) enabled' | grep -v readonly | grep -v '^  shown 0 706 ')
    [ -z "$open" ] || fail "offline, page $page shown after page $first takes typing: $open"
  done
done
echo "page steps road: fine"
