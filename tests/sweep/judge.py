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

import transmitter as tx

LOADING = {"Loading...", "..."}
PLACEHOLDERS = {"Not read", "Not connected", "--", "OFFLINE"}
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
    0: ["Configuration Changed", "identity", "device"], 1: ["distance reading", "PV", "Display Unit", "unit"],
    2: ["loop current", "Analog Value", "Percent"], 3: ["device values", "Values page"],
    7: ["Polling Address", "Loop Current Mode", "HART page"], 12: ["Message", "Device page"],
    13: ["Tag", "Descriptor", "Device page", "Device Tag"], 14: ["sensor limit", "Sensor", "Device page"],
    15: ["Range", "Damping", "Level", "Write Protect", "Transfer"], 16: ["Final Assembly", "Device page"],
    20: ["Long Tag", "Device page"], 48: ["Status", "Self test"], 131: ["Probe Fault", "echo", "probe length"],
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
# (user interface, action, invariant, subject (a field, line or request), reason).
EXCEPTIONS = [
    (r"f1p7|f4|f7", r"", "unasked", r"fixedCurrent",
     "a loop test or trim whose giving back of the current the transmitter did not confirm leaves the "
     "current fixed: the control says so once and closes on the user's second request (no control traps "
     "its user); only the fixed current, only after that failure"),
    (r"f1p4", r"^click 221\b", "unasked", r"configChangeCounter|configChanged",
     "the Advanced page's Send writes its probe fault setting back every time, changed or not: the "
     "transmitter holds the same setting and counts the write (its counters only)"),
    (r"f1p6", r"^click 221\b", "unasked", r"configChangeCounter|configChanged",
     "the HART page's Send writes command 6 once for each of its two settings, polling address and loop "
     "current mode, changed or not: the transmitter counts each write (its counters only)"),
    (r"f1p6", r"", "told", r"^6#2$",
     "the HART page's second command 6 repeats the first, which the transmitter confirmed with both "
     "settings: whatever becomes of the repeat, the transmitter holds what the user asked for"),
    (r"f1p9", r"^type 706", "offline", r"706",
     "the Echo page's range chooses how much of the curve its chart shows; nothing of it goes to the device"),
    (r"f5", r"answers .*Yes", "unasked", r".",
     "the offline parameter control's OK and Apply store the whole data set the user agreed to store in the "
     "device, as its release downloads the whole data set: settings the user did not touch go back to the "
     "data set's values"),
]


def excepted(ui, action, invariant, subject):
    for e_ui, e_action, e_inv, e_subject, _ in EXCEPTIONS:
        if re.fullmatch(e_ui, ui) and re.search(e_action, action) and e_inv == invariant and \
                re.search(e_subject, str(subject)):
            return True
    return False


def command_line(args):
    shown, skip = [], 0
    for a in args:
        if skip:
            skip -= 1
        elif a in ("--project", "--png"):
            skip = 1
        elif a not in ("--dump", "--journal"):
            shown.append("'%s'" % a if (" " in a or "<" in a or ">" in a or not a) else a)
    return "vkr-frame " + " ".join(shown)


class Verdict:
    def __init__(self, sweep, ui, action, fault):
        self.sweep, self.ui, self.action, self.fault = sweep, ui, action, fault
        self.what = action.describe() + (" with " + fault if fault else "")

    def fail(self, invariant, subject, why):
        if excepted(self.ui.name, self.what, invariant, subject):
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


def notices(run):
    """What the user was told, in order: (journal position, text)."""
    out = []
    for i, line in enumerate(run.journal):
        if line.startswith("message line "):
            text = line.split(": ", 1)[1] if ": " in line else ""
            if text.strip():
                out.append((i, text))
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


def command_kind(command, ui, action):
    clicks = clicks_of(action)
    if command in PROCEDURES:
        return "procedure"
    if command == 136 and 546 in clicks:
        return "procedure"
    if command == 131 and (ui.name == "f1p9" or ui.name == "f6") and 632 in clicks:
        return "procedure"
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
    return abs(a - b) <= 0.01 * max(abs(a), abs(b), 1e-9)


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
    typed = typed_of(action)
    # A level the page kept within the sensor's limits, and said so, is the user's entry now; the
    # limit is the transmitter's.
    # The same for a level kept the minimum span from the other, and a setting kept in steps set to
    # the step the page names; and an entry converted when the unit changed elsewhere, and said so
    # (check_units_seen holds the conversion against what was typed). In the order they were told.
    for _, text in notices(run):
        for m in re.finditer(r"([A-Z][\w ]*?) was set to (-?[\d.]+) (\S+), the (sensor's limit|minimum span|step)|"
                             r"([A-Z][\w ]*?) was converted from -?[\d.]+ \S+ to (-?[\d.]+) ", text):
            name, value = (m.group(1), m.group(2)) if m.group(1) else (m.group(5), m.group(6))
            for spec in explorer.items.values():
                if spec.name == name and spec.item in typed and (
                        m.group(1) or spec.item in getattr(action, "units_seen", {})):
                    typed[spec.item] = value
            if m.group(4) == "sensor's limit":
                check_limit(v, name, value, m.group(3), devices)
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
        check_items(v, sweep, name, run, items, devices, typed, offline, linkgone,
                    any(s[0] == "wait" for s in action.steps), stale_commands(run, fault))
    check_marks(v, run, typed, after, explorer)

    if offline:
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
        kind = command_kind(command, ui, action)
        if kind == "read" and command not in shown_commands(ui.name):
            continue  # a read of another page, hidden: nothing the user sees went without it
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
        if names and not any(n.lower() in t.lower() for t in of_kind for n in names):
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
    if committed and not refused_typing and ui.name != "f5":
        for iid, value in typed.items():
            spec = explorer.items.get(iid)
            if spec is None or not spec.writes or holds(spec, after, value) or (0, iid) not in run.items:
                continue
            words = KIND_WORDS["write"] + ("not valid", "not sent")
            if not any(any(w in t for w in words) and spec.name.lower() in t.lower() for _, t in told):
                v.fail("told", iid, "%s was typed %r and sent, the transmitter does not hold it, and nothing says it "
                       "was not written (told: %s)" % (spec.name, value, " / ".join(t for _, t in told) or "nothing"))
    check_success_after_failure(v, run, failed, typed, explorer)
    check_told_once(v, run)

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
            if holds(spec, after, value):
                continue
            if not same_entry(it["text"], value):
                v.fail("lost", iid, "item %d shows %r, the user typed %r and the transmitter did not take it" % (
                    iid, it["text"], value))


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
SHOWN_READS = {"f1p0": {14, 131, 2}, "f1p4": {1}, "f1p5": {48}, "f1p9": {131}, "f2": {13, 14, 3}, "f8": {48},
               "f1 all pages": {0, 1, 2, 3, 7, 12, 13, 14, 15, 16, 20, 48, 131, 135, 137}}


def holds(spec, device, value):
    """Whether the transmitter holds the typed value in that item."""
    e = spec.expected(device)
    if e is None:
        return False
    if e[0] == "text":
        return e[1].strip().lower() == value.strip().lower()
    try:
        # A setting kept in steps (the sensitivity's 0.4 %) holds the step nearest the typed number.
        step = spec.scale / 2 if spec.scale != 1.0 else 0.0005
        return abs(float(value) - e[1]) <= step + 1e-5 * abs(e[1])
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
    return {c for c, req in last.items() if req in failed}


def check_items(v, sweep, name, run, items, devices, typed, offline, linkgone, waited, stale):
    sent = {int(r.split("#")[0]) for r in run.requests}
    status_args = sweep.state.status
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
        fault = tx.faults_of(status_args)[tx.FAULT_LAMPS.index(iid)]
        if (it["image"] == tx.LAMP_SET) != fault:
            v.fail("lamp", iid, "fault lamp %d is %s, the transmitter says %s" % (
                iid, "set" if it["image"] == tx.LAMP_SET else "clear", fault))


def check_echo(v, iid, it, devices, run):
    for d in devices[1:]:
        expected = tx.echo_texts(d).get(iid)
        if expected is None or it["text"].strip() in PLACEHOLDERS or it["text"].strip() == "":
            return
        try:
            shown = float(it["text"])
        except ValueError:
            v.fail("invented", iid, "echo item %d shows %r" % (iid, it["text"]))
            return
        if abs(shown - expected[1]) > 0.5 * 10 ** -expected[3] + 1e-6:
            v.fail("invented", iid, "echo item %d shows %r, the transmitter holds %s" % (iid, it["text"], expected[1]))


def check_self_test(v, iid, it, status_args, run, offline):
    faults = tx.faults_of(status_args)
    not_read = any(r.startswith("48#") for r, _ in run.not_done)
    if iid in tx.SELF_TEST_EDITS:
        text = it["text"].strip()
        if text in PLACEHOLDERS:
            return
        want = "FAIL" if faults[tx.SELF_TEST_EDITS.index(iid)] else "PASS"
        if offline or not_read or text != want:
            v.fail("invented", iid, "self-test line %d shows %r, the transmitter says %s" % (
                iid, text, "nothing (not read)" if not_read or offline else want))
    elif iid == 6354:
        if "PASSED" in it["text"] and (any(faults) or not_read or offline):
            v.fail("invented", iid, "the self test shows %r, the transmitter %s" % (
                it["text"], "was not read" if not_read or offline else "reports faults"))


def check_marks(v, run, typed, after, explorer):
    for (c, iid), it in run.items.items():
        if c != 0:
            continue
        if it["mark"] in (MARK_CHANGED, MARK_INVALID) and iid not in typed:
            v.fail("mark", iid, "item %d has a %s mark nobody set" % (
                iid, "changed" if it["mark"] == MARK_CHANGED else "invalid"))
    if v.sweep.state.offline:
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
    changed = {k for k in set(before) | set(after) if before.get(k) != after.get(k)}
    if not changed:
        return
    allowed = set()
    for iid in typed:
        spec = explorer.items.get(iid)
        if spec is not None:
            allowed |= set(tx.lines_written_by(spec))
        allowed |= set(TYPED_LINES.get(iid, ()))
        if ui.name == "f5" and iid in tx.OFFLINE_ITEMS:
            allowed |= set(tx.OFFLINE_ITEMS[iid])
    if agreed(action):
        for b in clicks_of(action):
            allowed |= set(CLICK_LINES.get(b, ()))
    wrote = bool((changed - set(tx.COUNTERS)) & allowed) or (agreed(action) and any(
        b in (546, 682, 608, 377, 6315) for b in clicks_of(action)))
    for line in sorted(changed):
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
    for line, kept in spans.items():
        if line not in changed or (converted and line == "echoSettings"):
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
        if spec.line in changed and not holds(spec, after, value):
            e = spec.expected(after)
            unit_changed = spec.unit and spec.unit in changed
            if not unit_changed:
                v.fail("unasked", spec.line, "item %d was typed %r, the transmitter holds %s" % (
                    iid, value, describe_expected(e)))
    # A current fixed by a loop test or trim is given back when it closes.
    if tx.f32(tx.raw(after, "fixedCurrent")):
        v.fail("unasked", "fixedCurrent", "the loop current stays fixed at %.3f mA after the run" % (
            tx.f32(tx.raw(after, "fixedCurrent"))))


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
    if applies and "Yes" in action.answers and run.compare and \
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
