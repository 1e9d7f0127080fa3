#!/usr/bin/env bash
# A Send of two or three entries on the Process, Advanced and HART pages, one of them not valid or
# failing, judged by the transmitter's bytes and by the message line: each entry the transmitter
# holds is never told as not written, each it does not hold is named once, for its own fate (not
# written, with its own reason; not sent, because the Send stopped at another entry), and nothing
# names an entry for another's fault. A Send refused over an entry that is not valid exits 1.
set -u
host=$1
. "$(dirname "$0")/host_env.sh"
. "$(dirname "$0")/host_project.sh"
upload plain
# Every setting the rows type differs from the transmitter's first: damping 0.75 s, range 0.5 to
# 7.5 m, sensitivity 30 %, analog mode 20 - 4 mA, blanking 0.4 m, offset 0.1 m, polling address 0,
# loop current mode enabled, probe fault disabled (no word 007C in its memory).
transmitter set damping 3F400000 echoSettings 4B013ECCCCCD3DCCCCCD
device_in_unit "$folder/set.vkr.device" mm >"$folder/milli.vkr.device"
upload milli
cp "$folder/milli.vkr" "$folder/milli.vkr.device" "$dir/kept/"
# The same transmitter giving a damping that is NaN and an upper range value that is infinite (an
# upload leaves such values out: the project is the one of before).
cp "$dir/kept/set.vkr" "$dir/kept/nan.vkr"
cp "$dir/kept/set.vkr.device" "$dir/kept/nan.vkr.device"
setlines "$dir/kept/nan.vkr.device" damping 7FC00000 upperRange 7F800000

# judge BEFORE AFTER CHECKS...: each check NAME=VALUE holds in AFTER ("same": as in BEFORE). The
# distances in metres, the damping in seconds, the sensitivity in percent (0.4 % a step), the
# probe fault Enable or Disable (bit 0x4000 of the memory's word 007C).
judge() {
  python3 - "$@" <<'PY'
import struct, sys
metres = {"2C": 0.3048, "2D": 1.0, "2F": 0.0254, "30": 0.01, "31": 0.001}
def read(path):
    return dict(line.split(" ", 1) if " " in line else (line, "") for line in open(path).read().splitlines())
def single(h):
    return struct.unpack(">f", bytes.fromhex(h))[0]
def value(d, name):
    if name in ("upperRange", "lowerRange"):
        return single(d[name]) * metres[d["rangeUnit"]]
    if name == "damping":
        return single(d["damping"])
    echo = d["echoSettings"]
    if name == "sensitivity":
        return int(echo[0:2], 16) * 0.4
    if name == "blanking":
        return single(echo[4:12]) * metres[d["pvUnit"]]
    if name == "offset":
        return single(echo[12:20]) * metres[d["pvUnit"]]
    if name == "probe":
        memory = d["memory"]
        words = {memory[i:i + 4]: int(memory[i + 4:i + 8], 16) for i in range(0, len(memory), 8)}
        return "Enable" if words.get("007C", 0) & 0x4000 else "Disable"
    return int(d[name], 16)
before, after = read(sys.argv[1]), read(sys.argv[2])
faults = []
for check in sys.argv[3:]:
    name, want = check.split("=", 1)
    held = value(after, name)
    if want == "same":
        if held != value(before, name) and not (held != held and value(before, name) != value(before, name)):
            faults.append("%s changed to %s" % (name, held))
    elif isinstance(held, str) or name in ("pollingAddress", "loopCurrentMode"):
        if str(held) != want:
            faults.append("%s holds %s, not %s" % (name, held, want))
    elif abs(held - float(want)) > 1e-5 * max(1.0, abs(float(want))):
        faults.append("%s holds %.6f, not %s" % (name, held, want))
print("; ".join(faults))
sys.exit(1 if faults else 0)
PY
}

# fates LINE ENTRIES: each entry NAME=FATE (written, not written, not sent; ";" between) is named
# in the message line LINE by exactly the sentences its fate allows: one "NAME was not written: ..."
# or one "... not sent: ..." naming it; a written entry in no sentence that says it was not.
fates() {
  python3 - "$@" <<'PY'
import re, sys
line, entries = sys.argv[1], [e.split("=", 1) for e in sys.argv[2].split(";") if e]
# The sentences of a Send's outcome: their subject is the names before " was" / " were".
sentences = [s for s in re.split(r"(?<=\.) (?=[A-Z])", line) if s]
forms = {"written": r" (was|were) written[.;]", "not written": r" (was|were) not written: ", "not sent": r" (was|were) not sent: "}
faults = []
for name, fate in entries:
    told = {f: 0 for f in forms}
    for s in sentences:
        for form, pattern in forms.items():
            m = re.search(pattern, s)
            if m and re.search(r"(^|, | and )%s($|, | and )" % re.escape(name), s[:m.start()]):
                told[form] += 1
    if fate == "written":
        if told["not written"] or told["not sent"]:
            faults.append("%s was written, and told as not" % name)
        if told["written"] > 1:
            faults.append("%s told written %d times" % (name, told["written"]))
    else:
        if told[fate] != 1 or sum(told.values()) != 1:
            faults.append("%s: %s, told %s" % (name, fate, told))
print("; ".join(faults))
sys.exit(1 if faults else 0)
PY
}

# transmitter | the ui's work | exit | each entry and its fate | the transmitter's fields after |
# the message line, exactly
rows=(
  # One entry not valid: the others are not sent, and say why.
  "set|--page 1 --type 397=100 --type 399=3 --click 221|1|Lower Range Value=not written;Damping=not sent|lowerRange=same upperRange=same damping=same|Lower Range Value was not written: its entry is not valid: 0 to 66 m. Damping was not sent: Lower Range Value holds an entry that is not valid."
  "set|--page 1 --type 395=2 --type 397=abc --type 399=3 --click 221|1|Lower Range Value=not written;Upper Range Value=not sent;Damping=not sent|lowerRange=same upperRange=same damping=same|Lower Range Value was not written: its entry is not valid: 0 to 66 m. Upper Range Value and Damping were not sent: Lower Range Value holds an entry that is not valid."
  "set|--page 4 --type 554=250 --type 555=0.5 --type 697=0.2 --click 221|1|Sensitivity=not written;Blanking=not sent;Distance Offset=not sent|sensitivity=same blanking=same offset=same|Sensitivity was not written: its entry is not valid: 0 to 100 %. Blanking and Distance Offset were not sent: Sensitivity holds an entry that is not valid."
  # The Device page: an entry cut at its field's size is refused, named once; the others not sent.
  "set|--page 3 --type 359=1.67772e+07 --type 205=ABC --click 221|1|Final Assemply Number=not written;Tag=not sent|tagDescriptorDate=same finalAssembly=same|Final Assemply Number was not written: its entry is not valid: 0 to 16777215. Tag was not sent: Final Assemply Number holds an entry that is not valid."
  "set|--page 3 --type 359=16777216 --click 221|1|Final Assemply Number=not written|finalAssembly=same|Final Assemply Number was not written: its entry is not valid: 0 to 16777215."
  # Damping's limits are seconds, as its label says; any number of them up to 255 is written.
  "set|--page 1 --type 399=100 --type 395=2 --click 221|0|Damping=written;Upper Range Value=written|damping=100 upperRange=2|"
  # (beyond them: refused, in seconds)
  "set|--page 1 --type 399=300 --type 395=2 --click 221|1|Damping=not written;Upper Range Value=not sent|damping=same upperRange=same|Damping was not written: its entry is not valid: 0 to 255 Sec. Upper Range Value was not sent: Damping holds an entry that is not valid."
  "set|--page 4 --type 555=-0.000001 --type 554=40 --click 221|1|Blanking=not written;Sensitivity=not sent|blanking=same sensitivity=same|Blanking was not written: its entry is not valid: 0 to 66 m. Sensitivity was not sent: Blanking holds an entry that is not valid."
  "set|--page 4 --type 697=0.2 --type 555=66.00001 --click 221|1|Blanking=not written;Distance Offset=not sent|blanking=same offset=same|Blanking was not written: its entry is not valid: 0 to 66 m. Distance Offset was not sent: Blanking holds an entry that is not valid."
  "set|--page 6 --type 534=16 --type 700=Disabled --click 221|1|Polling Address=not written;Loop Current Mode=not sent|pollingAddress=same loopCurrentMode=same|Polling Address was not written: its entry is not valid: 0 to 15. Loop Current Mode was not sent: Polling Address holds an entry that is not valid."
  "milli|--page 1 --type 395=70000 --type 399=3 --click 221|1|Upper Range Value=not written;Damping=not sent|upperRange=same damping=same|Upper Range Value was not written: its entry is not valid: 0 to 66000 mm. Damping was not sent: Upper Range Value holds an entry that is not valid."
  "milli|--page 4 --type 697=200 --type 555=-0.001 --click 221|1|Blanking=not written;Distance Offset=not sent|blanking=same offset=same|Blanking was not written: its entry is not valid: 0 to 66000 mm. Distance Offset was not sent: Blanking holds an entry that is not valid."
  # The device refuses or fails one: the one before it is written and told so, the one after not sent.
  "set|--page 1 --type 397=20 --type 399=3 --click 221|1|Lower Range Value=not written;Damping=not sent|lowerRange=same damping=same|Lower Range Value was not written: the device refused it: 0x09 (lower range value too high). Damping was not sent: the Send stopped at Lower Range Value."
  "set|--page 1 --fault 35=busy --type 395=2 --type 399=3 --click 221|1|Upper Range Value=not written;Damping=not sent|upperRange=same damping=same|Upper Range Value was not written: the device is busy. Damping was not sent: the Send stopped at Upper Range Value."
  "set|--page 1 --fault 34=busy --type 395=2 --type 399=3 --click 221|1|Upper Range Value=written;Damping=not written|upperRange=2 lowerRange=same damping=same|Upper Range Value was written. Damping was not written: the device is busy."
  "set|--page 4 --fault 134=busy --type 697=0.31 --type 562=Enable --click 221|1|Distance Offset=written;Probe Fault=not written|offset=0.31 blanking=same sensitivity=same probe=Disable|Distance Offset was written. Probe Fault was not written: the device is busy."
  "milli|--page 4 --fault 134=busy --type 555=500 --type 562=Enable --click 221|1|Blanking=written;Probe Fault=not written|blanking=0.5 offset=same probe=Disable|Blanking was written. Probe Fault was not written: the device is busy."
  # A record that would carry a field never read: not written, and what comes after it not sent.
  "set|--page 4 --fault 137#2=busy --click 356 --type 697=0.31 --type 562=Enable --click 221|1|Distance Offset=not written;Probe Fault=not sent|offset=same probe=Disable|Distance Offset was not written: it goes to the device with Sensitivity, Analog Mode and Blanking, which could not be read. Probe Fault was not sent: the Send stopped at Distance Offset. The advanced settings could not be read: the device is busy."
  "set|--page 4 --fault 1#2=busy --type 697=-0.1 --click 221 --type 554=40 --type 555=0.5 --click 221|1|Blanking=not written;Sensitivity=not sent|offset=-0.1 sensitivity=same blanking=same|The distance reading could not be read: the device is busy. Blanking was not written: the unit it is given in could not be read. Sensitivity was not sent: the Send stopped at Blanking. The unit of Blanking and Distance Offset could not be read: the device is busy."
  # The page shown again between typing and Send: the mark stays on the entry that was not valid.
  "set|--page 1 --type 395=abc --page 3 --page 1 --type 395=1 --type 399=3 --click 221|0|Upper Range Value=written;Damping=written|upperRange=1 lowerRange=same damping=3|"
  "set|--page 1 --type 397=abc --page 3 --page 1 --type 397=6 --click 221|0|Lower Range Value=written|lowerRange=6 upperRange=same|"
  "milli|--page 1 --type 395=2000 --type 399=3 --click 221|0|Upper Range Value=written;Damping=written|upperRange=2 damping=3|"
  # Values the device gave that are no finite numbers are shown as such, and numbers typed over them
  # are written.
  "nan|--page 1 --type 395=1 --type 399=2 --click 221|0|Upper Range Value=written;Damping=written|upperRange=1 damping=2|"
  "nan|--page 1 --type 397=abc --type 399=2 --click 221|1|Lower Range Value=not written;Damping=not sent|lowerRange=same damping=same|Lower Range Value was not written: its entry is not valid: 0 to 66 m. Damping was not sent: Lower Range Value holds an entry that is not valid. Upper Range Value and Damping could not be shown: the device's values are not finite numbers."
)

for row in "${rows[@]}"; do
  IFS='|' read -r t args want entries checks line <<<"$row"
  fresh "$t"
  what="$t: $args"
  # shellcheck disable=SC2086
  run ui 1 --project "C:\\VKR\\$t.vkr" --no-picture $args --read 6333
  [ "$rc" = "$want" ] || fail "$what: exit $rc, not $want: $last: $out"
  told=$(item 6333)
  # shellcheck disable=SC2086
  verdict=$(judge "$dir/kept/$t.vkr.device" "$folder/$t.vkr.device" $checks) || fail "$what: the transmitter: $verdict"
  verdict=$(fates "$told" "$entries") || fail "$what: $verdict: $told"
  [ "$told" = "$line" ] || fail "$what: the message line says \"$told\", not \"$line\""
  # A Send refused over an entry not valid says so last, naming the page.
  if [ "$want" = 1 ] && [[ $line == *" entry is not valid"* ]]; then
    [[ $last == "vkr-frame: page "*" refused its Send: "* ]] || fail "$what: the last line: $last"
  fi
done

# A value that is no finite number is never shown as a number ("1.#QNAN", "1.#INF"): the field
# says "Not shown" and the message line why, on each page that shows it.
for row in "0|544 542|Hi Level and Damping" "1|395 399|Upper Range Value and Damping"; do
  IFS='|' read -r page items names <<<"$row"
  cp "$dir/kept/nan.vkr" "$dir/kept/nan.vkr.device" "$folder/"
  run ui 1 --project 'C:\VKR\nan.vkr' --no-picture --page "$page" --dump --read 6333
  [ $rc = 0 ] || fail "page $page, values no finite numbers: exit $rc: $last"
  echo "$out" | grep '^  shown ' | grep -qiE '#(QNAN|INF|IND)|"-?(nan|inf)' && fail "page $page shows a value no number: $out"
  for i in $items; do
    echo "$out" | grep -q "^  shown [0-9]* $i Edit .*\"Not shown\"$" || fail "page $page, item $i: $out"
  done
  [ "$(echo "$out" | grep '^  item 6333: ')" = "  item 6333: \"$names could not be shown: the device's values are not finite numbers.\"" ] ||
    fail "page $page, values no finite numbers: the message line: $out"
done
echo "send fates table: ${#rows[@]} rows"
