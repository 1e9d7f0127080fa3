#!/usr/bin/env bash
# Runs the frame host's commands on a temporary registry and drive root, as the main job does, and
# checks what they print.
set -u
host=$1
. "$(dirname "$0")/host_env.sh"
out=$("$host" register) || fail "register: $out"
echo "$out" | grep -q "DllRegisterServer: 0x00000000 (S_OK)" || fail "register printed: $out"
out=$("$host" classes) || fail "classes: $out"
echo "$out" | grep -q "^24 registered classes" || fail "classes printed: $out"
echo "$out" | grep -q "Vorn.ExampleDtm.1 .*VORN VKR Series DTM (Apartment)" || fail "classes printed: $out"
out=$("$host" create) || fail "create: $out"
echo "$out" | grep -q "^  state 1 (dsCREATED)$" || fail "create printed: $out"
echo "$out" | grep -q "released; DllCanUnloadNow: 0x00000000 (S_OK)" || fail "create printed: $out"
out=$("$host" lifecycle) || fail "lifecycle failed: $out"
echo "$out" | grep -q "^  CoCreateInstance: 0x00000000 (S_OK), state 1 (dsCREATED)" || fail "lifecycle printed: $out"
echo "$out" | grep -q "^  released" || fail "lifecycle printed: $out"
# The whole road to the simulated transmitter and back, as a frame asks for it: an upload (the DTM
# goes online and reads the device), its end, and offline with the release of the communication.
echo "$out" | grep -q "UploadRequest (the DTM goes online): 0x00000000 (S_OK), result TRUE, state 12 (dsONLINE)" ||
  fail "lifecycle did not go online: $out"
echo "$out" | grep -q "frame: state VKR-1: goingOnline -> online" || fail "lifecycle: no online state document: $out"
echo "$out" | grep -q "OnUploadFinished: 0x00000000 (S_OK), result TRUE" || fail "lifecycle: the upload did not end well: $out"
echo "$out" | grep -q "PV from the device (command 3 on the frame's channel): 2.5" || fail "lifecycle: the PV did not arrive: $out"
echo "$out" | grep -q "PrepareToReleaseCommunication: 0x00000000 (S_OK), result TRUE, state 9 (dsCOMMUNICATIONSET)" ||
  fail "lifecycle did not go offline: $out"
echo "$out" | grep -q "frame: state VKR-1: goingOffline -> communicationSet" || fail "lifecycle: no offline state document: $out"
echo "$out" | grep -q "frame: prepared to release communication VKR-1" || fail "lifecycle: the release was not prepared: $out"
echo "$out" | grep -q "INVALID" && fail "lifecycle: the frame got an invalid document: $out"
echo "$out" | grep -q "channel: REFUSED" && fail "lifecycle: the channel refused a request: $out"
# The engineer's commands on a project: what one run downloads, the next run's device holds.
p='C:\\VKR\\test.vkr'
out=$("$host" upload --project "$p" 2>&1) || fail "upload: $out"
echo "$out" | grep -q "^upload: 100%" || fail "upload showed no progress: $out"
[ -f "$VKR_DRIVE_ROOT/c/VKR/test.vkr" ] || fail "upload saved no project"
[ -f "$VKR_DRIVE_ROOT/c/VKR/test.vkr.device" ] || fail "upload saved no device file"
out=$("$host" items --project "$p") || fail "items: $out"
echo "$out" | grep -q "^the DTM offers no items$" || fail "items printed: $out"
# The user interfaces: listed from the function list, opened through the frame's ActiveX host and
# rendered; the frame's own test control shows the whole road to a picture.
out=$("$host" ui --list --project "$p") || fail "ui --list: $out"
echo "$out" | grep -q "^ *1  OnlineParameterization" || fail "ui --list printed: $out"
out=$("$host" ui --test-control --png "$dir/test.png") || fail "ui --test-control: $out"
echo "$out" | grep -q "rendered 300x130 to $dir/test.png" || fail "ui --test-control printed: $out"
echo "$out" | grep -q "closed .*: yes" || fail "ui --test-control did not close: $out"
head -c 8 "$dir/test.png" | od -An -c | grep -q "P   N   G" || fail "ui --test-control wrote no PNG"
"$host" ui 0 >/dev/null 2>&1; [ $? -eq 2 ] || fail "ui with function 0 is not refused with 2"
# The online parameterization frame, each page of its tree selected in turn and rendered.
out=$("$host" ui 1 --project "$p" --png "$dir/online.png" --page all) || fail "ui 1 --page all: $out"
echo "$out" | grep -q "init .* -> 1" || fail "the online frame did not start: $out"
echo "$out" | grep -q "page 0 \".*\" rendered to $dir/online-0.png" || fail "ui 1 --page all printed: $out"
head -c 8 "$dir/online-0.png" | od -An -c | grep -q "P   N   G" || fail "ui 1 --page all wrote no PNG"
# Without a picture the run is the same and writes none: every page told, no file beside the others.
mkdir "$dir/here"
out=$(cd "$dir/here" && "$host" ui 1 --project "$p" --no-picture --page all --dump) || fail "ui 1 --page all --no-picture: $out"
[ "$(echo "$out" | grep -c '^  page [0-9]* ".*" no picture (--no-picture)$')" = 10 ] || fail "--no-picture printed: $out"
echo "$out" | grep -q "rendered" && fail "--no-picture told a picture: $out"
[ -z "$(ls -A "$dir/here")" ] || fail "--no-picture wrote a picture: $(ls -A "$dir/here")"
"$host" ui 1 --no-picture --png "$dir/x.png" >/dev/null 2>&1; [ $? -eq 2 ] || fail "--no-picture with --png is not refused with 2"
out=$("$host" ui 1 --project "$p" --png "$dir/none.png" --page 99 2>&1); [ $? -eq 1 ] || fail "a page the tree lacks is not refused: $out"
echo "$out" | grep -q "no page 99" || fail "a page the tree lacks printed: $out"
# A page asked for is the page the user's work goes to, also when it starts with typing: the
# sensitivity typed on the Advanced page and sent reaches the transmitter (75 is 30 %).
out=$("$host" ui 1 --project "$p" --png "$dir/advanced.png" --page 4 --type 554=30 --click 221 --read 554 2>&1) ||
  fail "typing first on page 4: $out"
echo "$out" | grep -qF 'item 554: "30.0"' || fail "page 4 after typing 30 printed: $out"
grep -q "^echoSettings 4B" "$VKR_DRIVE_ROOT/c/VKR/test.vkr.device" || fail "the sensitivity sent did not reach the transmitter"
"$host" ui 1 --page x >/dev/null 2>&1; [ $? -eq 2 ] || fail "ui with a page that is no number is not refused with 2"
# A page change between steps is the user's click in the tree: the sensitivity typed on the
# Advanced page stays pending there while another page is shown, and its Send writes it (100 is
# 40 %); the picture shows the page gone to last. A page the tree lacks stops the work.
out=$("$host" ui 1 --project "$p" --png "$dir/back.png" --page 4 --type 554=40 --page 0 --journal --page 4 \
  --read 554 --click 221 2>&1) || fail "a page change between steps: $out"
echo "$out" | grep -q '^  page 0 ".*" shown$' || fail "the page change was not told: $out"
echo "$out" | grep -q '^    > step page 4$' || fail "the page change is not in the journal: $out"
echo "$out" | grep -q "^  page 4 \".*\" rendered to $dir/back.png" || fail "the picture is not of the page gone to: $out"
grep -q "^echoSettings 64" "$VKR_DRIVE_ROOT/c/VKR/test.vkr.device" || fail "the entry kept across pages was not sent: $out"
out=$("$host" ui 1 --project "$p" --png "$dir/none.png" --page 4 --type 554=30 --page 99 --click 221 2>&1); [ $? -eq 1 ] ||
  fail "a page step the tree lacks is not refused: $out"
echo "$out" | grep -q "no page 99 in the user interface's page tree$" || fail "a page step the tree lacks printed: $out"
grep -q "^echoSettings 64" "$VKR_DRIVE_ROOT/c/VKR/test.vkr.device" || fail "work went on after a page the tree lacks"
"$host" ui 1 --type 554=40 --now --page 1 >/dev/null 2>&1; [ $? -eq 2 ] || fail "--now before a page step is not refused with 2"
# With every page pictured at the end, a page step still takes the user's work to that page.
out=$("$host" ui 1 --project "$p" --png "$dir/all.png" --page all --page 4 --type 554=30 --click 221 2>&1) ||
  fail "a page step with --page all: $out"
grep -q "^echoSettings 4B" "$VKR_DRIVE_ROOT/c/VKR/test.vkr.device" || fail "a page step with --page all missed its page: $out"
echo "$out" | grep -q "^  page 9 \".*\" rendered to $dir/all-9.png" || fail "--page all with a page step printed: $out"
out=$("$host" show --project "$p") || fail "show: $out"
echo "$out" | grep -q "^name  *value  *unit  *differs" || fail "show printed: $out"
# The page's write changed the transmitter after the upload read it: what show knew of it is unknown.
echo "$out" | grep -q "^Tag  .* ?$" && echo "$out" | grep -qx "device: not compared yet (upload, download or compare first)" ||
  fail "show after a page's write printed: $out"
# The DTM takes a tag but keeps none in its data set: set says so instead of claiming it saved it.
out=$("$host" set --project "$p" Tag=TEST-7 2>&1) && fail "set of a tag the data set cannot keep succeeded: $out" || [ $? = 1 ] || fail "set of a tag the data set cannot keep succeeded: an exit other than the 1 of a refusal"
echo "$out" | grep -q "^vkr-frame: the DTM took Tag=TEST-7 but its data set does not keep it" || fail "set said: $out"
out=$("$host" set --project "$p" No.Such=1 2>&1) && fail "set of an unknown name succeeded: $out" || [ $? = 1 ] || fail "set of an unknown name succeeded: an exit other than the 1 of a refusal"
echo "$out" | grep -q "^vkr-frame: there is no parameter No.Such" || fail "set of an unknown name said: $out"
out=$("$host" download --project "$p" 2>&1) || fail "download: $out"
echo "$out" | grep -q "^downloaded" || fail "download printed: $out"
out=$("$host" compare --project "$p") || fail "compare: $out"
out=$("$host" status --project "$p") || fail "status: $out"
echo "$out" | grep -q "^device status: " || fail "status printed: $out"
# The partner comparison: a second project's data set, through the frame's topology.
q='C:\\VKR\\other.vkr'
out=$("$host" upload --project "$q" 2>&1) || fail "upload of the partner: $out"
cp "$VKR_DRIVE_ROOT/c/VKR/other.vkr" "$VKR_DRIVE_ROOT/c/VKR/copy.vkr"
out=$("$host" compare --project "$q" --with 'C:\\VKR\\copy.vkr') || fail "compare --with: $out"
echo "$out" | grep -q "^the data set equals the data set of " || fail "compare with its copy printed: $out"
sed -i 's/^message .*/message 0820C30820C30820C30820C30820C30820C30820C30820C3/' "$VKR_DRIVE_ROOT/c/VKR/other.vkr.device"
out=$("$host" upload --project "$q" 2>&1) || fail "upload of the changed partner: $out"
out=$("$host" compare --project "$p" --with "$q") || fail "compare --with: $out"
echo "$out" | grep -q "^the data set differs from the data set of .*other.vkr$" || fail "compare --with printed: $out"
out=$("$host" compare --project "$p" --with 'C:\\VKR\\none.vkr' 2>&1) && fail "compare with a missing partner succeeded: $out" || [ $? = 1 ] || fail "compare with a missing partner succeeded: an exit other than the 1 of a refusal"
echo "$out" | grep -q "^vkr-frame: there is no project file .*none.vkr (an upload creates one)$" ||
  fail "compare with a missing partner said: $out"
"$host" upload --with "$q" >/dev/null 2>&1; [ $? -eq 2 ] || fail "--with outside compare is not refused with 2"
"$host" upload --wire-delay slow >/dev/null 2>&1; [ $? -eq 2 ] || fail "a wrong wire delay is not refused with 2"
out=$("$host" unregister) || fail "unregister: $out"
out=$("$host" classes) || fail "classes: $out"
echo "$out" | grep -q "^0 registered classes" || fail "classes after unregister printed: $out"
"$host" create >/dev/null && fail "create after unregister succeeded" || [ $? = 1 ] || fail "create after unregister succeeded: an exit other than the 1 of a refusal"
"$host" bogus >/dev/null 2>&1; [ $? -eq 2 ] || fail "a wrong command line is not refused with 2"
echo "host commands: fine"
