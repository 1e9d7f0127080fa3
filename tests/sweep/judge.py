"""The sweep's verdict on one run, from outside: the transmitter's memory before and after (the
device file), the project and `compare`, every item the user sees (`--dump`), what happened in
order (`--journal`), the requests the device did not do, the last line and the exit status.

Each check reports the invariant it holds and the line of this file that found the fault. A
behaviour the user interfaces are required to have that an invariant would call a fault is listed
in EXCEPTIONS, narrowed to the user interface, the action, the invariant and the field or line it
covers, with the reason.
"""
import inspect
import re

import expect as ex
import sentences as st
import transmitter as tx

LOADING = {"Loading...", "..."}
PLACEHOLDERS = {"Not read", "Not connected", "Not shown", "--", "OFFLINE"}
MARK_CHANGED, MARK_INVALID = 671, 669
WRITES = {6, 17, 18, 19, 22, 34, 35, 40, 44, 45, 46, 134, 136, 138}
# Commands that run a procedure rather than read or write a value.
PROCEDURES = {38, 40, 41, 42, 45, 46}
KIND_WORDS = {
    "read": ("could not be read",),
    "write": ("not written", "did not go through", "were not written"),
    "procedure": ("failed", "did not confirm", "not fixed", "error while", "nothing is fixed", "stopped",
                  "did not start"),
}
# What the host says of a request the device did not do, and how a user interface says the same.
REASONS = [
    ("the device did not answer", "the device did not answer"),
    ("the device was busy", "the device is busy"),
    ("the frame's channel did not take it", "the request did not reach the device"),
    ("its answer was lost", "the device's answer was lost"),
    ("the link to the device was lost", "the connection to the device is lost"),
    # A request on a link already gone did not reach the device; the loss itself is told too.
    ("the link to the device is gone", "the request did not reach the device"),
    ("the link to the device is gone", "the connection to the device is lost"),
    ("the device refused it", "the device refused"),
]
# What a user interface may say of a request that failed in each way (a retry may have done it since).
FAULT_REASONS = {"silent": {"the device did not answer"}, "busy": {"the device is busy"},
                 "refused": {"the request did not reach the device"}, "lost": {"the device's answer was lost"},
                 "linkgone": {"the connection to the device is lost", "the request did not reach the device"},
                 "warned": set()}
# A text that says a request succeeded, and the commands whose success it tells.
SUCCESS = [
    (re.compile(r"fixed at (\d+\.\d+) mA"), {40}),
    (re.compile(r"completed successfully"), {136}),
    (re.compile(r"SELF TEST PASSED"), {41, 48}),
    (re.compile(r"\b(was|were) written\b(?!.*warns)|sent to the device"), WRITES),
    (re.compile(r"went through"), WRITES),
]
# Reads a write is made of: the Advanced page reads the memory word that holds the probe fault
# setting before it writes the word back changed. Such a read failing is that write not written.
READ_FOR_WRITE = {131: 134}
# Names a notice may give a read or a procedure besides the names of the items it fills.
COMMAND_NAMES = {
    0: ["Configuration Changed", "identity", "device", "Device Status"], 1: ["distance reading", "PV", "Display Unit", "unit"],
    2: ["loop current", "Analog Value", "Percent"], 3: ["device values", "Values page"],
    7: ["Polling Address", "Loop Current Mode", "HART page"], 12: ["Message", "Device page"],
    13: ["Tag", "Descriptor", "Device page", "Device Tag"], 14: ["sensor limit", "Sensor", "Device page"],
    15: ["Range", "Damping", "Level", "Write Protect", "Transfer"], 16: ["Final Assembly", "Device page"],
    20: ["Long Tag", "Device page"], 48: ["Additional Device Status", "Self test"], 131: ["Probe Fault", "echo", "probe length"],
    135: ["Display", "Tracking", "Dielectric", "Fail", "Command page"], 16: ["Final Assemply", "Final Assembly"],
    137: ["Sensitivity", "Analog Mode", "Blanking", "Offset", "advanced settings"],
    38: ["Reset Configuration Changed Flag"], 41: ["Self Test", "self test"], 42: ["Master Reset", "master reset"],
    40: ["output level", "fixed current", "loop current", "Loop Test"], 45: ["trim"], 46: ["trim"],
    136: ["Digitize", "Display", "Tracking", "Dielectric", "Fail"], 17: ["Message"], 18: ["Tag", "Descriptor", "Date", "Day", "Month", "Year"],
    19: ["Final Assembly", "Final Assemply"], 22: ["Long Tag"], 34: ["Damping"], 35: ["Range", "Level", "Upper", "Lower"],
    44: ["Unit", "unit"], 6: ["Polling Address", "Loop Current Mode"], 134: ["Probe Fault"],
    138: ["Sensitivity", "Analog Mode", "Blanking", "Offset"],
}
# The parameters `compare` names, by the bytes of the transmitter's memory they stand for.
PARAM_BYTES = {
    1022: [("damping", 0, 4)], 1023: [("rangeUnit", 0, 1), ("upperRange", 0, 4), ("lowerRange", 0, 4)],
    1024: [("pvUnit", 0, 1)], 1051: [("message", 0, 24)], 1054: [("tagDescriptorDate", 0, 6)],
    1055: [("tagDescriptorDate", 6, 12)], 1056: [("tagDescriptorDate", 18, 1)],
    1057: [("tagDescriptorDate", 19, 1)], 1058: [("tagDescriptorDate", 20, 1)],
    1064: [("displaySettings", 0, 1)], 1066: [("displaySettings", 1, 1)], 1068: [("displaySettings", 2, 1)],
    1070: [("displaySettings", 3, 1)], 1071: [("displaySettings", 4, 1)], 1088: [("displaySettings", 5, 1)],
    1090: [("displaySettings", 6, 4)], 1074: [("echoSettings", 0, 1)], 1076: [("echoSettings", 1, 1)],
    1078: [("echoSettings", 2, 4)], 1080: [("echoSettings", 6, 4)], 1097: [("longTag", 0, 32)],
}
# The write that carries each of them.
PARAM_WRITE = {1022: 34, 1023: 35, 1024: 44, 1051: 17, 1054: 18, 1055: 18, 1056: 18, 1057: 18, 1058: 18,
               1064: 136, 1066: 136, 1068: 136, 1070: 136, 1071: 136, 1088: 136, 1090: 136, 1074: 138, 1076: 138,
               1078: 138, 1080: 138, 1097: 22}
# What a click sets going in the transmitter, when the user agreed: the lines it may change (a
# Master Reset restarts the device, a cold start for every master).
CLICK_LINES = {546: ("displaySettings",), 377: ("fixedCurrent",), 6315: ("fixedCurrent", "zeroTrim", "gainTrim"),
               608: ("fixedCurrent", "coldStart"), 600: ("fixedCurrent",), 601: ("fixedCurrent", "zeroTrim", "gainTrim"),
               682: ()}
# Lines of the transmitter's memory that hold several items, written as one record.
SHARED_LINES = ("tagDescriptorDate", "displaySettings", "echoSettings")
# What the entries of the loop current's controls and the Digitize distance set going.
TYPED_LINES = {375: ("fixedCurrent",), 301: ("fixedCurrent",), 6314: ("fixedCurrent",),
               6316: ("fixedCurrent", "zeroTrim", "gainTrim"), 547: ("displaySettings",)}
# The controls a page opens, known by an item of their own.
OPENED = {375: "f4", 301: "f4", 6314: "f7", 6316: "f7", 6354: "f8"}

# Behaviour the user interfaces are required to have that an invariant would call a fault:
# (user interface, action, invariant, subject (a field, line, request or "write N"), the failure it
# follows (a name in AFTER; None: none), reason). Each is proved narrow by prove_exceptions: the fault
# of its kind outside its failure is still caught.
DOWNLOAD_WRITES = r"^write (17|18|22|34|35|44|136|138)$"
EXCEPTIONS = [
    (r"f1p7|f4|f7", r"click \d+", "unasked", r"^fixedCurrent$", "giving back failed",
     "a loop test or trim whose giving back of the current the transmitter did not confirm leaves the "
     "current fixed: the control says so once and closes on the user's second request (no control traps "
     "its user); only the fixed current, only after the giving back failed"),
    (r"f1p4", r"click 221\b", "unasked", r"^write 134$", None,
     "the Advanced page's Send writes its probe fault setting back every time, changed or not: the "
     "transmitter holds the same setting and counts the write"),
    (r"f1p6", r"click 221\b", "unasked", r"^write 6$", None,
     "the HART page's Send writes command 6 for its two settings, polling address and loop current mode, "
     "changed or not: the transmitter counts each write"),
    (r"f1p6", r"click 221\b", "twice", r"^6#\d+$", "the second of its Send",
     "the HART page's Send writes command 6 once for each of its two settings"),
    (r"f1p6", r"", "told", r"^6#\d+$", "the second of its Send",
     "the HART page's second command 6 repeats the first, which the transmitter confirmed with both "
     "settings: whatever becomes of the repeat, the transmitter holds what the user asked for"),
    (r"f1p9", r"(^|; )(now )?type 706", "offline", r"^706$", None,
     "the Echo page's range chooses how much of the curve its chart shows; nothing of it goes to the device"),
    (r"f5", r"answers .*Yes", "unasked", r"^(message|tagDescriptorDate|longTag|damping|upperRange|lowerRange|"
     r"rangeUnit|pvUnit|displaySettings|echoSettings)$", "the data set's value",
     "the offline parameter control's OK and Apply store the whole data set the user agreed to store in the "
     "device, as its release downloads the whole data set: settings the user did not touch go back to the "
     "data set's values (only to them)"),
    (r"f5", r"answers .*Yes", "unasked", r"^(limitsUnit|upperSensorLimit|lowerSensorLimit|minimumSpan)$",
     "the unit written", "the whole data set's download writes its unit, and the transmitter converts its "
     "sensor limits into it, as every unit change does (only converted, into the unit written)"),
    (r"f5", r"answers .*Yes", "unasked", DOWNLOAD_WRITES, None,
     "the whole data set's download the user agreed to writes each of its commands, the settings the user "
     "did not touch included"),
]


def _giving_back_failed(v, subject):
    """The last request of the loop current (its giving back) failed, or the link was lost."""
    loop = [r for r in v.action.run.requests if r.split("#")[0] == "40"]
    return bool(loop) and (loop[-1] in v.failed or v.linkgone)


def _data_sets_value(v, subject):
    """The line holds what the data set holds (in the unit the download wrote), besides the
    bytes of the entries the user typed (judged as typed)."""
    dataset, after = v.ctx.get("dataset", {}), v.ctx.get("after", {})
    if after.get(subject) == dataset.get(subject):
        return True
    typed = set()
    for s in v.action.steps:
        spec = tx.items_of("f5").get(s[1]) if s[0] == "type" else None
        if spec is not None and spec.line == subject:
            typed |= set(range(spec.at, spec.at + (4 if spec.kind == "float" else spec.size)))
    a, d = tx.raw(after, subject), tx.raw(dataset, subject)
    if typed and len(a) == len(d) and all(a[i] == d[i] for i in range(len(a)) if i not in typed):
        return True
    # A unit change converts the distances: the data set's value in the unit written.
    if subject in ("upperRange", "lowerRange") and dataset.get(subject):
        value = tx.convert(tx.f32(tx.raw(dataset, subject)), tx.u8(dataset, "rangeUnit"), tx.u8(after, "rangeUnit"))
        held = tx.f32(tx.raw(after, subject))
        return held is not None and abs(held - value) <= 1e-4 * max(1.0, abs(value))
    return False


def _converted(v, subject):
    """The sensor limits in the unit the download wrote, the same distances as before."""
    before, after = v.ctx.get("before", {}), v.ctx.get("after", {})
    if subject == "limitsUnit":
        return tx.u8(after, "limitsUnit") == tx.u8(after, "pvUnit")
    a, b = tx.f32(tx.raw(before, subject)), tx.f32(tx.raw(after, subject))
    if a is None or b is None:
        return False
    a, b = tx.convert(a, tx.u8(before, "limitsUnit"), 45), tx.convert(b, tx.u8(after, "limitsUnit"), 45)
    return abs(a - b) <= 1e-4 * max(1.0, abs(a))


def _second_of_send(v, subject):
    return second_of_send(v.action.run.journal, v.failed, subject)


def second_of_send(journal, failed, subject):
    """The request is the second command 6 of its step, after one that went through."""
    earlier = []
    for line in journal:
        if line.startswith("step "):
            earlier = []
        elif line == "request " + subject:
            return len(earlier) == 1 and earlier[0] not in failed
        elif line.startswith("request 6#"):
            earlier.append(line[len("request "):])
    return False


AFTER = {None: lambda v, subject: True, "the second of its Send": _second_of_send, "giving back failed": _giving_back_failed,
         "the data set's value": _data_sets_value, "the unit written": _converted}


def excepted(ui, action, invariant, subject, verdict=None):
    for e_ui, e_action, e_inv, e_subject, after, _ in EXCEPTIONS:
        if re.fullmatch(e_ui, ui) and re.search(e_action, action) and e_inv == invariant and \
                re.search(e_subject, str(subject)) and (after is None or verdict is not None and
                                                        AFTER[after](verdict, str(subject))):
            return True
    return False


def command_line(args):
    shown, skip = [], 0
    for a in args:
        if skip:
            skip -= 1
        elif a in ("--project", "--png"):
            skip = 1
        elif a not in ("--dump", "--journal", "--no-picture"):
            shown.append("'%s'" % a if (" " in a or "<" in a or ">" in a or not a) else a)
    return "vkr-frame " + " ".join(shown)


class Verdict:
    def __init__(self, sweep, ui, action, fault):
        self.sweep, self.ui, self.action, self.fault = sweep, ui, action, fault
        self.what = action.describe() + (" with " + fault if fault else "")
        run = action.run
        # The requests the device surely or maybe did not do: told so, or failed by the case.
        self.failed = {req for req, _ in run.not_done} | {
            req for req, kind in failing_requests(fault) if kind != "warned" and req in run.requests}
        self.linkgone = any("link to the device" in why for _, why in run.not_done)
        self.ctx = {}

    def fail(self, invariant, subject, why):
        if excepted(self.ui.name, self.what, invariant, subject, self):
            return
        caller = inspect.currentframe().f_back
        where = "judge.py:%d" % caller.f_lineno
        # One fault of a user interface, an invariant and a field or line, however many runs show it.
        key = (self.sweep.state.name, self.ui.name, invariant, str(subject), where)
        example = "%s: %s\n    %s" % (self.what, why, command_line(self.action.run.args))
        self.sweep.fail(key, example)


# ---- Reading a run -------------------------------------------------------------------------------

def failing_requests(fault):
    """The requests a case fails and how: "13#1=busy,13#2=busy" -> [("13#1", "busy"), ...]."""
    return [tuple(f.split("=", 1)) for f in fault.split(",")] if fault else []


def typed_of(action):
    out = {}
    for s in action.steps:
        if s[0] == "type":
            out[s[1]] = s[2]
    return out


def clicks_of(action):
    return [s[1] for s in action.steps if s[0] == "click"]


def agreed(action):
    """Whether every question of the run got the button that acts."""
    for buttons, answer in action.run.questions():
        if answer not in ("Ok", "Yes", "Retry"):
            return False
    return True


def agreed_entry(action, iid):
    """Whether the user agreed to the write of an entry: the last question after its typing that
    asks leave to write (not whether to stop after an error) got the button that acts."""
    typed_at, answer, sent, yes = None, None, False, False
    for i, line in enumerate(action.run.journal):
        if line.startswith("step type %d=" % iid):
            # An earlier typing sent with nobody declining it was written: a later decline is of later writes.
            yes = yes or (sent and answer in (None, "Ok", "Yes", "Retry"))
            typed_at, sent = i, False
        elif typed_at is not None and sent and line.startswith("step type "):
            break  # the entry went out; what is asked after another entry is typed is about that one
        elif typed_at is not None:
            # A question of an earlier step (Digitize's, answered Cancel) asks no leave for what a
            # later step (Send) writes.
            if line.startswith("step ") and not line.startswith("step type "):
                answer = None
            sent = sent or line.startswith("request ")
            if sent and answer in (None, "Ok", "Yes", "Retry"):
                yes = True  # agreed, and written after it: a later No declines only what comes then
            m = re.match(r"^message (?:box )?(?:\S+ )?(buttons\w+) (.*) -> button(\w+)$", line)
            # Whether to stop after an error, or whether the output equals the meter (No: the trim
            # goes on with the reading typed), asks no leave to write.
            if m and m.group(1) != "buttonsOk" and not re.search(r"error|stop|equal to reference meter",
                                                                 m.group(2), re.I):
                answer = m.group(3)
    return yes or answer in (None, "Ok", "Yes", "Retry")


def holds_typed(v, spec, device, value):
    """holds(), for a distance typed in the unit the transmitter was in before a unit written after
    it (units_seen): the same distance in the device's unit now."""
    seen = getattr(v.action, "units_seen", {}).get(spec.item)
    # An entry the page converted, and said so, is judged as converted already.
    if seen is not None and spec.kind == "float" and spec.unit and spec.item not in v.ctx.get("set by the page", ()):
        try:
            number = float(value)
        except ValueError:
            return holds(spec, device, value)
        now = tx.u8(device, spec.unit)
        if now in tx.METRES and seen in tx.METRES:
            value = "%.9g" % tx.convert(number, seen, now)
    return holds(spec, device, value)


def pending(run, iid, value):
    """Whether an entry is still pending as the run ends: its field shows what was typed, with its
    changed or invalid mark, and no Send, OK or Apply came after the typing (a procedure such as Digitize
    sends none of the page's entries)."""
    it = run.items.get((0, iid))
    if it is None or it["mark"] not in (MARK_CHANGED, MARK_INVALID) or not same_entry(it["text"], value):
        return False
    at = max((i for i, line in enumerate(run.journal) if line.startswith("step type %d=" % iid)), default=None)
    if at is None:
        return False
    # A page's Send sends the entries of the page shown: one typed on another page stays pending.
    first = next((run.args[i + 1] for i, a in enumerate(run.args[:-1]) if a == "--page"), "0")
    page = int(first) if first.isdigit() else None
    for line in run.journal[:at]:
        m = re.fullmatch(r"step page (\d+)", line)
        if m:
            page = int(m.group(1))
    typed_on = page
    for line in run.journal[at:]:
        m = re.fullmatch(r"step page (\d+)", line)
        if m:
            page = int(m.group(1))
        if re.fullmatch(r"step click (1|102)", line) or (line == "step click 221" and page == typed_on):
            return False
    return True


def notices(run):
    """What the user was told, in order: (journal position, text)."""
    out = []
    lines_told, step = {}, ""
    for i, line in enumerate(run.journal):
        if line.startswith("step "):
            step = line
        if line.startswith("message line "):
            text = line.split(": ", 1)[1] if ": " in line else ""
            if text.strip():
                # A page shown again shows its line again: told when it was first set.
                at = lines_told.get(text, i) if step.startswith("step page ") else i
                lines_told.setdefault(text, i)
                out.append((at, text))
        elif re.match(r"^message (box )?(\S+ )?buttonsOk ", line):
            text = line.split(" buttonsOk ", 1)[1]
            out.append((i, re.sub(r" -> button\w+$", "", text)))
        elif line.startswith("field "):
            text = line.split(": ", 1)[1] if ": " in line else ""
            if re.search(r"could not|failed|not written|Not read|FAILED", text):
                out.append((i, text))
    end = len(run.journal)
    for items in [run.items] + list(run.pages.values()):
        for (c, i), it in items.items():
            if it["cls"] in ("Static", "Edit") and re.search(r"could not|failed|not written", it["text"]):
                out.append((end, it["text"]))
    return out


def command_kind(command, ui, action, req=None):
    clicks = clicks_of(action)
    if command in PROCEDURES:
        return "procedure"
    if command == 136 and 546 in clicks:
        return "procedure"
    if command == 131 and (ui.name == "f1p9" or ui.name == "f6") and 632 in clicks:
        # The echo read is the one its button set going: a read before it is another page's.
        journal = action.run.journal
        clicked = next((i for i, line in enumerate(journal) if line == "step click 632"), None)
        at = next((i for i, line in enumerate(journal) if line == "request " + req), None) if req else None
        if clicked is None or at is None or at > clicked:
            return "procedure"
        return "read"
    if command in WRITES:
        return "write"
    return "read"


def reasons_of(host_why):
    return {told for host, told in REASONS if host in host_why}


def same_entry(shown, typed):
    if shown.strip() == typed.strip():
        return True
    try:
        a, b = float(shown), float(typed)
    except ValueError:
        return False
    # A converted entry is shown to the field's decimals, its sign kept: -3e-06 shows as "-0.000".
    text = shown.strip()
    decimals = len(text.split(".")[1]) if "." in text and "e" not in text.lower() else None
    rounding = 0.5 * 10 ** -decimals * 1.0001 if decimals is not None and text.startswith("-") == (b < 0) else 0.0
    return abs(a - b) <= max(0.01 * max(abs(a), abs(b), 1e-9), rounding)


def number_matches(text, expected, label, spec):
    """Whether a shown number is the transmitter's value in the unit the label names."""
    try:
        shown = float(text)
    except ValueError:
        return False
    _, value, unit = expected
    label_unit = tx.UNIT_OF_TEXT.get((label or "").strip())
    if label_unit is not None and unit is not None:
        if label_unit in tx.METRES and unit in tx.METRES:
            value = tx.convert(value, unit, label_unit)
        elif label_unit != unit:
            return False
    decimals = len(text.strip().split(".")[1]) if "." in text else 0
    tolerance = 0.5 * 10 ** -decimals + 1e-5 * abs(value)
    return abs(shown - value) <= tolerance * 1.0001


def shows(text, options, label, spec):
    for e in options:
        if e is None:
            continue
        if e[0] == "text" and text.rstrip() == e[1].rstrip():
            return True
        if e[0] == "number" and number_matches(text, e, label, spec):
            return True
    return False


def opened_ui(items, control, default):
    if control == 0:
        return default
    for (c, i) in items:
        if c == control and i in OPENED:
            return OPENED[i]
    return None


# ---- The verdict ---------------------------------------------------------------------------------

def judge(sweep, ui, action, fault, explorer, healthy=None):
    run = action.run
    v = Verdict(sweep, ui, action, fault)
    offline = sweep.state.offline
    before = tx.lines_of(run.device_before)
    after = tx.lines_of(run.device) if run.device else before
    devices = [before, after] if not offline else []
    # The data set the offline control shows: as uploaded, or as the run stored it in the device.
    dataset = tx.lines_of(getattr(sweep, "project_device", "") or sweep.golden_device)
    stored = run.project != run.project_before and not offline
    v.ctx.update(before=before, after=after, dataset=dataset,
                 changed={k for k in set(before) | set(after) if before.get(k) != after.get(k)},
                 shown=[after] if stored and run.compare == set() else [dataset] + ([after] if stored else []))
    typed = typed_of(action)
    # A level the page kept within the sensor's limits, and said so, is the user's entry now; the
    # limit is the transmitter's.
    # The same for a level kept the minimum span from the other, and a setting kept in steps set to
    # the step the page names; and an entry converted when the unit changed elsewhere, and said so
    # (check_units_seen holds the conversion against what was typed). In the order they were told.
    last_typed = {}
    for i, line in enumerate(run.journal):
        m = re.match(r"^step type (\d+)=", line)
        if m:
            last_typed[int(m.group(1))] = i
    for pos, text in notices(run):
        pos = told_position(run, pos, text)  # a line still shown at the end was told when it was set
        for m in re.finditer(r"([A-Z][\w ]*?) was set to (-?[\d.]+) (\S+), the (sensor's limit|minimum span|step)|"
                             r"([A-Z][\w ]*?) was converted from (-?[\d.]+) (\S+) to (-?[\d.]+) (\S+?):? ", text):
            name, value = (m.group(1), m.group(2)) if m.group(1) else (m.group(5), m.group(8))
            for spec in explorer.items.values():
                # What the user typed after the page set the entry is the entry again.
                if spec.name != name or spec.item not in typed or last_typed.get(spec.item, -1) >= pos:
                    continue
                # A conversion told after a Send wrote the unit holds the number typed, converted truly
                # (check_units_seen holds those told where the unit changed before the Send).
                truly = m.group(5) and same_entry(m.group(6), typed[spec.item]) and \
                    tx.UNIT_OF_TEXT.get(m.group(7)) in tx.METRES and tx.UNIT_OF_TEXT.get(m.group(9)) in tx.METRES and \
                    number_matches(m.group(8), ("n", tx.convert(float(m.group(6)), tx.UNIT_OF_TEXT[m.group(7)],
                                                                 tx.UNIT_OF_TEXT[m.group(9)]), None), None, spec)
                if m.group(1) or spec.item in getattr(action, "units_seen", {}) or truly:
                    typed[spec.item] = value
                    v.ctx.setdefault("set by the page", set()).add(spec.item)
            if m.group(4) == "sensor's limit":
                check_limit(v, name, value, m.group(3), devices)
    # The same rule applied again to a level retyped: the line still says so, and the field shows it.
    line_now = " ".join(it["text"] for items in [run.items] + list(run.pages.values())
                        for (c, i), it in items.items() if i == 6333)
    for m in re.finditer(r"([A-Z][\w ]*?) was set to (-?[\d.]+) (\S+), the (sensor's limit|minimum span)", line_now):
        for spec in explorer.items.values():
            it = run.items.get((0, spec.item))
            if spec.name == m.group(1) and spec.item in typed and it is not None and \
                    it["text"].strip() == m.group(2) and not same_entry(it["text"], typed[spec.item]):
                typed[spec.item] = m.group(2)
                v.ctx.setdefault("set by the page", set()).add(spec.item)
    refused_typing = "has no item" in run.last and "that takes" in run.last
    failed = {req for req, _ in run.not_done}
    linkgone = any("link to the device" in why for _, why in run.not_done)

    # The outcome: a run in which not all was done exits 1 and says why last.
    if run.not_done and run.code == 0:
        v.fail("exit", run.not_done[0][0], "exit 0 although %s: %s was not done" % run.not_done[0])
    if run.code not in (0, 1) or re.search(r"^(==\d+==ERROR: \w+Sanitizer|SUMMARY: \w+Sanitizer|.*: runtime error: )",
                                            run.err, re.M):
        v.fail("exit", "sanitizer", "exit %d: the host did not end as it should (%s)" % (run.code, run.last))
    elif run.code != 0 and not run.last.startswith("vkr-frame: "):
        v.fail("exit", "", "exit %d without a reason on its last line: %r" % (run.code, run.last))
    if run.code == 0 and run.last.startswith("vkr-frame: "):
        v.fail("exit", "", "exit 0 after: %r" % run.last)

    # Every field, unit label, lamp and mark the user sees, on every page shown.
    pages = run.pages.items() if run.pages else [(ui.page, run.items)]
    for page, items in pages:
        name = "f1p%d" % page if ui.name == "f1 all pages" else ui.name
        check_items(v, sweep, name, run, items, v.ctx["shown"] if name == "f5" else devices, typed,
                    offline and name != "f5", linkgone, any(s[0] == "wait" for s in action.steps),
                    stale_commands(run, fault))
    check_marks(v, run, typed, after, explorer)

    if offline:
        check_sentences(v, run, {}, {}, typed_of(action), explorer)
        judge_offline(v, sweep, ui, action, run, typed)
        return

    # Told: each request the device did not do is told, as what it is, naming it.
    told = notices(run)
    closing = next((i for i, line in enumerate(run.journal) if line.startswith("step close")), len(run.journal))
    for req, why in run.not_done:
        # A download the host's own close agreed to, after the control was gone: the DTM's word on
        # it reached the frame, which says it.
        if "#" in req and "request " + req in run.journal[closing:] and "the download failed:" in run.out:
            continue
        if "#" not in req:
            if not told:
                v.fail("told", req, "the user was told nothing of a request on a lost link (%s)" % why)
            continue
        command = int(req.split("#")[0])
        kind = command_kind(command, ui, action, req)
        if kind == "read" and command not in shown_commands(ui.name):
            continue  # a read of another page, hidden: nothing the user sees went without it
        if kind == "read" and any(r.split("#")[0] == str(command) and int(r.split("#")[1]) > int(req.split("#")[1])
                                  and r not in dict(run.not_done) for r in run.requests):
            continue  # read again since, and answered: what the user sees is that answer
        if kind == "read" and answered_after(run, req, fault):
            continue  # an earlier read of it answered after this one failed: the fields show that answer
        words = KIND_WORDS[kind]
        if kind == "read" and healthy is not None and any(
                r.split("#")[0] == str(READ_FOR_WRITE.get(command)) for r in healthy.requests):
            words = words + KIND_WORDS["write"]
        of_kind = [t for _, t in told if any(w in t.lower() for w in words)]
        if not of_kind:
            said = "could not be read" if kind == "read" else "was not written" if kind == "write" else "failed"
            # Silence and a notice of another kind are two faults: a page that tells of its own
            # failures on other words must not hide one that drops them.
            if not told:
                v.fail("told", req, "%s: %s, and the user was told nothing (nothing says it %s)" % (req, why, said))
            else:
                v.fail("told", req, "%s: %s, and nothing says it %s (told: %s)" % (
                    req, why, said, " / ".join(t for _, t in told)))
            continue
        names = names_of(command, kind)
        if names and not any(named(t, names) for t in of_kind):
            v.fail("told", req, "%s: %s, told without naming it (%s)" % (req, why, " / ".join(of_kind)))
    # Told as what it is: a reason given is one that happened.
    happened = set().union(*[reasons_of(why) for _, why in run.not_done]) if run.not_done else set()
    for req, kind in failing_requests(fault):
        if req in run.requests:
            happened |= FAULT_REASONS[kind]
    # After the link was lost, a write is told as lost with it, not as a request gone astray.
    if linkgone:
        for _, text in told:
            for sentence in text.split(". "):
                if "not written" in sentence and "did not reach the device" in sentence:
                    v.fail("told as", "link", "says %r after the connection to the device was lost" % text)
    for pos, text in told:
        _ = pos
        for host, said in REASONS:
            if said in text and said not in happened:
                v.fail("told as", said, "says %r, which did not happen (%s)" % (
                    text, "; ".join("%s: %s" % x for x in run.not_done) or "everything was done"))
        if "may still be fixed" in text and not fixed_may_be(run, fault, _):
            v.fail("told as", "fixed", "says the loop current may still be fixed while the transmitter surely "
                   "did not fix it (%s)" % ("; ".join("%s: %s" % x for x in run.not_done) or "all done"))
    # What the user typed and sent that the transmitter does not hold is told as not written.
    committed = any(s[0] == "click" for s in action.steps) and agreed(action)
    if committed and not refused_typing:
        for iid, value in typed.items():
            spec = explorer.items.get(iid)
            if spec is None or not spec.writes or holds_typed(v, spec, after, value) or (0, iid) not in run.items:
                continue
            if pending(run, iid, value):
                continue
            words = KIND_WORDS["write"] + ("not valid", "not sent")
            names = item_names(spec)
            if not any(any(w in t for w in words) and named(t, names) for _, t in told):
                v.fail("told", iid, "%s was typed %r and sent, the transmitter does not hold it, and nothing says it "
                       "was not written (told: %s)" % (spec.name, value, " / ".join(t for _, t in told) or "nothing"))
    check_success_after_failure(v, run, failed, typed, explorer)
    check_told_once(v, run)
    check_warnings(v, sweep, run, fault)
    check_claims(v, ui, run, before, after, typed, explorer)
    check_sentences(v, run, before, after, typed, explorer)
    check_refusals(v, run, fault)
    check_period(v, action, run)
    check_host(v, run)
    check_unread_named(v, run, fault, explorer)
    check_calendar(v, before, after)
    check_writes(v, ui, action, run, typed, explorer)

    # Nothing unasked: the transmitter changes only by what was typed or clicked and agreed to.
    check_unasked(v, ui, action, run, before, after, typed, explorer)

    # The data set is what happened.
    check_data_set(v, sweep, ui, action, run, before, after, typed)
    if getattr(action, "limit", None):
        check_limit_typed(v, action, before, after, told, typed)
    check_units_seen(v, action, run, before, after, typed, explorer, told)

    # Nothing lost: what the user typed stays until it is written or refused with a word.
    if not refused_typing:
        for iid, value in typed.items():
            it = run.items.get((0, iid))
            spec = explorer.items.get(iid)
            if it is None or spec is None or it["cls"] not in ("Edit", "ComboBox"):
                continue
            if holds_typed(v, spec, after, value):
                continue
            if not same_entry(it["text"], value) and not (
                    spec.kind == "packed" and it["text"].strip() == value.strip().upper()):
                v.fail("lost", iid, "item %d shows %r, the user typed %r and the transmitter did not take it" % (
                    iid, it["text"], value))


def item_names(spec):
    """The names a notice may give an item: its own, its write's, its parameter's."""
    names = [spec.name] + (names_of(spec.writes, "write") if spec.writes else [])
    if getattr(spec, "dtm", None):
        names += [tx.parameter_name(spec.dtm)] + GROUP_NAMES.get(spec.dtm, [])
    return [n for n in names if n]


_ALL_NAMES = []


def all_names():
    if not _ALL_NAMES:
        found = set()
        for command in set(COMMAND_NAMES) | WRITES | {spec.cmd for spec in tx.ITEMS if spec.cmd and spec.cmd > 0}:
            found |= set(names_of(command, "read"))
        found |= {spec.name for spec in tx.ITEMS}
        _ALL_NAMES.extend(sorted(n.lower() for n in found if n))
    return _ALL_NAMES


def named(text, names):
    """Whether the text gives one of the names as a whole name: not as a part of a longer name it
    gives ("Status" is not named by "Device Status")."""
    low = text.lower()
    spans = []
    for n in set(all_names()) | {n.lower() for n in names}:
        for m in re.finditer(r"(?<!\w)" + re.escape(n) + r"(?!\w)", low):
            spans.append((m.start(), m.end(), n))
    wanted = {n.lower() for n in names}
    return any(n in wanted and not any(s2 <= s1 and e1 <= e2 and e2 - s2 > e1 - s1 for s2, e2, _ in spans)
               for s1, e1, n in spans)


# The writes the transmitter counts (its configuration changed counter), and the writes the
# entries and buttons that are no item of their own set going.
COUNTED = {6, 17, 18, 19, 22, 34, 35, 44, 134, 136, 138}
TYPED_WRITES = {547: 136}
CLICK_WRITES = {546: 136}


def check_writes(v, ui, action, run, typed, explorer):
    """Each write the transmitter counts is one the user asked for and agreed to, sent once a step
    (a request made again after one that went through is a write sent twice)."""
    asked = set()
    for iid in typed:
        if not agreed_entry(action, iid):
            continue
        spec = explorer.items.get(iid)
        if spec is not None and spec.writes:
            asked.add(spec.writes)
        if iid in TYPED_WRITES:
            asked.add(TYPED_WRITES[iid])
    if agreed(action):
        asked |= {CLICK_WRITES[b] for b in clicks_of(action) if b in CLICK_WRITES}
    done = {}
    for line in run.journal:
        if line.startswith("step "):
            done = {}
            continue
        m = re.match(r"^request ((\d+)#\d+)$", line)
        if not m or int(m.group(2)) not in COUNTED:
            continue
        req, command = m.group(1), int(m.group(2))
        if command not in asked:
            v.fail("unasked", "write %d" % command, "%s was sent, a write nobody asked for (asked: %s)" % (
                req, ", ".join(str(c) for c in sorted(asked)) or "none"))
        if command in done:
            v.fail("twice", req, "%s was sent after %s went through in the same step: a write sent twice" % (
                req, done[command]))
        if req not in v.failed:
            done[command] = req


def warned_requests(sweep, run, fault):
    """The writes the transmitter did and answered with its warning."""
    faulted = dict(failing_requests(fault))
    not_done = {req for req, _ in run.not_done}
    # A command the transmitter refused (write protection, multidrop) was not done, warned or not.
    refused = {req.split("#")[0] for req, why in run.not_done if "refused it (response code" in why}
    out = []
    for req in run.requests:
        kind = faulted.get(req)
        if req.split("#")[0] in refused:
            continue
        if kind == "warned" or (sweep.state.warned and kind is None and req not in not_done and
                                int(req.split("#")[0]) in WRITES):
            out.append(req)
    return out


WARNING_TOLD = re.compile(r"warn.*0x08 \([^)]*[a-z]{3}[^)]*\)", re.I)


def check_warnings(v, sweep, run, fault):
    """Every warning told, each once, with the meaning of its code, whichever command got it."""
    warned = warned_requests(sweep, run, fault)
    if not warned:
        return
    told = notices(run)
    positions = {line[len("request "):]: i for i, line in enumerate(run.journal) if line.startswith("request ")}
    for command in sorted({int(r.split("#")[0]) for r in warned}):
        reqs = [r for r in warned if int(r.split("#")[0]) == command]
        names = names_of(command, "write")
        first = min(positions.get(r, 0) for r in reqs)
        # A message's title ("DAC Trim: ...") names its window, not what the device warned of.
        about = [t for pos, t in told if pos >= first and "0x08" in t and
                 named(re.sub(r"^[^:.;]{1,40}: (?=[A-Z])", "", t), names)]
        with_meaning = [t for t in about if WARNING_TOLD.search(t)]
        if not about:
            v.fail("warning", command, "%s: the transmitter did it with the warning 0x08, and nothing tells the "
                   "warning (told: %s)" % (" ".join(reqs), " / ".join(t for _, t in told) or "nothing"))
        elif not with_meaning:
            v.fail("warning", command, "%s: the warning is told without the meaning of its code: %s" % (
                " ".join(reqs), " / ".join(about)))
        else:
            # A line that gathers notes shows the same warning again beside a later note: the
            # sentences of the warning count, not the texts they stand in.
            each = [[x for x in re.split(r"(?<=\.) ", t) if "0x08" in x and named(x, names)] for t in about]
            warnings = {x for told_ in each for x in told_}
            if len(warnings) > len(reqs) or max(len(told_) for told_ in each) > len(reqs):
                v.fail("warning", command, "%s: the warning is told %d times: %s" % (
                    " ".join(reqs), len(warnings), " / ".join(sorted(warnings))))


# The offline parameter control names its day, month and year together, as the date.
GROUP_NAMES = {1056: ["Date"], 1057: ["Date"], 1058: ["Date"]}


def param_names(param):
    """The names a notice gives a device parameter of the data set: its own, its items', its group's."""
    names = [tx.parameter_name(param)] + [spec.name for spec in tx.items_of("f5").values() if spec.dtm == param]
    return [n for n in names + GROUP_NAMES.get(param, []) if n]


def param_held(param, before, after, dataset, typed, explorer):
    """Whether the transmitter holds the data set's value of a parameter: True, False, or None
    when it held it before the run too (nothing to tell apart)."""
    for iid, value in typed.items():
        spec = explorer.items.get(iid)
        if spec is not None and getattr(spec, "dtm", None) == param:
            return None if holds(spec, before, value) else holds(spec, after, value)
    spans = PARAM_BYTES.get(param, [])
    if not spans:
        return None
    bytes_of = lambda d: [tx.raw(d, line)[at:at + n] for line, at, n in spans]
    if bytes_of(before) == bytes_of(dataset):
        return None
    return bytes_of(after) == bytes_of(dataset)


def check_claims(v, ui, run, before, after, typed, explorer):
    """What a notice says the transmitter holds, held against the transmitter before and after."""
    dataset = v.ctx.get("dataset", before)
    # A distance converted into a new unit is the same distance: not a change of the setting.
    metres = {1023: [("upperRange", 0, "rangeUnit"), ("lowerRange", 0, "rangeUnit")],
              1078: [("echoSettings", 2, "pvUnit")], 1080: [("echoSettings", 6, "pvUnit")]}

    def moved(param):
        if param in metres:
            m = lambda d, line, at, unit: tx.convert(tx.f32(tx.raw(d, line), at) or 0.0, tx.u8(d, unit), 45)
            return any(abs(m(before, *x) - m(after, *x)) > 1e-4 * max(1.0, abs(m(before, *x))) for x in metres[param])
        return any(tx.raw(before, l)[a:a + n] != tx.raw(after, l)[a:a + n] for l, a, n in PARAM_BYTES[param])
    changed_params = [p for p in PARAM_BYTES if moved(p)]
    # The journal's position of each write request: a claim is judged by what the device held when
    # it was made, so a parameter written again after it is left alone.
    writes_at = [(i, int(line.split(" ")[1].split("#")[0])) for i, line in enumerate(run.journal)
                 if re.match(r"^request \d+#\d+$", line)]
    written_after = lambda param, pos: any(i > pos and c == PARAM_WRITE.get(param) for i, c in writes_at)
    for pos, text in notices(run):
        # A notice speaks of what was typed up to it (one still shown at the end, up to when it was set).
        typed_then = typed_before(run, told_position(run, pos, text), typed)
        # What a failed download says the device holds and lacks: "... holds all the changes (A)",
        # "... holds what the download wrote before it stopped (A, B), not the changes C", "... holds
        # none of the changes (C)", "... holds B of the changes, not C", "The device was not changed".
        held = " ".join(re.findall(r"holds (?:all the changes|what the download wrote before it stopped) \(([^)]*)\)",
                                   text) + re.findall(r"holds (.*?) of the changes, not", text))
        not_held = " ".join(re.findall(r"none of the changes \(([^)]*)\)", text) +
                            re.findall(r"(?:not the changes|of the changes, not) (.*?)(?:;|\.$|$)", text))
        unchanged = "device was not changed" in text
        if held or not_held or unchanged:
            for claim, part in ((True, held), (False, not_held)):
                for param in PARAM_BYTES:
                    if not any(named(part, [n]) for n in param_names(param)) or written_after(param, pos):
                        continue
                    is_held = param_held(param, before, after, dataset, typed_then, explorer)
                    if is_held is not None and is_held != claim:
                        v.fail("claim", param, "says the device holds %s of %s, the transmitter %s (%s -> %s)" % (
                            "all" if claim else "none", param_names(param)[0], "does" if is_held else "does not",
                            " ".join(tx.raw(before, l)[a:a + n].hex() for l, a, n in PARAM_BYTES[param]),
                            " ".join(tx.raw(after, l)[a:a + n].hex() for l, a, n in PARAM_BYTES[param])))
            # The settings the download wrote are among what the device holds, told so.
            for param in changed_params:
                if not written_after(param, pos) and not any(named(held, [n]) for n in param_names(param)):
                    v.fail("claim", param, "the transmitter's %s changed, and the notice does not count it among "
                           "what the device holds: %s" % (param_names(param)[0], text))
        # "A was written", "A and B were written": each holds what was typed, unless written again since.
        at = told_position(run, pos, text)
        later = {c for i, c in writes_at if i > at and not any(
            run.journal[i] == "request " + r for r in v.failed)}
        retyped = {int(m_.group(1)) for m_ in (re.match(r"^step type (\d+)=", line) for line in run.journal[at:]) if m_}
        for sentence in re.split(r"(?<=\.) ", text):
            w = re.search(r"^(.*?) (?:was|were) written\b", sentence)
            if not w or "not written" in sentence:
                continue
            for iid, value in typed_then.items():
                spec = explorer.items.get(iid)
                if spec is not None and spec.writes and named(w.group(1), item_names(spec)) and \
                        spec.writes not in later and \
                        not holds(spec, after, value) and not held_since_unit(v, spec, run, after, value, pos):
                    v.fail("claim", iid, "says %r; %s was typed %r, the transmitter holds %s" % (
                        sentence, spec.name, value, describe_expected(spec.expected(after))))
        # "X was set to V u, ...": written, the transmitter holds V in the unit named.
        # (A line that gathers notes tells an entry set twice: the last is what it was set to.)
        for name, (value, unit) in {n: (x, u) for n, x, u in re.findall(r"([A-Z][\w ]*?) was set to (-?[\d.]+) (\S+?),",
                                                                        text)}.items():
            for spec in explorer.items.values():
                if spec.name == name and spec.writes and spec.line in v.ctx.get("changed", ()) and \
                        spec.item not in retyped and spec.writes not in later and \
                        not number_matches(value, spec.expected(after), unit, spec):
                    v.fail("claim", spec.item, "says %r, the transmitter holds %s" % (
                        text, describe_expected(spec.expected(after))))
        # "X could not be read": a read of X failed.
        r = re.search(r"^(.*) could not be read", text)
        if r:
            failed = {int(req.split("#")[0]) for req in v.failed if "#" in req}
            failed |= {c for c, w in READ_FOR_WRITE.items() if w in failed}
            commands = {c for c in COMMAND_NAMES if named(r.group(1), names_of(c, "read"))}
            # A read that failed stops the page's reads after it: those were never made.
            failed |= {c for c in commands if v.failed and not any(q.split("#")[0] == str(c) for q in run.requests)}
            if (not v.failed and not v.linkgone) or (commands and not v.linkgone and not commands & failed):
                v.fail("claim", "read", "says %r, and no read of %s failed (failed: %s)" % (
                    text, ", ".join(str(c) for c in sorted(commands)) or "it",
                    " ".join(sorted(v.failed)) or "nothing"))
    # "fixed at N mA": the last such word, with the current still fixed after the run, names it.
    fixed = [float(x) for _, t in notices(run) for x in re.findall(r"fixed at (\d+\.\d+) mA", t)]
    held = tx.f32(tx.raw(after, "fixedCurrent"))
    if fixed and held and abs(fixed[-1] - held) > 0.0005:
        v.fail("claim", "fixedCurrent", "says the output is fixed at %.3f mA, the transmitter holds %.3f mA" % (
            fixed[-1], held))
# What a refusal says the field can hold: its limits, its characters, its length.
HOLDS_WORDS = re.compile(r"-?\d+(\.\d+)? to -?\d+|character|letter|Latin|ASCII|at most|between|one of|"
                         r"the device refused it: 0x[0-9A-F]+ \(", re.I)


def check_limit_typed(v, action, before, after, told, typed):
    """An entry typed with what its field cannot hold, or at, inside and beyond a limit: the
    transmitter holds exactly what was typed (or the level the page said it set instead), or holds
    what it held and a word names the field and what it can hold. Never stored otherwise, never
    dropped in silence."""
    iid, value, spec = action.limit
    value = typed.get(iid, value)
    if spec is None or spec.line is None or spec.kind in ("model", "memory", "const", "status"):
        return
    size = 4 if spec.kind == "float" else spec.size
    written = tx.raw(before, spec.line)[spec.at:spec.at + size] != tx.raw(after, spec.line)[spec.at:spec.at + size]
    e = spec.expected(after)
    if e is not None and e[0] == "text":
        held = (e[1].rstrip() == value.rstrip()) if spec.kind == "latin" else \
            (e[1].rstrip().upper() == value.rstrip().upper())
    else:
        held = holds(spec, after, value)
    if written and not held and e is not None and e[0] == "text":
        # An entry that takes no more characters than its field holds shows the cut as it is typed:
        # what the user saw is what was written.
        journal = action.run.journal
        at = max((i for i, line in enumerate(journal) if line.startswith("step type %d=" % iid)), default=len(journal))
        shown = next((line.split(": ", 1)[1] for line in journal[at + 1:]
                      if re.match(r"^field \d+ %d: " % iid, line)), None)
        held = shown is not None and shown != value and shown.rstrip().upper() == e[1].rstrip().upper()
    # What the field can hold is the tests' own: a text or number it cannot hold is never stored,
    # one it can hold is never refused.
    valid = entry_valid(spec, value, entry_unit(spec, action.run, before), typed, before)
    if valid is False and written:
        v.fail("limit", iid, "%s was typed %r, which its field cannot hold, and the transmitter took it (%s)" % (
            spec.name, value, describe_expected(e)))
    elif valid is True and not written and not held and not refused_value(action.run, spec.writes):
        v.fail("limit", iid, "%s was typed %r, which its field holds, and it was not written (told: %s)" % (
            spec.name, value, " / ".join(t for _, t in told) or "nothing"))
    if written and not held:
        v.fail("limit", iid, "%s was typed %r, the transmitter holds %s" % (spec.name, value, describe_expected(e)))
    elif not written and not held:
        names = [spec.name] + names_of(spec.writes, "write") if spec.writes else [spec.name]
        said = [t for _, t in told if any(n.lower() in t.lower() for n in names)]
        if not said:
            v.fail("limit", iid, "%s was typed %r, the transmitter did not take it and nothing says why (told: %s)" % (
                spec.name, value, " / ".join(t for _, t in told) or "nothing"))
        elif not any(HOLDS_WORDS.search(t) for t in said):
            v.fail("limit", iid, "%s was typed %r and refused without saying what it can hold (%s)" % (
                spec.name, value, " / ".join(said)))


def refused_value(run, command):
    """Whether the transmitter refused the write for the value it carried (a range the device does
    not take, told with its code)."""
    for req, why in run.not_done:
        m = re.search(r"response code (\d+)", why)
        if m and req.split("#")[0] == str(command) and int(m.group(1)) in ex.VALUE_CODES.get(command, ()):
            return True
    return False


def check_limit(v, name, value, unit, devices):
    """A level set to "the sensor's limit" names a limit the transmitter gave."""
    shown = tx.UNIT_OF_TEXT.get(unit)
    for d in devices:
        for line in ("upperSensorLimit", "lowerSensorLimit"):
            limit = tx.convert(tx.f32(tx.raw(d, line)), tx.u8(d, "limitsUnit"), shown) if shown else None
            if limit is not None and abs(float(value) - limit) <= 0.0005 + 1e-5 * abs(limit):
                return
    v.fail("invented", name, "says %s was set to %s %s, the sensor's limit, which is no limit the transmitter "
           "gave (%s)" % (name, value, unit, " / ".join("%s %s" % (d.get("upperSensorLimit"), d.get("lowerSensorLimit"))
                                                         for d in devices)))


def fixed_may_be(run, fault, position):
    """Whether the loop current may be fixed when the text came: a request to fix it came before
    that the transmitter did, or whose outcome nobody knows (no answer, an answer lost, the link
    lost); not when each was refused or met a busy transmitter or never reached it."""
    sure = {req for req, why in run.not_done if "refused" in why or "busy" in why or "did not take" in why}
    sure |= {req for req, kind in failing_requests(fault) if kind in ("busy", "refused")}
    for line in run.journal[:position]:
        m = re.match(r"^request (40#\d+)$", line)
        if m and m.group(1) not in sure:
            return True
    return False


def names_of(command, kind):
    """The names a notice of a failed request of the command may give: the items it reads or
    writes, the parameters of the parameter table it carries, a read's page ("the Values page's
    values")."""
    names = list(COMMAND_NAMES.get(command, []))
    names += [spec.name for spec in tx.ITEMS if spec.cmd == command or spec.writes == command]
    names += tx.parameter_names(command)
    if kind == "read":
        names.append("page's values")
    return names


def shown_commands(ui_name):
    """The reads whose values the user interface shows (the online frame's own included)."""
    commands = {spec.cmd for spec in tx.items_of(ui_name).values()}
    if ui_name.startswith("f1"):
        commands |= {0, 1, 13}
    return commands | SHOWN_READS.get(ui_name, set())


# Reads a user interface needs for what it shows although no item of its own shows their bytes.
SHOWN_READS = {"f1p0": {14, 131, 2}, "f1p4": {1}, "f1p5": {48}, "f2": {13, 14, 3}, "f8": {48},
               "f1 all pages": {0, 1, 2, 3, 7, 12, 13, 14, 15, 16, 20, 48, 131, 135, 137}}


def holds(spec, device, value):
    """Whether the transmitter holds the typed value in that item."""
    e = spec.expected(device)
    if e is None:
        return False
    if e[0] == "text":
        # Packed ASCII holds capitals only; a Latin-1 text holds every character as typed.
        if spec.kind == "latin":
            return e[1].rstrip() == value.rstrip()
        return e[1].strip().lower() == value.strip().lower()
    try:
        # A setting kept in steps (the sensitivity's 0.4 %) holds the step at or below the typed number.
        if spec.scale != 1.0:
            return -1e-4 <= float(value) - e[1] < spec.scale - 1e-4
        return abs(float(value) - e[1]) <= 0.0005 + 1e-5 * abs(e[1])
    except ValueError:
        return False


# The trend's pens: the box that draws it, by the item that shows its value.
PEN_BOXES = {411: 415, 413: 418, 420: 424, 427: 431, 433: 435}


def stale_commands(run, fault):
    """The commands whose last request in the run failed: a value the transmitter computes anew
    (the level, the current) shown from an earlier answer is no longer its value."""
    failed = {req for req, _ in run.not_done}
    failed |= {req for req, kind in failing_requests(fault) if kind != "warned"}
    last = {}
    for req in run.requests:
        last[int(req.split("#")[0])] = req
    return {c for c, req in last.items() if req in failed and not answered_after(run, req, fault)}


def answered_after(run, req, fault):
    """Whether a read of the same command sent before the failed one went through, and its fields
    were filled after the failure (a request the channel refused at once fails before the answer
    to one sent earlier comes)."""
    command, number = req.split("#")[0], int(req.split("#")[1])
    failed = {r for r, _ in run.not_done} | {r for r, kind in failing_requests(fault) if kind != "warned"}
    if not any(r.split("#")[0] == command and int(r.split("#")[1]) < number and r not in failed for r in run.requests):
        return False
    at = next((i for i, line in enumerate(run.journal) if line == "request " + req), None)
    if at is None:
        return False
    # A request the channel refuses fails at once, before the answers of the step's earlier
    # requests come: one of them went through, and its answer fills the fields (labels too, which
    # the journal does not follow).
    step_at = max((i for i, line in enumerate(run.journal[:at]) if line.startswith("step ")), default=0)
    if (req, "refused") in failing_requests(fault) and any(
            line.startswith("request %s#" % command) and line[len("request "):] not in failed
            for line in run.journal[step_at:at]):
        return True
    fields = {spec.item for spec in tx.ITEMS if spec.cmd == int(command)}
    for line in run.journal[at + 1:]:
        m = re.match(r"^field \d+ (\d+): (.*)$", line)
        if m and int(m.group(1)) in fields and m.group(2).strip() not in PLACEHOLDERS | LOADING:
            return True
        if line.startswith("request %s#" % command):
            return False
    return False


def check_items(v, sweep, name, run, items, devices, typed, offline, linkgone, waited, stale):
    sent = {int(r.split("#")[0]) for r in run.requests}
    status_args = getattr(v.action, "status", None) or sweep.state.status
    for (c, iid), it in items.items():
        text = it["text"]
        if text in LOADING:
            v.fail("loading", name, "item %d (%s) shows %r when the run is over" % (iid, name, text))
            continue
        owner = opened_ui(items, c, name)
        if owner is None:
            continue
        spec = tx.items_of(owner).get(iid)
        if owner == "f1p5" and c == 0:
            check_status_lamps(v, iid, it, devices, status_args, run, offline)
        if owner == "f1p9":
            check_echo(v, iid, it, devices, run)
        if owner == "f8" or (iid in tx.SELF_TEST_EDITS + tx.SELF_TEST_LAMPS + [6354] and owner == "f8"):
            check_self_test(v, iid, it, status_args, run, offline)
        if spec is None or it["cls"] not in ("Edit", "ComboBox", "Static"):
            continue
        stripped = text.strip()
        if stripped in PLACEHOLDERS:
            if stripped in ("Not connected", "--", "OFFLINE") and not offline and not linkgone and owner not in ("f3", "f5"):
                v.fail("invented", iid, "item %d (%s) says %r while the transmitter is connected" % (
                    iid, spec.name, stripped))
            continue
        pen = PEN_BOXES.get(iid) if owner == "f2" else None
        if offline:
            if owner not in ("f5",) and not (pen and stripped == ""):
                v.fail("offline", iid, "item %d (%s) shows %r offline: a value the device never gave" % (
                    iid, spec.name, text))
            continue
        if stripped == "":
            # A pen shows a value with its samples: only a drawn pen, once time passed.
            if pen and not (waited and "checked" in items.get((c, pen), {}).get("flags", ())):
                continue
            if spec.cmd in sent:
                v.fail("blank", iid, "item %d (%s) is blank: no value and no word why" % (iid, spec.name))
            continue
        if iid in typed and c == 0 and same_entry(text, typed[iid]):
            continue
        # Packed ASCII takes a-z as A-Z: the entry applied shows them so.
        if iid in typed and c == 0 and spec.kind == "packed" and text.strip() == typed[iid].strip().upper():
            continue
        if spec.kind == "model" and spec.cmd in stale:
            v.fail("stale", iid, "item %d (%s) shows %r after its last read (command %d) failed" % (
                iid, spec.name, text, spec.cmd))
            continue
        label = items.get((c, spec.label), {}).get("text") if spec.label else None
        if not shows(text, [spec.expected(d) for d in devices], label, spec):
            exp = [spec.expected(d) for d in devices]
            v.fail("invented", iid, "item %d (%s) shows %r%s; the transmitter holds %s" % (
                iid, spec.name, text, " " + repr(label) if label else "",
                " or ".join(describe_expected(e) for e in dict.fromkeys(exp)) or "nothing"))
        elif spec.label and label is not None and label.strip() == "" and any(ch.isdigit() for ch in text):
            v.fail("unit", spec.label, "item %d (%s) shows %r without its unit" % (iid, spec.name, text))


def describe_expected(e):
    if e is None:
        return "nothing"
    if e[0] == "text":
        return repr(e[1])
    unit = tx.UNIT_TEXTS.get(e[2], ("",))[0] if e[2] is not None else ""
    return "%.4g %s" % (e[1], unit)


def check_status_lamps(v, iid, it, devices, status_args, run, offline):
    bits = {lamp: bit for bit, lamp in tx.STATUS_LAMPS.items()}
    told_not_read = any(t.get("text") == "Not read" for (c, i), t in run.items.items() if i == 6375)
    if iid in bits:
        image = it["image"]
        bit = bits[iid]
        if image == 0:
            if not offline and not told_not_read and not run.not_done:
                v.fail("lamp", iid, "status lamp %d shows nothing, and nothing says why" % iid)
            return
        if offline:
            v.fail("offline", iid, "status lamp %d shows a state offline" % iid)
            return
        if bit in (4, 5):
            if bit == 4 and not status_args and image == tx.LAMP_SET:
                v.fail("lamp", iid, "the more-status lamp is lit, the transmitter has no more status")
            return
        states = {bool(tx.status_bits(d) & (1 << bit)) for d in devices}
        if (image == tx.LAMP_SET) not in states:
            v.fail("lamp", iid, "status lamp of bit 0x%02X is %s, the transmitter's bit is %s" % (
                1 << bit, "set" if image == tx.LAMP_SET else "clear", " or ".join(str(s) for s in states)))
    if iid in tx.FAULT_LAMPS and it["image"]:
        # A lamp shows the last answer of the additional status read, none after it failed.
        if STATUS_READ in stale_commands(run, v.fault) or not any(r.startswith("48#") for r in run.requests):
            v.fail("lamp", iid, "fault lamp %d is %s, and the additional status read %s" % (
                iid, "set" if it["image"] == tx.LAMP_SET else "clear",
                "failed last" if any(r.startswith("48#") for r in run.requests) else "was never made"))
            return
        fault = tx.faults_of(status_args)[tx.FAULT_LAMPS.index(iid)]
        if (it["image"] == tx.LAMP_SET) != fault:
            v.fail("lamp", iid, "fault lamp %d is %s, the transmitter says %s" % (
                iid, "set" if it["image"] == tx.LAMP_SET else "clear", fault))


def check_echo(v, iid, it, devices, run):
    # The distances are in the unit the table's axis names: millimetres or feet.
    axis = run.items.get((0, 705), {}).get("text", "")
    feet = True if "(ft)" in axis else False if "(mm)" in axis else None
    for d in devices[1:]:
        expected = tx.echo_texts(d, feet).get(iid)
        if expected is None or it["text"].strip() in PLACEHOLDERS or it["text"].strip() == "":
            return
        try:
            shown = float(it["text"])
        except ValueError:
            v.fail("invented", iid, "echo item %d shows %r" % (iid, it["text"]))
            return
        if abs(shown - expected[1]) > 0.5 * 10 ** -expected[3] + 1e-6:
            v.fail("invented", iid, "echo item %d shows %r, the transmitter holds %s" % (iid, it["text"], expected[1]))


STATUS_READ = 48


def check_self_test(v, iid, it, status_args, run, offline):
    faults = tx.faults_of(status_args)
    not_read = STATUS_READ in stale_commands(run, v.fault) or any(r.startswith("48#") for r, _ in run.not_done)
    # A self test told as failed has no result to show, whatever a later read says.
    told_failed = [t for _, t in notices(run) if re.search(r"self test", t, re.I) and
                   re.search(r"failed|could not|not run|did not", t)]
    if iid in tx.SELF_TEST_EDITS:
        text = it["text"].strip()
        if text in PLACEHOLDERS:
            return
        want = "FAIL" if faults[tx.SELF_TEST_EDITS.index(iid)] else "PASS"
        if offline or not_read or text != want:
            v.fail("invented", iid, "self-test line %d shows %r, the transmitter says %s" % (
                iid, text, "nothing (not read)" if not_read or offline else want))
    elif iid in tx.SELF_TEST_LAMPS and it["image"] in (tx.SELF_TEST_PASS, tx.SELF_TEST_FAIL):
        want = tx.SELF_TEST_FAIL if faults[tx.SELF_TEST_LAMPS.index(iid)] else tx.SELF_TEST_PASS
        if offline or not_read or it["image"] != want:
            v.fail("lamp", iid, "self-test lamp %d shows %s, the transmitter says %s" % (
                iid, "FAIL" if it["image"] == tx.SELF_TEST_FAIL else "PASS" if it["image"] == tx.SELF_TEST_PASS else
                it["image"], "nothing (not read)" if not_read or offline else
                "FAIL" if want == tx.SELF_TEST_FAIL else "PASS"))
    elif iid == 6354:
        if "PASSED" in it["text"] and (any(faults) or not_read or offline or told_failed):
            v.fail("invented", iid, "the self test shows %r, the transmitter %s" % (
                it["text"], "was not read" if not_read or offline else "reports faults" if any(faults) else
                "ran no test the user was told of (told: %s)" % " / ".join(told_failed)))


def check_marks(v, run, typed, after, explorer):
    for (c, iid), it in run.items.items():
        if c != 0:
            continue
        if it["mark"] in (MARK_CHANGED, MARK_INVALID) and iid not in typed:
            v.fail("mark", iid, "item %d has a %s mark nobody set" % (
                iid, "changed" if it["mark"] == MARK_CHANGED else "invalid"))
    # The offline parameter control shows no changed marks: its entries keep what was typed.
    if v.sweep.state.offline or v.ui.name == "f5":
        return
    for iid, value in typed.items():
        it = run.items.get((0, iid))
        spec = explorer.items.get(iid)
        if it is None or spec is None or it["mark"] is None:
            continue
        if not holds(spec, after, value) and same_entry(it["text"], value) and \
                it["mark"] not in (MARK_CHANGED, MARK_INVALID) and "has no item" not in run.last:
            v.fail("mark", iid, "item %d keeps %r, which the transmitter did not take, without its changed mark" % (
                iid, it["text"]))


def check_success_after_failure(v, run, failed, typed, explorer):
    for pos, line in enumerate(run.journal):
        if not (line.startswith("message line ") or " buttonsOk " in line):
            continue
        for pattern, commands in SUCCESS:
            if not pattern.search(line):
                continue
            # A Send that wrote part names what it wrote beside what it did not: each entry's
            # sentence is a claim of its own, held against the transmitter by check_sentences.
            if commands is WRITES and re.search(r"\b(?:was|were) not (?:written|sent)\b", line):
                continue
            last = None
            for earlier in run.journal[:pos]:
                m = re.match(r"^request (\d+)#(\d+)$", earlier)
                if m and int(m.group(1)) in commands:
                    last = "%s#%s" % (m.group(1), m.group(2))
            if last in failed:
                v.fail("success", last, "tells %r after %s failed" % (line, last))


def check_told_once(v, run):
    """One failure, one message: the same message twice within one step of the user."""
    seen = {}
    step = 0
    for line in run.journal:
        if line.startswith("step "):
            step += 1
        elif re.match(r"^message (box )?(\S+ )?buttonsOk ", line):
            seen[(step, line)] = seen.get((step, line), 0) + 1
    for (_, line), n in seen.items():
        if n > 1:
            v.fail("told once", line, "told %d times: %s" % (n, line))


def check_unasked(v, ui, action, run, before, after, typed, explorer):
    changed = v.ctx["changed"]
    if not changed:
        return
    allowed = set()
    for iid in typed:
        if not agreed_entry(action, iid):
            continue  # an entry whose write the user declined changes nothing
        spec = explorer.items.get(iid)
        if spec is not None:
            allowed |= set(tx.lines_written_by(spec))
        allowed |= set(TYPED_LINES.get(iid, ()))
        if ui.name == "f5" and iid in tx.OFFLINE_ITEMS:
            allowed |= set(tx.OFFLINE_ITEMS[iid])
    if agreed(action):
        for b in clicks_of(action):
            allowed |= set(CLICK_LINES.get(b, ()))
    # The counters move with the writes the transmitter counts; each write is judged on its own.
    wrote = any(int(r.split("#")[0]) in COUNTED for r in run.requests)
    # Command 38 resets the configuration changed flag of the master that sends it (the primary):
    # its byte goes to 00, the other master's stays to be told.
    reset = any(r.split("#")[0] == "38" for r in run.requests)
    for line in sorted(changed):
        if line == "configChanged" and reset and not wrote:
            now, was = after.get(line) or "", before.get(line) or ""
            if now[:2] != "00" or now[2:4] != (was[2:4] or was[:2]):
                v.fail("unasked", line, "command 38 left the transmitter's configChanged %s -> %s, not the primary "
                       "master's flag cleared and the secondary's kept" % (was, now))
            continue
        if line in tx.COUNTERS:
            if not wrote:
                v.fail("unasked", line, "the transmitter's %s changed (%s -> %s) with nothing written that the "
                       "user asked for" % (line, before.get(line), after.get(line)))
            continue
        if line not in allowed:
            v.fail("unasked", line, "the transmitter's %s changed (%s -> %s), which nobody asked for" % (
                line, before.get(line), after.get(line)))
    # A write that carries other items with the typed one leaves their bytes as they were.
    spans = {}
    for iid in typed:
        spec = explorer.items.get(iid)
        if spec is not None and spec.writes and spec.line in SHARED_LINES:
            size = 4 if spec.kind == "float" else spec.size
            spans.setdefault(spec.line, set()).update(range(spec.at, spec.at + size))
    converted = any(explorer.items.get(i) is not None and explorer.items[i].writes == 44 for i in typed)
    # A Digitize the user agreed to writes the display record whole.
    digitized = agreed(action) and any(set(CLICK_LINES.get(b, ())) & {"displaySettings"} for b in clicks_of(action))
    for line, kept in spans.items():
        if line not in changed or (converted and line == "echoSettings") or (digitized and line == "displaySettings"):
            continue
        a, b = tx.raw(before, line), tx.raw(after, line)
        moved = [i for i in range(max(len(a), len(b))) if i not in kept and a[i:i + 1] != b[i:i + 1]]
        if moved:
            v.fail("unasked", line, "the transmitter's %s changed in bytes %s, which the user did not type (%s -> %s)" % (
                line, ",".join(str(i) for i in moved), before.get(line), after.get(line)))
    # What it holds now is what was typed.
    for iid, value in typed.items():
        spec = explorer.items.get(iid)
        if spec is None or not (set(tx.lines_written_by(spec)) & changed):
            continue
        if not agreed_entry(action, iid):
            continue  # declined: the question after its typing got No
        if spec.line in changed and not holds(spec, after, value) and not pending(run, iid, value):
            # The last entry was told as not written; the transmitter holds what an earlier Send took.
            size = 4 if spec.kind == "float" else spec.size
            own = lambda d: tx.raw(d, spec.line)[spec.at:spec.at + size]
            if refused_after_typing(run, iid, spec) and (own(v.ctx["before"]) == own(after) or
                                                         any(holds(spec, after, x) for x in values_sent(run, iid))):
                continue
            e = spec.expected(after)
            unit_changed = spec.unit and spec.unit in changed
            if not unit_changed:
                v.fail("written", iid, "item %d was typed %r, the transmitter holds %s" % (
                    iid, value, describe_expected(e)))
    # A unit change converts the distances the transmitter keeps: in metres they stay.
    if "pvUnit" in changed and not any(explorer.items.get(i) is not None and explorer.items[i].writes == 35
                                       for i in typed):
        typed_spans = {(explorer.items[i].line, explorer.items[i].at) for i in typed
                       if explorer.items.get(i) is not None}
        for line, unit_line, at in (("upperRange", "rangeUnit", 0), ("lowerRange", "rangeUnit", 0),
                                    ("echoSettings", "pvUnit", 2), ("echoSettings", "pvUnit", 6)):
            metres = lambda d: None if tx.f32(tx.raw(d, line), at) is None else \
                tx.convert(tx.f32(tx.raw(d, line), at), tx.u8(d, unit_line), 45)
            a, b = metres(before), metres(after)
            if a is None or b is None or (line, at) in typed_spans:
                continue  # a distance typed is judged by what was typed, in the unit seen
            # The whole data set's download writes the data set's distances, converted.
            c = metres(v.ctx["dataset"]) if ui.name == "f5" and any(
                answer == "Yes" for _, answer in action.run.questions()) else None
            if abs(a - b) > 1e-4 * max(1.0, abs(a)) and (c is None or abs(c - b) > 1e-4 * max(1.0, abs(c))):
                v.fail("unasked", line, "the unit changed and the transmitter's %s moved from %.6g m to %.6g m, "
                       "not converted" % (line, a, b))
    # A current fixed by a loop test or trim is given back when it closes.
    if tx.f32(tx.raw(after, "fixedCurrent")):
        v.fail("unasked", "fixedCurrent", "the loop current stays fixed at %.3f mA after the run" % (
            tx.f32(tx.raw(after, "fixedCurrent"))))


def same_distance(spec, before, after):
    """Whether a distance is the same in the transmitter before and after, in whatever unit each holds."""
    a, b = spec.expected(before), spec.expected(after)
    if spec.kind != "float" or a is None or b is None or a[2] not in tx.METRES or b[2] not in tx.METRES:
        return False
    x, y = tx.convert(a[1], a[2], 45), tx.convert(b[1], b[2], 45)
    return abs(x - y) <= 1e-5 * max(1.0, abs(x))


def held_since_unit(v, spec, run, after, value, pos):
    """Whether a distance written before a later unit change is held: the number typed in the
    unit it was written in is the same distance in the transmitter's unit now."""
    e = spec.expected(after)
    if spec.kind != "float" or not spec.unit or e is None or e[2] not in tx.METRES or not any(
            line.startswith("request 44#") for line in run.journal[pos:]):
        return False
    then = entry_unit_at(v, spec, run, after, pos)
    try:
        number = float(value)
    except ValueError:
        return False
    if then not in tx.METRES:
        return False
    return holds(spec, after, "%.9g" % tx.convert(number, then, e[2]))


def values_sent(run, iid):
    """The texts an entry held at each Send that sent requests."""
    out, value, at_send = [], None, False
    for line in run.journal:
        m = re.match(r"^step type %d=(.*)$" % iid, line)
        if m:
            value = m.group(1)
        if line.startswith("step "):
            at_send = bool(re.fullmatch(r"step click (221|1|102)", line))
        elif at_send and line.startswith("request ") and value is not None:
            out.append(value)
            at_send = False
    return out


def refused_after_typing(run, iid, spec):
    """Whether a notice after the entry's last typing names it as not written or not sent; or a
    Send after it that sent nothing left the line saying so (the same words again are no new line
    in the journal)."""
    at = max((i for i, line in enumerate(run.journal) if line.startswith("step type %d=" % iid)), default=None)
    words = KIND_WORDS["write"] + ("not valid", "not sent")
    says = lambda t: any(w in t for w in words) and named(t, item_names(spec))
    if at is None:
        return False
    if any(pos > at and says(t) for pos, t in notices(run)):
        return True
    line, send = "", None
    for i, entry in enumerate(run.journal):
        if entry.startswith("message line "):
            line = entry.split(": ", 1)[1] if ": " in entry else ""
        elif entry.startswith("step page "):
            line = ""
        elif i > at and re.fullmatch(r"step click (221|1|102)", entry):
            send = i
            break
    if send is None or not says(line):
        return False
    following = next((i for i in range(send + 1, len(run.journal)) if run.journal[i].startswith("step ")),
                     len(run.journal))
    return not any(entry.startswith("request ") for entry in run.journal[send + 1:following])


def check_units_seen(v, action, run, before, after, typed, explorer, told):
    """A distance typed in the unit its page showed, the unit then changed on another page before
    it was sent: the transmitter holds the typed distance in the unit the user saw, or the value it
    held with a word naming the entry; never the number in a unit the user did not see."""
    told_typed, typed = typed, typed_of(action)
    for iid, seen in getattr(action, "units_seen", {}).items():
        spec = explorer.items.get(iid)
        e, b = spec.expected(after), spec.expected(before)
        kept = iid in told_typed and any("%s was set to %s " % (spec.name, told_typed[iid]) in t for _, t in told)
        if kept and holds(spec, after, told_typed[iid]):
            continue  # kept within a limit at the Send, and told
        try:
            value = float(typed[iid])
        except (KeyError, ValueError):
            continue
        if e is None or b is None:
            continue
        now, was = tx.convert(e[1], e[2], seen), tx.convert(b[1], b[2], seen)
        tolerance = 0.0015 + 1e-5 * abs(value)
        if abs(now - value) <= tolerance:
            continue
        if abs(now - was) > tolerance:
            v.fail("unit seen", iid, "%s was typed %s in %s, the transmitter holds %s (%.4g %s)" % (
                spec.name, typed[iid], tx.UNIT_TEXTS[seen][-1], describe_expected(e), now, tx.UNIT_TEXTS[seen][-1]))
        elif not any(spec.name.lower() in t.lower() for _, t in told):
            v.fail("unit seen", iid, "%s was typed %s in %s and not written after the unit changed, and nothing "
                   "says so (told: %s)" % (spec.name, typed[iid], tx.UNIT_TEXTS[seen][-1],
                                          " / ".join(t for _, t in told) or "nothing"))


def check_data_set(v, sweep, ui, action, run, before, after, typed):
    device_changed = run.device != run.device_before
    project_changed = run.project != run.project_before
    applies = ui.name == "f5"
    if ("the device written" in run.applied) != device_changed:
        v.fail("applied", "device", "says %r while the device file %s" % (
            run.applied, "changed" if device_changed else "stayed"))
    if ("the data set saved" in run.applied) != project_changed:
        v.fail("applied", "project", "says %r while the project %s" % (
            run.applied, "changed" if project_changed else "stayed"))
    if not device_changed and project_changed and not applies:
        v.fail("data set", "project", "the project was saved while the transmitter took nothing")
    if run.compare is None:
        v.fail("data set", "compare", "compare after the run failed: %s" % run.compare_text)
        return
    base = sweep.baseline or set()
    new = run.compare - base
    if new and not applies:
        v.fail("data set", ",".join(str(p) for p in sorted(new)), "compare names %s, which it did not name before "
               "(%s)" % (", ".join(str(p) for p in sorted(new)), run.compare_text))
    # A parameter the transmitter took during the run is what the data set holds now: the lines the
    # user's entries and procedures write themselves (a unit change converts others, which stay as
    # they were in the data set, in the new unit).
    own = set()
    for iid in typed:
        spec = tx.items_of(ui.name).get(iid)
        if spec is not None and spec.writes:
            own.add(spec.line)
        elif applies and iid in tx.OFFLINE_ITEMS:
            own.add(tx.OFFLINE_ITEMS[iid][0])
    if agreed(action) and 546 in clicks_of(action):
        own.add("displaySettings")
    # A unit change the transmitter took converts the distances it keeps: they move without a write.
    if "pvUnit" in own or any(tx.OFFLINE_WRITES.get(i) == 44 for i in typed):
        own -= set(tx.UNIT_CHANGE_LINES) - {"pvUnit"}
    if applies and any("did not go through" in t for _, t in notices(run)):
        own = set()  # a download that failed part-way leaves part of it, and says so
    for param, spans in PARAM_BYTES.items():
        if not any(line in own for line, _, _ in spans):
            continue
        moved = any(tx.raw(before, line)[at:at + n] != tx.raw(after, line)[at:at + n] for line, at, n in spans)
        if moved and param in run.compare and param not in new:
            v.fail("data set", str(param), "the transmitter took parameter %d during the run, the data set did "
                   "not follow (%s)" % (param, run.compare_text))
    # The whole data set downloaded as the user agreed: the transmitter holds it, unless the
    # control told that the download did not go through.
    # Entries typed after the last download agreed to went to the data set only.
    last_yes = max((i for i, line in enumerate(run.journal) if line.startswith("message messageQuestion") and
                    line.endswith("-> buttonYes")), default=len(run.journal))
    later = {getattr(tx.items_of("f5").get(int(m.group(1))), "dtm", None)
             for m in (re.match(r"^step type (\d+)=", line) for line in run.journal[last_yes:]) if m}
    if applies and "Yes" in action.answers and run.compare - later and \
            not any("did not go through" in t for _, t in notices(run)):
        v.fail("data set", "download", "the download the user agreed to went through, yet compare finds %s (%s)" % (
            sorted(run.compare), run.compare_text))
    if not typed and run.compare != base and not (applies and "Yes" in action.answers):
        v.fail("data set", "compare", "nothing was typed, yet compare finds %s where it found %s" % (
            sorted(run.compare) or "nothing", sorted(base) or "nothing"))


def judge_offline(v, sweep, ui, action, run, typed):
    if run.requests:
        v.fail("offline", "requests", "requests were sent: %s" % " ".join(run.requests))
    if "the device written" in run.applied:
        v.fail("offline", "device", "says the device was written")
    if run.project != run.project_before and ui.name != "f5":
        v.fail("data set", "project", "the project changed offline")
    # An entry only the device can take takes no typing.
    page_typed = [s[1] for s in action.steps if s[0] == "type" and (0, s[1]) in action.run.items or
                  s[0] == "type" and not any(k[1] == s[1] and k[0] > 0 for k in action.run.items)]
    if ui.function == 1 and page_typed and "has no item" not in run.last and \
            not any(s[0] == "click" and s[1] in (600, 601, 604) for s in action.steps):
        for iid in page_typed:
            v.fail("offline", iid, "item %d takes typing offline" % iid)


def judge_wire(sweep, ui, a, w):
    v = Verdict(sweep, ui, type(a)(a.steps, a.answers, w, a.what + " at the wire's speed"), None)
    h = a.run
    if w.device != h.device:
        v.fail("wire", "device", "the transmitter holds other values than at no delay")
    if w.project != h.project:
        v.fail("wire", "project", "the project differs from the run at no delay")
    if w.code != h.code:
        v.fail("wire", "exit", "exit %d, at no delay %d" % (w.code, h.code))
    for key, it in h.items.items():
        other = w.items.get(key)
        if it["cls"] in ("Edit", "ComboBox") and (other is None or other["text"] != it["text"]):
            v.fail("wire", key[1], "item %d shows %r, at no delay %r" % (key[1], other and other["text"], it["text"]))


# ---- The exceptions proved narrow ----------------------------------------------------------------
# Each exception is tried on a run it excuses and on runs with the fault of its kind outside it,
# made up here from the default transmitter's memory: the first must pass, the others be caught.

DEFAULT_MEMORY = {
    "alarmSelect": "00", "coldStart": "00", "configChangeCounter": "0000", "configChanged": "00",
    "damping": "3F000000", "displaySettings": "03010101000000000000", "echoSettings": "32003E99999A00000000",
    "finalAssembly": "00002A", "fixedCurrent": "00000000", "limitsUnit": "2D", "loopCurrentMode": "01",
    "longTag": "4C542D3130312054414E4B2031205241444152204C4556454C00000000000000", "lowerRange": "40F00000",
    "lowerSensorLimit": "41000000", "memory": "003503200036000002E90D5C", "minimumSpan": "3DCCCCCD",
    "message": "58B4A04811014A030558532051204E4CD2545054A0820820", "pollingAddress": "00", "pvUnit": "2D",
    "rangeUnit": "2D", "tagDescriptorDate": "314B71C3182050138B83180C15614C820820070C7E", "transferFunction": "00",
    "upperRange": "3F000000", "upperSensorLimit": "3E99999A", "writeProtect": "00",
}


class _Proof:
    """A made-up run of a user interface, judged; `found` holds what the judge reported."""

    class State:
        def __init__(self, offline):
            self.name, self.offline, self.warned, self.status, self.rotate = "proof", offline, False, "", True

    def __init__(self, run_class, ui_name, steps, answers=(), requests=(), not_done=(), changes=None,
                 dataset=None, fault=None, offline=False):
        memory = lambda lines: "".join("%s %s\n" % kv for kv in sorted(lines.items()))
        self.state = _Proof.State(offline)
        self.baseline, self.found = set(), set()
        self.golden_device = memory(DEFAULT_MEMORY)
        self.project_device = memory(dict(DEFAULT_MEMORY, **(dataset or {})))
        run = run_class()
        run.requests, run.not_done = list(requests), list(not_done)
        run.journal = ["step %s" % (("click %d" % s[1]) if s[0] == "click" else "type %d=%s" % s[1:]) for s in steps]
        for answer in answers:
            run.journal.append("message messageQuestion buttonsYesNoCancel Download? -> button" + answer)
        run.journal += ["request " + r for r in requests]
        run.device_before = "" if offline else self.golden_device
        run.device = "" if offline else memory(dict(DEFAULT_MEMORY, **(changes or {})))
        run.compare, run.code = set(), 1 if not_done else 0
        run.err = "vkr-frame: not all was done" if not_done else ""
        ui = type("UI", (), {"name": ui_name, "function": int(ui_name[1]), "page": None})()
        words = [("click %d" % s[1]) if s[0] == "click" else "type %d=%s" % s[1:] for s in steps]
        action = type("Action", (), {"steps": list(steps), "answers": list(answers), "run": run, "what": "proof",
                                     "describe": lambda a: "; ".join(words + (["answers " + ",".join(answers)]
                                                                                if answers else []))})()
        explorer = type("Explorer", (), {"items": tx.items_of(ui_name), "look": run})()
        judge(self, ui, action, fault, explorer)

    def fail(self, key, example):
        self.found.add((key[2], key[3]))


def prove_exceptions(run_class):
    """Each exception excuses its own case and lets the fault of its kind be caught. Returns the
    problems found, one a line."""
    click, fixed = [("click", 377)], {"fixedCurrent": "40800000"}
    busy = lambda req: [(req, "the device was busy")]
    yes_damping = [("type", 616, "0.600"), ("click", 102)]
    older = {"message": "00" * 24}
    proofs = [
        # (exception's subject, its case, the fault it must not swallow: (invariant, subject), cases)
        ("fixedCurrent", ("unasked", "fixedCurrent"),
         dict(ui_name="f4", steps=click, requests=["40#1", "40#2"], not_done=busy("40#2"), changes=fixed),
         [dict(ui_name="f4", steps=click, requests=["40#1", "40#2"], changes=fixed),
          dict(ui_name="f4", steps=click, requests=["40#1", "40#2"], not_done=busy("40#1"), changes=fixed)]),
        ("write 134", ("unasked", "write 138"),
         dict(ui_name="f1p4", steps=[("click", 221)], requests=["134#1"], changes={"configChangeCounter": "0001"}),
         [dict(ui_name="f1p4", steps=[("click", 221)], requests=["134#1", "138#1"],
               changes={"configChangeCounter": "0002"})]),
        ("write 6", ("unasked", "write 6"),
         dict(ui_name="f1p6", steps=[("click", 221)], requests=["6#1", "6#2"], changes={"configChangeCounter": "0002"}),
         [dict(ui_name="f1p3", steps=[("click", 221)], requests=["6#1"], changes={"configChangeCounter": "0001"})]),
        ("6#2", ("twice", "6#3"),
         dict(ui_name="f1p6", steps=[("click", 221)], requests=["6#1", "6#2"], changes={"configChangeCounter": "0002"}),
         [dict(ui_name="f1p6", steps=[("click", 221)], requests=["6#1", "6#2", "6#3"],
               changes={"configChangeCounter": "0003"})]),
        ("6#2", ("told", "6#1"),
         dict(ui_name="f1p6", steps=[("click", 221)], requests=["6#1", "6#2"], not_done=busy("6#2")),
         [dict(ui_name="f1p6", steps=[("click", 221)], requests=["6#1", "6#2"], not_done=busy("6#1"))]),
        ("706", ("offline", "707"),
         dict(ui_name="f1p9", steps=[("type", 706, "2")], offline=True),
         [dict(ui_name="f1p9", steps=[("type", 707, "2")], offline=True)]),
        ("message", ("unasked", "message"),
         dict(ui_name="f5", steps=yes_damping, answers=["Yes"], requests=["17#1", "34#1"], dataset=older,
              changes=dict(older, damping="3F19999A", configChangeCounter="0002")),
         [dict(ui_name="f5", steps=yes_damping, answers=["Yes"], requests=["17#1", "34#1"], dataset=older,
               changes=dict(damping="3F19999A", message="11" * 24, configChangeCounter="0002")),
          (("written", "631"), dict(ui_name="f5", steps=[("type", 631, "2027"), ("click", 1)], answers=["Yes"],
                                    requests=["18#1"], changes=dict(configChangeCounter="0001",
                                    tagDescriptorDate=DEFAULT_MEMORY["tagDescriptorDate"][:-2] + "80")))]),
        ("upperSensorLimit", ("unasked", "upperSensorLimit"),
         dict(ui_name="f5", steps=yes_damping, answers=["Yes"], requests=["44#1", "34#1"],
              changes=dict(damping="3F19999A", pvUnit="31", limitsUnit="31", upperSensorLimit="43960000", lowerSensorLimit="45FA0000",
                           minimumSpan="42C80000", configChangeCounter="0002")),
         [dict(ui_name="f5", steps=yes_damping, answers=["Yes"], requests=["44#1", "34#1"],
               changes=dict(damping="3F19999A", pvUnit="31", limitsUnit="31", upperSensorLimit="3F000000",
                            configChangeCounter="0002"))]),
        ("write 17", ("unasked", "damping"),
         dict(ui_name="f5", steps=yes_damping, answers=["Yes"], requests=["17#1", "34#1"], dataset=older,
              changes=dict(older, damping="3F19999A", configChangeCounter="0002")),
         [dict(ui_name="f5", steps=yes_damping, answers=["No"], requests=["34#1"],
               changes=dict(damping="3F19999A", configChangeCounter="0001"))]),
    ]
    problems = []
    for subject, kind, excused, planted in proofs:
        planted = [p if isinstance(p, tuple) else (kind, p) for p in planted]
        exception = next((e for e in EXCEPTIONS if re.search(e[3], subject)), None)
        if exception is None:
            problems.append("no exception covers %s" % subject)
            continue
        found = _Proof(run_class, **excused).found
        if any(re.search(exception[3], s) and inv == exception[2] for inv, s in found):
            problems.append("the exception for %s does not excuse its own case: %s" % (subject, sorted(found)))
        for kind, case in planted:
            found = _Proof(run_class, **case).found
            if kind not in found:
                problems.append("the exception for %s swallows the fault %s %s (found %s)" % (
                    subject, kind[0], kind[1], sorted(found)))
    proved = {p[0] for p in proofs}
    for e in EXCEPTIONS:
        if not any(re.search(e[3], subject) and e[2] in (k[0] for s, k, _, _ in proofs if s == subject)
                   for subject in proved):
            problems.append("exception %s %s %s is proved by nothing" % e[:3])
    return problems


# ---- Every sentence a claim ----------------------------------------------------------------------
# Each sentence told is of a form of sentences.py, and what it says is held against the transmitter
# and against the expectations of expect.py (never the product's tables).

_INVENTORY = __import__("os").environ.get("VKR_SWEEP_SENTENCES")


def sentences_told(run):
    """(journal position, sentence) of every sentence the user was told; a download's failure
    gives the sentence it carries too."""
    out = []
    for pos, text in notices(run):
        if text.strip() in PLACEHOLDERS:
            continue
        for s in st.split(st.without_title(text.strip())):
            out.append((pos, s))
    return out


def told_position(run, pos, text):
    """Where a notice was told: a line still shown as the run ended was told when it was set."""
    if pos < len(run.journal):
        return pos
    told = [at for at, t in notices(run) if text in t and at < len(run.journal)]
    if told:
        return max(told)
    return max((i for i, line in enumerate(run.journal) if text in line), default=pos)


def typed_before(run, pos, typed):
    """The entries as they stood at a journal position: a sentence told then speaks of what was
    typed up to it, not of what the user typed after it (as the run ended: typed)."""
    last, at_pos = {}, {}
    for i, line in enumerate(run.journal):
        m = re.match(r"^step type (\d+)=(.*)$", line)
        if m:
            last[int(m.group(1))] = i
            if i < pos:
                at_pos[int(m.group(1))] = (i, m.group(2))
    # An entry a Refresh read anew over is no longer typed (typed leaves it out).
    return {iid: typed.get(iid, text) if last[iid] == i else text for iid, (i, text) in at_pos.items()
            if iid in typed}


def labels_shown(run):
    """The labels the user sees beside the fields, as names a sentence may give them."""
    out = set()
    for items in [run.items] + list(run.pages.values()):
        for it in items.values():
            if it["cls"] == "Static" and it["text"].strip():
                out.add(it["text"].strip().rstrip(":").strip().replace("&&", "&").replace("&", "").lower())
    return out


def entry_unit(spec, run, device):
    """The unit an entry is shown in: its label's, else the transmitter's."""
    label = run.items.get((0, spec.label), {}).get("text", "").strip() if spec.label else ""
    return tx.UNIT_OF_TEXT.get(label) or spec.unit_code(device)


def entry_unit_at(v, spec, run, device, pos):
    """The unit an entry was shown in when a sentence was told: the offline parameter control's
    unit chosen up to then; a page's, the transmitter's unit as the page last read it."""
    unit = entry_unit(spec, run, device)
    if not spec.unit or unit not in tx.METRES:
        return unit
    if v.ui.name == "f5":
        # No unit chosen since: the entry's label says it, when the control was still there to show it.
        label = run.items.get((0, spec.label), {}).get("text", "").strip() if spec.label else ""
        if tx.UNIT_OF_TEXT.get(label) is not None and not any(line.startswith("step type 613=")
                                                              for line in run.journal[pos:]):
            return unit
        # An entry that holds no number keeps the unit it was typed in (a unit chosen after converts
        # only the numbers).
        typed_at = max((i for i, line in enumerate(run.journal[:pos]) if line.startswith("step type %d=" % spec.item)),
                       default=None)
        if typed_at is not None:
            text = run.journal[typed_at].split("=", 1)[1]
            try:
                number = abs(float(text)) <= 3.4028234663852886e38
            except ValueError:
                number = False
            if not number:
                pos = typed_at
        chosen = [tx.UNIT_OF_TEXT.get(m.group(1)) for m in (re.match(r"^step type 613=(.*)$", line)
                                                            for line in run.journal[:pos]) if m]
        chosen = [c for c in chosen if c is not None]
        if chosen:
            return chosen[-1]
        if any(line.startswith("step type 613=") for line in run.journal[pos:]):
            return spec.unit_code(v.ctx.get("dataset") or device)
        return unit
    if not any(line.startswith("request 44#") for line in run.journal):
        return unit
    wrote = any(line.startswith("request 44#") and line[len("request "):] not in v.failed for line in run.journal[:pos])
    return spec.unit_code(v.ctx["after"] if wrote else v.ctx["before"]) or unit


def entry_field(spec):
    """The field of expect.py an entry stands for, or None."""
    key = (spec.line, spec.at)
    return key if key in ex.TEXT_FIELDS or key in ex.NUMBER_FIELDS else None


def entry_valid(spec, text, unit, typed, device):
    """Whether the field can hold the text typed (True, False), or None when the tests do not say."""
    field = entry_field(spec)
    if field is None:
        return None
    if field in ex.TEXT_FIELDS:
        return ex.text_ok(text, field)
    try:
        value = float(text)
    except ValueError:
        return False
    if value != value or value in (float("inf"), float("-inf")):
        return False
    lo, hi = ex.limits_in(field, unit)
    if isinstance(lo, int) and isinstance(hi, int) and not re.fullmatch(r"\s*[+-]?\d+\s*", text):
        return False
    # Limits converted into another unit carry a float's rounding; zero carries none: any number
    # below it is below it.
    slack = 1e-9 * max(1.0, abs(hi))
    if not (lo if lo == 0 else lo - slack) <= value <= hi + slack:
        return False
    if field[0] == "tagDescriptorDate" and field[1] == 18:
        month, year = _typed_or_held(typed, device, 19, 360), _typed_or_held(typed, device, 20, 364)
        if month and year and 1 <= month <= 12:
            return value <= ex.days_in(int(month), int(year))
    return True


def _typed_or_held(typed, device, at, iid):
    for i, text in typed.items():
        spec = tx.items_of("f1p3").get(i) or tx.items_of("f5").get(i)
        if spec is not None and spec.line == "tagDescriptorDate" and spec.at == at:
            # A month or year that is no whole number names no month: the day takes 1 to 31.
            return float(text) if re.fullmatch(r"\s*\+?\d+\s*", text) else None
    b = tx.u8(device, "tagDescriptorDate", at)
    return None if b is None else b + (1900 if at == 20 else 0)


def specs_named(names, explorer):
    """The entries of the user interface a list of names gives, by their own names."""
    wanted = {n.lower() for n in st.name_list(names)}
    own = lambda spec: [spec.name] + ([tx.parameter_name(spec.dtm) or ""] + GROUP_NAMES.get(spec.dtm, [])
                                      if getattr(spec, "dtm", None) else [])
    return [spec for spec in explorer.items.values() if any(n.lower() in wanted for n in own(spec) if n)]


def limits_true(v, spec, limits, unit, typed, device, sentence):
    """The limits a refusal tells are the field's own, in the unit the entry is shown in."""
    field = entry_field(spec)
    if field is None:
        return
    if field in ex.TEXT_FIELDS:
        m = re.search(r"(\d+) characters", limits)
        size = ex.TEXT_FIELDS[field][0]
        if m and int(m.group(1)) != size:
            v.fail("limits told", spec.item, "%r: %s holds %d characters" % (sentence, spec.name, size))
        return
    m = re.search(r"(-?\d+(?:\.\d+)?) to (-?\d+(?:\.\d+)?)(?: (\S+))?", limits)
    # A date's limits name each part: "day 1 to 31, month 1 to 12".
    part = {18: "day", 19: "month", 20: "year"}.get(field[1]) if field[0] == "tagDescriptorDate" else None
    if part and re.search(r"\b(day|month|year) -?\d", limits):
        m = re.search(r"\b%s (-?\d+) to (-?\d+)()" % part, limits)
    if not m:
        return
    lo, hi = ex.limits_in(field, tx.UNIT_OF_TEXT.get(m.group(3) or "", unit))
    told_unit = tx.UNIT_OF_TEXT.get(m.group(3) or "")
    if field[1] == 18 and field[0] == "tagDescriptorDate":
        month, year = _typed_or_held(typed, device, 19, 360), _typed_or_held(typed, device, 20, 364)
        if month and year and 1 <= month <= 12:
            hi = ex.days_in(int(month), int(year))
    # An entry whose unit label is blank (its unit not read) is in no unit the user sees: its limits
    # are told as the parameter has them, in metres.
    label = v.action.run.items.get((0, spec.label), {}).get("text") if spec.label else None
    if label is not None and label.strip() == "" and told_unit == 45:
        unit = 45
    if told_unit is not None and ex.NUMBER_FIELDS[field][2] == "length" and unit in ex.METRES and told_unit != unit:
        v.fail("limits told", spec.item, "%r: %s is shown in %s" % (sentence, spec.name, ex.UNIT_SYMBOLS[unit]))
    for told, true in ((float(m.group(1)), lo), (float(m.group(2)), hi)):
        decimals = len(m.group(1 if true == lo else 2).split(".")[1]) if "." in m.group(1 if true == lo else 2) else 0
        if abs(told - true) > 0.5 * 10 ** -decimals + 1e-6 * abs(true):
            v.fail("limits told", spec.item, "%r: %s takes %.6g to %.6g%s" % (
                sentence, spec.name, lo, hi, " " + ex.UNIT_SYMBOLS.get(unit, "") if told_unit else ""))
            return


def check_codes(v, run, sentence):
    """A response code told carries the meaning HART gives it for the command that got it."""
    commands = {int(r.split("#")[0]) for r in run.requests}
    for m in re.finditer(r"0x([0-9A-F]{2})(?: \(([^)]*)\))?", sentence):
        code = int(m.group(1), 16)
        if code == 0:
            continue
        if m.group(2) is not None and not ex.code_meaning_ok(code, m.group(2), commands):
            v.fail("meaning", "0x%02X" % code, "%r: HART gives 0x%02X another meaning" % (sentence, code))
        elif m.group(2) is None and (code in ex.COMMON_CODES or any((c, code) in ex.COMMAND_CODES for c in commands)):
            v.fail("meaning", "0x%02X" % code, "%r: 0x%02X told without its meaning" % (sentence, code))


def check_sentences(v, run, before, after, typed, explorer):
    committed = any(s[0] == "click" for s in v.action.steps)
    writes_at = [(i, int(line.split(" ")[1].split("#")[0]), line.split(" ")[1]) for i, line in enumerate(run.journal)
                 if re.match(r"^request \d+#\d+$", line)]
    not_written = set()
    typed_all = typed
    for pos, sentence in sentences_told(run):
        typed = typed_all
        if _INVENTORY:
            with open(_INVENTORY, "a") as f:
                f.write("%s\t%s\n" % (st.form_of(sentence)[0], sentence))
        check_codes(v, run, sentence)
        form, m = st.form_of(sentence)
        if form is None:
            v.fail("sentence", sentence[:60], "told %r, a sentence of no form" % sentence)
            continue
        groups = m.groupdict()
        if form == "download failed":
            inner, im = st.form_of(groups["why"])
            if inner is None:
                v.fail("sentence", groups["why"][:60], "told %r, a sentence of no form" % groups["why"])
                continue
            form, m, groups = inner, im, im.groupdict()
        reasons = st.reasons_of(groups["why"]) if form in st.WITH_REASON and groups.get("why") else []
        for name, rm in reasons:
            if name is None:
                v.fail("sentence", rm[:60], "told %r: %r is no reason of a known form" % (sentence, rm))
        named_specs = specs_named(groups["names"], explorer) if groups.get("names") else []
        if groups.get("names"):
            known = set(all_names()) | st.PHRASES | {spec.name.lower() for spec in explorer.items.values()} | \
                labels_shown(run) | getattr(v.sweep, "labels", set())
            for n in st.name_list(groups["names"]):
                n = re.sub(r"^the unit of ", "", n, flags=re.I)
                if n.lower() not in known and not n.lower().endswith("page's values"):
                    v.fail("sentence", n[:40], "%r names %r, which is no name of an entry or of what it reads" % (
                        sentence, n))
        if form in ("not written", "not sent", "given up"):
            for spec in named_specs:
                not_written.add(spec.item)
        # A request's failure told of an entry names one whose write went out: an entry whose
        # write was never sent did not meet the device's refusal or silence.
        # (A link lost holds back every write after it: it is no request's own fate.)
        failures = [rm for name, rm in reasons if name in ("refused", "no answer", "busy", "lost", "not taken")]
        if form == "not written" and failures and after:
            sent = {c for _, c, _ in writes_at}
            for spec in named_specs:
                if spec.writes and spec.item in typed and spec.writes not in sent and \
                        not (failures[0].groupdict().get("whose") and named(failures[0].group("whose"), [spec.name])):
                    v.fail("told as", spec.item, "%r: %s's write (command %d) was never sent" % (
                        sentence, spec.name, spec.writes))
        if form in ("not written", "not sent") and after:
            # Not written: the entry's bytes are what they were, unless a later request wrote them.
            for spec in named_specs:
                value = typed.get(spec.item)
                if value is None or not spec.writes or holds(spec, before, value) or not holds(spec, after, value):
                    continue
                if same_distance(spec, before, after):
                    continue  # converted by a unit change, the distance as it was
                if any(i > pos and c == spec.writes and r not in v.failed for i, c, r in writes_at):
                    continue
                # Held since an earlier step's Send wrote it: this Send's word is of this Send.
                step_at = max((i for i, line in enumerate(run.journal[:pos]) if line.startswith("step ")), default=0)
                if any(i < step_at and c == spec.writes and r not in v.failed for i, c, r in writes_at) and \
                        any(holds(spec, after, x) for x in values_sent(run, spec.item)):
                    continue
                v.fail("claim", spec.item, "%r: the transmitter holds %s, as typed" % (
                    sentence, describe_expected(spec.expected(after))))
        for name, rm in reasons:
            if name in ("invalid", "other invalid"):
                typed = typed_before(run, told_position(run, pos, sentence), typed_all)
                # An entry a Refresh read anew after the refusal was typed when it was told.
                for line in run.journal[:told_position(run, pos, sentence)]:
                    m_ = re.match(r"^step type (\d+)=(.*)$", line)
                    if line == "step click 356":
                        typed = {k: x for k, x in typed.items() if k in typed_all}
                    elif m_ and int(m_.group(1)) not in typed_all:
                        typed[int(m_.group(1))] = m_.group(2)
            if name == "invalid":
                limits = rm.groupdict().get("limits") or ""
                per = dict(re.findall(r"([A-Z][^:;]*?): ([^;]+)", limits)) if ";" in limits or ": " in limits else {}
                # Entries of one name (the date's day, month and year) are blamed together: one of
                # them holds what its field cannot take.
                by_name = {}
                for spec in named_specs:
                    by_name.setdefault(spec.name, []).append(spec)
                # Function 5 shows the data set's values (its date among them), not the device's.
                device = v.ctx.get("dataset", {}) if v.ui.name == "f5" else after or before
                for name_, group in by_name.items():
                    mine = [spec for spec in group if spec.item in typed]
                    if not mine:
                        v.fail("blamed", group[0].item, "%r: nobody typed into %s" % (sentence, name_))
                        continue
                    at = told_position(run, pos, sentence)
                    verdicts = [entry_valid(spec, typed[spec.item], entry_unit_at(v, spec, run, device, at), typed, device)
                                for spec in mine]
                    if all(x is True for x in verdicts):
                        v.fail("blamed", mine[0].item, "%r: %s holds %s, which its field takes" % (
                            sentence, name_, " ".join(repr(typed[spec.item]) for spec in mine)))
                    told = per.get(name_, limits if not per else "")
                    for spec, verdict in zip(mine, verdicts):
                        if told and verdict is not True:
                            limits_true(v, spec, told, entry_unit_at(v, spec, run, device, at), typed, device,
                                        sentence)
            elif name == "other invalid":
                # Fields that share a label (a date's day, month and year) are one entry: one of
                # them not valid makes it so.
                device = after or before
                by_name = {}
                for spec in specs_named(rm.group("other"), explorer):
                    by_name.setdefault(spec.name, []).append(spec)
                for specs in by_name.values():
                    held = [(spec, typed.get(spec.item)) for spec in specs]
                    at = told_position(run, pos, sentence)
                    unit_at = lambda spec_: entry_unit_at(v, spec_, run, device, at)
                    if all(text is None or entry_valid(spec, text, unit_at(spec), typed, device) is True
                           for spec, text in held):
                        v.fail("blamed", specs[0].item, "%r: %s holds %s, a valid entry or none" % (
                            sentence, specs[0].name, " ".join(repr(text) for _, text in held)))
        typed = typed_all
        if form == "self test failed":
            faults = sum(ex.faults_set(getattr(v.action, "status", None) or v.sweep.state.status))
            if int(groups["count"]) != faults:
                v.fail("claim", "self test", "%r: the transmitter reports %d faults" % (sentence, faults))
        if form == "trim written" and after:
            # The trim the transmitter keeps is the meter's reading the user typed, at the range's
            # end the trim is made at: the zero trim at 4 mA, the gain trim at 20 mA.
            line = ex.TRIMS[ex.ZERO_TRIM if groups["trim"] == "zero" else ex.GAIN_TRIM][1]
            readings = [float(x[2]) for x in v.action.steps if x[0] == "type" and x[1] == 6316 and
                        re.fullmatch(r"-?\d+(\.\d+)?", x[2])]
            held = tx.f32(tx.raw(after, line))
            if held is None or not any(abs(held - r) <= 0.0005 for r in readings):
                v.fail("claim", line, "%r: the transmitter's %s is %s (typed: %s)" % (
                    sentence, line, held, ", ".join(str(r) for r in readings) or "nothing"))
        if form == "set to span" and after:
            spec = next((s for s in explorer.items.values() if s.name == groups["name"]), None)
            other = next((s for s in explorer.items.values() if s.name == groups["other"]), None)
            unit = tx.UNIT_OF_TEXT.get(groups["unit"])
            if spec is None or other is None or unit is None:
                continue
            e = other.expected(after)
            span = tx.convert(tx.f32(tx.raw(after, "minimumSpan")) or 0.0, tx.u8(after, "limitsUnit"), unit)
            value, told_span = float(groups["value"]), float(groups["span"])
            if e is None:
                continue
            held_other = tx.convert(e[1], e[2], unit)
            # The other level as the page held it when it told: as typed up to then, else the
            # transmitter's (before a Send wrote it, or after).
            # (The notice of a level typed comes as the focus leaves it: in the step that types the
            # other level, before that typing is in.)
            at = told_position(run, pos, sentence)
            others = []
            for line in run.journal[:at]:
                m_ = re.match(r"^step type %d=(.*)$" % other.item, line)
                try:
                    others += [float(m_.group(1))] if m_ else []
                except ValueError:
                    pass
            b = other.expected(before) if before else None
            others += [held_other] + ([tx.convert(b[1], b[2], unit)] if b else [])
            if all(abs(abs(value - o) - told_span) > 0.002 + 1e-5 * abs(value) for o in others) or \
                    abs(told_span - span) > 0.0015 + 1e-5 * span:
                v.fail("claim", spec.item, "%r: %s holds %.4f %s, the minimum span is %.4f %s" % (
                    sentence, other.name, held_other, groups["unit"], span, groups["unit"]))
        if form == "converted":
            a, b = float(groups["a"]), float(groups["b"])
            ua, ub = tx.UNIT_OF_TEXT.get(groups["ua"]), tx.UNIT_OF_TEXT.get(groups["ub"])
            if ua in ex.METRES and ub in ex.METRES:
                decimals = len(groups["b"].split(".")[1]) if "." in groups["b"] else 0
                # A number converted as the page held it: shown to its decimals.
                shown = len(groups["a"].split(".")[1]) if "." in groups["a"] else 0
                want = a * ex.METRES[ua] / ex.METRES[ub]
                slack = 0.5 * 10 ** -shown * ex.METRES[ua] / ex.METRES[ub]
                if abs(want - b) > 0.5 * 10 ** -decimals + slack + 1e-5 * abs(want):
                    v.fail("claim", groups["name"], "%r: %s %s is %.4f %s" % (sentence, groups["a"], groups["ua"], want,
                                                                            groups["ub"]))
    # "X was set to V, WHY": the page changed the entry; once its write went out, the transmitter
    # holds V or a sentence says X was not written.
    told_all = sentences_told(run)
    for k, (pos, sentence) in enumerate(told_all):
        form, m = st.form_of(sentence)
        if form not in ("set to limit", "set to span", "set to step") or not after:
            continue
        spec = next((s for s in explorer.items.values() if s.name == m.group("name") and s.writes), None)
        if spec is None or spec.item not in typed or holds(spec, after, m.group("value")):
            continue
        # Set again since, or typed anew: the later word is the one the write answers.
        if any(x.startswith(m.group("name") + " was set to ") for _, x in told_all[k + 1:]) or \
                any(line.startswith("step type %d=" % spec.item) for line in run.journal[pos:]):
            continue
        sent = any(i > pos and c == spec.writes for i, c, _ in writes_at)
        if sent and spec.item not in not_written:
            v.fail("claim", spec.item, "%r, its write went out, the transmitter holds %s and nothing says %s was not "
                   "written" % (sentence, describe_expected(spec.expected(after)), spec.name))
    # Every entry typed, sent and not written is named as not written (U56's every entry).
    if not committed or not after or not agreed(v.action) or "has no item" in run.last:
        return
    for iid, value in typed.items():
        spec = explorer.items.get(iid)
        if spec is None or not spec.writes or (0, iid) not in run.items or iid in not_written:
            continue
        if holds_typed(v, spec, after, value) or holds(spec, before, value) or pending(run, iid, value):
            continue
        told = [s for _, s in sentences_told(run)]
        if any(named(s, item_names(spec)) and re.search(r"not (written|sent|valid)|given up|set to|none of the changes|"
                                                        r"not the changes", s) for s in told):
            continue
        v.fail("named", iid, "%s was typed %r and sent, not written, and no sentence names it as not written "
               "(told: %s)" % (spec.name, value, " / ".join(told) or "nothing"))


def check_host(v, run):
    """The host's last line is of a form, and what it says of the user interface is what it told."""
    if run.code != 1 or not run.last.startswith("vkr-frame: "):
        return
    if _INVENTORY:
        with open(_INVENTORY, "a") as f:
            f.write("HOST %s\t%s\n" % (st.host_form_of(run.last)[0], run.last))
    form, m = st.host_form_of(run.last)
    if form is None:
        v.fail("sentence", "host", "the host's last line %r is of no form" % run.last)
        return
    if form == "not done":
        told = [t for _, t in sentences_told(run)]
        if m.group("nothing") and told:
            v.fail("host", "told", "the host says the user interface told nothing, it told %r" % told[-1])
        elif m.group("last") is not None and not told:
            v.fail("host", "told", "the host says the user interface told %r, it told nothing" % m.group("last"))


def check_refusals(v, run, fault):
    """A healthy run gets no refusal from a transmitter that takes writes, but for a value it was
    sent: a refusal of another code means the action sent a request it should not have."""
    if fault:
        return
    before = v.ctx.get("before", {})
    for req, why in run.not_done:
        m = re.search(r"response code (\d+)", why)
        if not m or "#" not in req:
            continue
        command, code = int(req.split("#")[0]), int(m.group(1))
        if code == ex.PROTECTED_CODE and tx.u8(before, "writeProtect") == 1:
            continue
        if code == ex.MULTIDROP_CODE and command in ex.LOOP_CURRENT_COMMANDS and tx.u8(before, "loopCurrentMode") == 0:
            continue
        if code in ex.VALUE_CODES.get(command, ()):
            continue
        v.fail("refused", req, "the transmitter refused %s with code %d on a healthy run: the action sent a request "
               "it should not have (%s)" % (req, code, why))


def check_calendar(v, before, after):
    """A date the transmitter holds after the run, when it changed, is one of the calendar."""
    a, b = tx.raw(after, "tagDescriptorDate"), tx.raw(before, "tagDescriptorDate")
    if len(a) < 21 or a[18:21] == b[18:21]:
        return
    day, month, year = a[18], a[19], a[20] + 1900
    if not ex.date_ok(day, month, year):
        v.fail("calendar", "date", "the transmitter holds the date %02d.%02d.%d, which no calendar has" % (
            day, month, year))


def check_period(v, action, run):
    """The user interface's time let pass: a read it repeats comes once a period (the trend at the
    rate chosen), after its start when it has one."""
    period = getattr(action, "period", None)
    if not period or run.not_done:
        return
    command, ms, start = period
    wait = sum(s[1] for s in action.steps if s[0] == "wait")
    at = 0
    if start is not None:
        at = next((i for i, line in enumerate(run.journal) if line == "step click %d" % start), None)
        if at is None:
            v.fail("period", command, "the trend was never started")
            return
    waited = next((i for i, line in enumerate(run.journal) if line.startswith("step wait")), at)
    count = sum(1 for line in run.journal[max(at, waited):] if re.match(r"^request %d#\d+$" % command, line))
    want = wait // ms
    if not want - 1 <= count <= want + 1:
        v.fail("period", command, "command %d was read %d times in %d ms, every %d ms makes %d" % (
            command, count, wait, ms, want))


def check_unread_named(v, run, fault, explorer):
    """A value shown from a read that failed last is named as not read: each item of that read the
    page shows with a value is named by a sentence that it could not be read (or the page's values)."""
    stale = stale_commands(run, fault)
    # A timed read failing leaves the settings it carries as they were read: only a value read
    # anew at the user's request or at the page's showing is judged.
    if not stale or v.linkgone or any(s[0] == "wait" for s in v.action.steps):
        return
    told = [s for _, s in sentences_told(run) if "could not be read" in s]
    # Judged where the user asked to read (Refresh), where the page showed its first read, or where
    # the page named some of the read's items and not others.
    asked = set()
    for c in stale:
        at = [i for i, line in enumerate(run.journal) if re.match(r"^request %d#\d+$" % c, line)]
        if len(at) == 1 or (len(at) > 1 and any(line == "step click 356" for line in run.journal[at[-2]:at[-1]])):
            asked.add(c)
        if any(named(s, [spec.name]) for s in told for spec in explorer.items.values()
               if spec.cmd == c and spec.uis != tx.FRAME):
            asked.add(c)
    for (c, iid), it in run.items.items():
        spec = explorer.items.get(iid)
        if c != 0 or spec is None or spec.cmd not in asked or spec.kind in ("model", "const", "status"):
            continue
        text = it["text"].strip()
        if not text or text in PLACEHOLDERS or text in LOADING or spec.uis == tx.FRAME:
            continue
        if iid in typed_of(v.action):
            continue
        if not any(named(s, [spec.name, "page's values"]) for s in told):
            v.fail("unread named", iid, "%s shows %r after its read (command %d) failed, and no sentence says it "
                   "could not be read (told: %s)" % (spec.name, text, spec.cmd, " / ".join(told) or "nothing"))
