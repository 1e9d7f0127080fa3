# Sourced (after host_env.sh) by the script tests that work on projects in C:\VKR: the module
# registered, the folder, and the helpers that run the host and read a device file.
"$host" register >/dev/null || fail "register"
folder=$VKR_DRIVE_ROOT/c/VKR
# The value of line NAME of the device file FILE in the folder.
field() { grep "^$2 " "$folder/$1" | cut -d' ' -f2; }
# Runs the host: "rc" its exit code, "out" what it printed, "last" its last line on stderr.
run() {
  out=$("$host" "$@" 2>"$dir/err")
  rc=$?
  last=$(tail -n 1 "$dir/err")
}
# The text of item ID in what the last run printed ("item 6333": the message line).
item() { echo "$out" | grep "^  item $1: " | head -n 1 | sed 's/^  item [0-9]*: "\(.*\)"$/\1/'; }
# Uploads into project NAME (C:\VKR\NAME.vkr).
upload() { run upload --project "C:\\VKR\\$1.vkr" && [ $rc = 0 ] || fail "upload of $1: $last"; }
# Uploads project NAME as the one a test works on: p its Windows path, device its transmitter's file,
# and line NAME the value of a line of that file.
open_project() {
  upload "$1"
  p="C:\\VKR\\$1.vkr"
  device=$folder/$1.vkr.device
}
line() { grep "^$1 " "$device" | cut -d' ' -f2; }
# Sets NAME VALUE pairs in a device file.
setlines() {
  local f=$1
  shift
  while [ $# -gt 1 ]; do
    sed -i "s/^$1 .*/$1 $2/" "$f"
    shift 2
  done
}
# A transmitter NAME whose device file is the default one with the lines given, uploaded; its two
# files kept in $dir/kept, so that a check can start from them again.
transmitter() {
  local name=$1
  shift
  cp "$folder/plain.vkr.device" "$folder/$name.vkr.device"
  setlines "$folder/$name.vkr.device" "$@"
  upload "$name"
  mkdir -p "$dir/kept"
  cp "$folder/$name.vkr" "$folder/$name.vkr.device" "$dir/kept/"
}
# A text as the transmitter holds it in a field of LENGTH characters of HART packed ASCII
# (blank-padded, a-z as A-Z): the field's bytes in hex.
packed() { python3 -c 'import sys
t=sys.argv[1].upper().ljust(int(sys.argv[2])); v=[ord(c)&63 for c in t]; b=[]
for i in range(0,len(v),4): b+=[(v[i]<<2|v[i+1]>>4)&255,(v[i+1]<<4|v[i+2]>>2)&255,(v[i+2]<<6|v[i+3])&255]
print("".join("%02X"%x for x in b))' "$1" "$2"; }
# Puts project NAME and its transmitter back as kept.
fresh() { cp "$dir/kept/$1.vkr" "$dir/kept/$1.vkr.device" "$folder/"; }
# The length units by their symbols: metres per unit, and HART's unit code.
declare -A unit_factor=([m]=1 [ft]=0.3048 [in]=0.0254 [cm]=0.01 [mm]=0.001)
declare -A unit_code=([m]=2D [ft]=2C [in]=2F [cm]=30 [mm]=31)
# device_in_unit FILE UNIT: the device file FILE of a transmitter in metres as its own unit change
# (command 44) leaves it in UNIT, on stdout.
device_in_unit() {
  python3 - "$1" "${unit_code[$2]}" "${unit_factor[$2]}" <<'PY'
import struct, sys
lines, unit, per = open(sys.argv[1]).read().splitlines(), sys.argv[2], float(sys.argv[3])
def convert(hex_text):
    return struct.pack(">f", struct.unpack(">f", bytes.fromhex(hex_text))[0] / per).hex().upper()
for line in lines:
    name, value = line.split(" ")
    if name in ("pvUnit", "rangeUnit", "limitsUnit"):
        value = unit
    elif name in ("upperRange", "lowerRange", "upperSensorLimit", "lowerSensorLimit", "minimumSpan"):
        value = convert(value)
    elif name == "echoSettings":  # the blanking and the offset, in the PV unit
        value = value[:4] + convert(value[4:12]) + convert(value[12:20])
    print(name, value)
PY
}
# A distance of so many metres in the unit.
in_unit() { awk -v m="$1" -v f="${unit_factor[$2]}" 'BEGIN { printf "%.6g", m / f }'; }
