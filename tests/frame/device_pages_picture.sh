#!/usr/bin/env bash
# The frame host shows the DTM's device pages (Command, Process / Output, Setup, Device, Info, Advanced,
# Raw command, Echo curve, HART, Values, Diagnostics, Status) on their own, online to the simulated
# transmitter with its values, and the self-test results control as its function, and renders each to a PNG.
set -u
host=$1
. "$(dirname "$0")/host_env.sh"
out=$("$host" register) || fail "register: $out"
# The transmitter of the default project: only an upload puts one in place.
out=$("$host" upload 2>&1) || fail "upload: $out"
for class in Vorn.ExampleDtm_CommandPP Vorn.ExampleDtm_ProcessPP VornExampleDtmProject.SetupPP Vorn.ExampleDtm_DevicePP \
  VornExampleDtmProject.InfoPP VornExampleDtmProject.AdvancedPP VornExampleDtmProject.RawCommandPP \
  VornExampleDtmProject.EchoPP Vorn.ExampleDtm_HartPP Vorn.ExampleDtm_ValuesPP VornExampleDtmProject.DiagPP \
  Vorn.ExampleDtm_StatusPP; do
  out=$("$host" ui --class "$class" --png "$dir/$class.png" 2>&1) || fail "ui --class $class: $out"
  echo "$out" | grep -q "Opening the property page of class $class" || fail "$class is not shown as a page: $out"
  echo "$out" | grep -q "online" || fail "$class: the DTM did not go online: $out"
  echo "$out" | grep -q "init -> 1" || fail "$class did not start: $out"
  echo "$out" | grep -q "rendered [0-9]*x[0-9]* to $dir/$class.png" || fail "$class printed: $out"
  echo "$out" | grep -q "closed the page: yes" || fail "$class did not close: $out"
  head -c 8 "$dir/$class.png" | od -An -c | grep -q "P   N   G" || fail "$class: no PNG"
done
# The echo curve is read on request: its button clicked, the chart shows the transmitter's echoes.
class=VornExampleDtmProject.EchoPP
out=$("$host" ui --class "$class" --click 632 --png "$dir/echo.png" 2>&1) || fail "ui --class $class --click 632: $out"
echo "$out" | grep -q "clicked 632" || fail "$class: the read button was not clicked: $out"
echo "$out" | grep -q "rendered [0-9]*x[0-9]* to $dir/echo.png" || fail "$class printed: $out"
out=$("$host" ui --class "$class" --click 9999 --png "$dir/none.png" 2>&1) && fail "a missing control was clicked: $out" || [ $? = 1 ] || fail "a missing control was clicked: an exit other than the 1 of a refusal"
# What a lone page cannot take is refused by name, not left out without a word.
for extra in "--dump" "--journal" "--read 632" "--type 632=1" "--page 0"; do
  out=$("$host" ui --class "$class" $extra --no-picture 2>&1) && fail "$extra was taken by a lone page: $out" || [ $? = 1 ] || fail "$extra: an exit other than 1"
  echo "$out" | grep -q "a property page shown on its own takes --click only" || fail "$extra: $out"
done
# The self-test results, opened as its function, online with the transmitter's faults.
out=$("$host" ui 8 --additional-status 06000100 --png "$dir/selftest.png" 2>&1) || fail "ui 8: $out"
echo "$out" | grep -q "online" || fail "self test: the DTM did not go online: $out"
echo "$out" | grep -q "rendered [0-9]*x[0-9]* to $dir/selftest.png" || fail "self test printed: $out"
head -c 8 "$dir/selftest.png" | od -An -c | grep -q "P   N   G" || fail "self test: no PNG"
echo "device pages picture: ok"
