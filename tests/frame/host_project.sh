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
# Uploads into project NAME (C:\VKR\NAME.vkr).
upload() { run upload --project "C:\\VKR\\$1.vkr" && [ $rc = 0 ] || fail "upload of $1: $last"; }
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
