#!/usr/bin/env python3
"""The honesty sweep: every user interface of the DTM, every action a user can take in it, and
every request that action sends failing in turn, judged from outside.

The cases come from the user interfaces themselves: the functions the host lists (`ui --list`),
the pages of a page tree, and the items each shows (`ui --dump`): every enabled button, edit, combo
and list box, and the controls a click opens. For each user interface the actions are: a look;
Refresh; Send/OK/Apply with nothing typed; one entry typed to a valid value other than the
transmitter's, then sent; every other button, each question answered with the button that acts.
Each action runs once on a healthy transmitter, which records the requests it sends
(`requests: 35#1 ...`); then, for each request and each fault kind, it runs again with that
request failing (`--fault 35#1=busy`).

The verdict comes from what a user and the transmitter see, never from an expected sentence: the
transmitter's memory (the device file) before and after, the project file and `compare`, every
field and status mark the user interface shows (`--dump`), what it told (its messages and message
lines, in order, `--journal`), and the host's last line and exit status. A run is held against the
healthy run of the same action: a failure may take away what the healthy run did, never add to it.

Usage: sweep.py HOST [--shard K/N] [--only UI] [--jobs N] [--wire] [--offline] [--list]
"""
import argparse
import concurrent.futures
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import threading

KINDS = ["silent", "busy", "refused", "lost", "linkgone"]
PLACEHOLDERS = {"Not read", "Not connected", "--", ""}
LOADING = {"Loading...", "..."}
# The status marks beside an entry, by the icon resource the framework shows.
MARK_NONE, MARK_NO_VALUE, MARK_CHANGED, MARK_STATUS, MARK_INVALID = 664, 667, 671, 673, 669
# Lines of the device file that count what was written rather than hold a setting.
COUNTERS = {"configChangeCounter", "configChanged"}
# How a question is answered so that it acts, by its buttons.
ACTING = {"buttonsOkCancel": "OK", "buttonsYesNo": "Yes", "buttonsYesNoCancel": "Yes",
          "buttonsRetryCancel": "Retry", "buttonsAbortRetryIgnore": "Retry"}
# What a user interface tells of a write or a procedure that did not happen (as opposed to a read).
NOT_DONE_WORDS = ("not written", "failed", "did not go through", "did not confirm", "not fixed",
                  "did not take", "not valid", "no device is connected")

# Behaviour the parts require that an invariant would call a fault: (user interface, action
# pattern, invariant, reason). One list, beside the judge that reads it.
EXCEPTIONS = [
    (r"f1p7|f4|f7", r"", "unasked",
     "a loop test or trim whose giving back of the current failed leaves the current fixed; the control "
     "says so once and closes on the user's second request (the loop current controls' Part, U48)"),
    (r"f1p9", r"^type 706 offline$", "offline",
     "the echo page's range chooses how much of the curve its chart shows; nothing of it goes to the device"),
    (r"f1p4", r"^click 221$", "unasked",
     "the Advanced page's Send writes the probe fault setting back every time, changed or not (its Part's "
     "Send, step 5): the device holds the same setting and counts the write"),
    (r"f1p6", r" with 6#2=", "told",
     "the HART page's second command 6 repeats the first, which the device confirmed with both settings: "
     "whatever becomes of the repeat, the device holds what the user asked for, and nothing is told"),
    (r"f1p6", r"^click 221( with|$)", "unasked",
     "the HART page's Send writes command 6 once for each of its two settings, polling address and loop "
     "current mode, changed or not (the HART page's Part); the device counts each write"),
]


def excepted(ui, action, invariant):
    for e_ui, e_action, e_invariant, _ in EXCEPTIONS:
        if re.fullmatch(e_ui, ui) and re.search(e_action, action) and e_invariant == invariant:
            return True
    return False


class Run:
    """One run of the host and what it left."""

    def __init__(self):
        self.code = 0
        self.out = ""
        self.err = ""
        self.items = {}      # (control, id) -> dict(cls, flags, mark, text, entries)
        self.requests = []   # "35#1", in order
        self.not_done = []   # "35#1: the device was busy": requests the device did not do, retries aside
        self.journal = []    # "step click 221", "request 35#1", "message ...", "message line 6333: ..."
        self.told = []       # the messages shown, with their answers
        self.applied = ""
        self.device_before = ""
        self.device = ""
        self.project_before = b""
        self.project = b""
        self.compare = ""
        self.pages = None

    @property
    def last(self):
        lines = (self.err.strip() or self.out.strip()).splitlines()
        return lines[-1] if lines else ""

    def texts_told(self):
        """What the user was told, in order: messages with OK alone, message lines, and the
        placeholders of fields that say a read failed."""
        told = []
        for line in self.journal:
            if line.startswith("message line ") and line.split(": ", 1)[-1].strip():
                told.append(line.split(": ", 1)[1])
            elif (line.startswith("message ") or line.startswith("message box ")) and " buttonsOk " in line:
                told.append(line)
            elif line.startswith("field "):
                # A field that says why it holds no value, as the user saw it between steps.
                text = line.split(": ", 1)[-1]
                if text == "Not read" or any(w in text for w in ("could not be read", "not written", "failed")):
                    told.append(text)
        return told


def parse(run, out):
    run.out = out
    item = None
    for line in out.splitlines():
        m = re.match(r'^  shown (\d+) (-?\d+) (\S+) (\S+) "(.*)"$', line)
        if m:
            flags = m.group(4).split(",")
            mark = next((int(f[5:]) for f in flags if f.startswith("mark=")), None)
            item = {"cls": m.group(3), "flags": set(f for f in flags if "=" not in f), "mark": mark,
                    "text": m.group(5), "entries": []}
            run.items[(int(m.group(1)), int(m.group(2)))] = item
            continue
        m = re.match(r'^    entries: the entries (.*)$', line)
        if m and item is not None:
            item["entries"] = re.findall(r'"([^"]*)"', m.group(1))
            continue
        if line.startswith("    > "):
            run.journal.append(line[6:])
        elif line.startswith("  requests: "):
            rest = line[len("  requests: "):].strip()
            run.requests = [] if rest == "none" else rest.split()
        elif line.startswith("  told") and ": message" in line:
            run.told.append(line.split(": ", 1)[1])
        elif line.startswith("  not done: "):
            run.not_done.append(line[len("  not done: "):])
        elif line.startswith("  applied: "):
            run.applied = line[len("  applied: "):]
        m = re.match(r"^  the user interface has (\d+) pages? in its tree$", line)
        if m:
            run.pages = int(m.group(1))


def device_lines(text):
    return dict(line.split(" ", 1) if " " in line else (line, "") for line in text.splitlines() if line.strip())


class Sweep:
    def __init__(self, host, jobs, wire):
        self.host = host
        self.jobs = jobs
        self.wire = wire
        self.root = tempfile.mkdtemp(prefix="vkr-sweep-")
        self.env = dict(os.environ, VKR_REGISTRY=os.path.join(self.root, "registry.reg"),
                        VKR_DRIVE_ROOT=os.path.join(self.root, "drives"))
        self.counter = 0
        self.lock = threading.Lock()
        self.failures = []
        self.notes = []
        self.runs = 0

    def close(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def call(self, args, timeout=300):
        p = subprocess.run([self.host] + args, env=self.env, capture_output=True, text=True, timeout=timeout)
        return p.returncode, p.stdout, p.stderr

    def folder(self, name):
        return os.path.join(self.root, "drives", "c", name)

    def setup(self, units=None):
        code, out, err = self.call(["register"])
        if code != 0:
            raise SystemExit("register failed: " + out + err)
        if units:
            # A transmitter in other units: its range and PV in that unit, the same metres.
            code, out, err = self.call(["upload", "--project", "C:\\U\\p.vkr"])
            with open(os.path.join(self.folder("U"), "p.vkr.device")) as f:
                lines = f.read().splitlines(True)
            code_of, factor = {"mm": ("31", 1000.0), "in": ("2F", 39.37007874), "ft": ("2C", 3.280839895),
                               "cm": ("30", 100.0)}[units]
            out_lines = []
            for line in lines:
                key, _, value = line.rstrip("\r\n").partition(" ")
                end = line[len(line.rstrip("\r\n")):]
                if key in ("pvUnit", "rangeUnit"):
                    value = code_of
                elif key in ("upperRange", "lowerRange"):
                    value = "%08X" % struct.unpack(">I", struct.pack(">f", struct.unpack(">f", bytes.fromhex(value))[0] * factor))[0]
                out_lines.append(key + " " + value + end)
            os.makedirs(self.folder("G"), exist_ok=True)
            with open(os.path.join(self.folder("G"), "p.vkr.device"), "w", newline="") as f:
                f.write("".join(out_lines))
        code, out, err = self.call(["upload", "--project", "C:\\G\\p.vkr"])
        if code != 0:
            raise SystemExit("upload failed: " + out + err)
        with open(os.path.join(self.folder("G"), "p.vkr"), "rb") as f:
            self.golden_project = f.read()
        with open(os.path.join(self.folder("G"), "p.vkr.device")) as f:
            self.golden_device = f.read()

    def functions(self):
        code, out, err = self.call(["ui", "--list", "--project", "C:\\G\\p.vkr"])
        return [int(m.group(1)) for m in re.finditer(r"^\s+(\d+)\s", out, re.M)]

    def run(self, function, page, steps, answers, fault=None, offline=False, wire=False):
        """Runs the host on a fresh copy of the golden project and transmitter."""
        with self.lock:
            self.counter += 1
            n = self.counter
        name = "R%d" % n
        folder = self.folder(name)
        os.makedirs(folder, exist_ok=True)
        project = os.path.join(folder, "p.vkr")
        device = project + ".device"
        with open(project, "wb") as f:
            f.write(self.golden_project)
        if not offline:
            with open(device, "w", newline="") as f:
                f.write(self.golden_device)
        args = ["ui", str(function), "--project", "C:\\%s\\p.vkr" % name, "--png", os.path.join(folder, "x.png"),
                "--dump", "--journal"]
        if page is not None:
            args += ["--page", str(page)]
        if offline:
            args.append("--offline")
        if wire:
            args += ["--wire-delay", "hart"]
        if fault:
            args += ["--fault", fault]
        for step in steps:
            args += ["--click", str(step[1])] if step[0] == "click" else ["--type", "%d=%s" % (step[1], step[2])]
        for a in answers:
            args += ["--answer", a]
        r = Run()
        r.args = args
        r.device_before = "" if offline else self.golden_device
        r.project_before = self.golden_project
        r.code, out, r.err = self.call(args)
        parse(r, out)
        if os.path.exists(device):
            with open(device) as f:
                r.device = f.read()
        if os.path.exists(project):
            with open(project, "rb") as f:
                r.project = f.read()
        if not offline and r.project:
            code, cout, cerr = self.call(["compare", "--project", "C:\\%s\\p.vkr" % name])
            # Its verdict, without the progress lines.
            verdict = [l for l in (cout + cerr).splitlines() if not re.match(r"^compare: \d+%$", l)]
            r.compare = " / ".join(verdict) if code == 0 or verdict else "compare failed (%d)" % code
        shutil.rmtree(folder, ignore_errors=True)
        with self.lock:
            self.runs += 1
        return r

    def fail(self, ui, action, invariant, why, run):
        if excepted(ui, action, invariant):
            return
        shown, skip = [], 0
        for a in run.args:
            if skip:
                skip -= 1
            elif a in ("--project", "--png"):
                skip = 1
            elif a not in ("--dump", "--journal"):
                shown.append("'%s'" % a if (" " in a or "<" in a or ">" in a or not a) else a)
        line = "%s | %s | %s: %s\n    vkr-frame %s" % (ui, action, invariant, why, " ".join(shown))
        with self.lock:
            self.failures.append(line)


def describe(steps, answers):
    words = []
    for s in steps:
        words.append("click %d" % s[1] if s[0] == "click" else "type %d=%s" % (s[1], s[2]))
    if answers:
        words.append("answers " + ",".join(answers))
    return "; ".join(words) if words else "look"


def questions(run):
    """The questions asked during the work (not at the close), in order, as their buttons."""
    asked = []
    for line in run.journal:
        if line.startswith("step close"):
            break
        m = re.match(r"^message (?:box )?(?:\S+ )?(buttons\w+) ", line)
        if m and m.group(1) != "buttonsOk":
            asked.append(m.group(1))
    return asked


def other_values(item):
    """Values to type into an entry that differ from what it shows, the likeliest valid first."""
    text = item["text"].strip()
    if item["cls"] in ("ComboBox", "ListBox"):
        return [e for e in item["entries"] if e != item["text"] and e not in LOADING][:2]
    try:
        value = float(text)
    except ValueError:
        return ["SWEEP"]
    decimals = len(text.split(".")[1]) if "." in text else 0
    fmt = "%%.%df" % decimals
    step = 10 ** -decimals if decimals else 1
    candidates = [value + 0.5 if decimals else value + 1, value * 0.9, value - step, value + step]
    out = []
    for c in candidates:
        t = fmt % c
        if t != text and t not in out and not t.startswith("-"):
            out.append(t)
    return out


def commit_buttons(items, control):
    """The buttons that send what was typed: Send in a page frame, else OK and Apply."""
    ids = [i for (c, i) in items if c == control]
    for wanted in ([221], [1, 102]):
        found = [i for i in wanted if i in ids]
        if found:
            return found
    return []


def actionable(items, control):
    buttons, entries = [], []
    for (c, i), it in sorted(items.items()):
        if c != control or "enabled" not in it["flags"]:
            continue
        if it["cls"] == "Button" and "group" not in it["flags"]:
            buttons.append(i)
        elif it["cls"] == "Edit" and "readonly" not in it["flags"]:
            entries.append(i)
        elif it["cls"] in ("ComboBox", "ListBox") and it["entries"]:
            entries.append(i)
    return buttons, entries


class UserInterface:
    def __init__(self, sweep, function, page, name, offline=False):
        self.sweep = sweep
        self.function = function
        self.page = page
        self.name = name
        self.offline = offline

    def run(self, steps, answers, **kw):
        kw.setdefault("offline", self.offline)
        return self.sweep.run(self.function, self.page, steps, answers, **kw)

    def settle_answers(self, steps):
        """Runs the action, answering each question asked during the work with the button that
        acts, until no new question comes; returns the answers and the healthy run."""
        answers = []
        r = self.run(steps, answers)
        for _ in range(5):
            asked = questions(r)
            if len(asked) <= len(answers):
                break
            answers = answers + [ACTING.get(b, "OK") for b in asked[len(answers):]]
            r = self.run(steps, answers)
        return answers, r

    def actions(self):
        """(steps, answers, healthy run, full) for every action of the user interface and of the
        controls its clicks open; `full`: fail every request of it, else only its own."""
        look_answers, look = self.settle_answers([])
        self.look = look
        found = [([], look_answers, look, True)]
        commits = commit_buttons(look.items, 0)
        buttons, entries = actionable(look.items, 0)
        for b in commits:
            answers, r = self.settle_answers([("click", b)])
            found.append(([("click", b)], answers, r, True))
        first_entry = True
        for e in entries:
            item = look.items[(0, e)]
            chosen = None
            for value in other_values(item):
                steps = [("type", e, value)] + [("click", b) for b in commits[:1]]
                answers, r = self.settle_answers(steps)
                chosen = (steps, answers, r)
                if r.device != r.device_before or (not commits and r.code == 0):
                    break
            if chosen:
                found.append(chosen + (first_entry,))
                first_entry = False
        for b in buttons:
            if b in commits:
                continue
            steps = [("click", b)]
            answers, r = self.settle_answers(steps)
            found.append((steps, answers, r, False))
            # A control the click opened: its own actions, after the click.
            opened = sorted({c for (c, _) in r.items if c > 0})
            for c in opened[:1]:
                inner_buttons, inner_entries = actionable(r.items, c)
                inner_commits = commit_buttons(r.items, c)
                for ib in inner_buttons:
                    s = steps + [("click", ib)]
                    a, rr = self.settle_answers(s)
                    found.append((s, a, rr, False))
                for ie in inner_entries:
                    for value in other_values(r.items[(c, ie)])[:1]:
                        s = steps + [("type", ie, value)] + [("click", x) for x in (inner_commits or inner_buttons)[:1]]
                        a, rr = self.settle_answers(s)
                        found.append((s, a, rr, False))
        return found


# ---- The judge ---------------------------------------------------------------------------------

def same_entry(shown, typed):
    """Whether a field still shows what was typed: the text, or the number in the field's own
    resolution (a setting kept in steps shows the step nearest the typed number)."""
    if shown.strip() == typed.strip():
        return True
    try:
        a, b = float(shown), float(typed)
    except ValueError:
        return False
    return abs(a - b) <= 0.01 * max(abs(a), abs(b), 1e-9)


def judge_healthy(sweep, ui, steps, answers, h):
    action = describe(steps, answers)
    typed = {s[1] for s in steps if s[0] == "type"}
    for key, it in h.items.items():
        if it["text"] in LOADING:
            sweep.fail(ui, action, "loading", "item %d shows %r after the run" % (key[1], it["text"]), h)
    if h.code != 0 and not h.last.startswith("vkr-frame: "):
        sweep.fail(ui, action, "exit", "exit %d without a reason on its last line: %r" % (h.code, h.last), h)
    if h.code == 0 and h.last.startswith("vkr-frame: "):
        sweep.fail(ui, action, "exit", "exit 0 after a failure: %r" % h.last, h)
    changed_device = h.device != h.device_before
    changed_project = h.project != h.project_before
    if ("the device written" in h.applied) != changed_device:
        sweep.fail(ui, action, "applied", "says %r while the device file %s" % (
            h.applied, "changed" if changed_device else "stayed"), h)
    if ("the data set saved" in h.applied) != changed_project:
        sweep.fail(ui, action, "applied", "says %r while the project %s" % (
            h.applied, "changed" if changed_project else "stayed"), h)
    if not typed and not [s for s in steps if s[0] == "click" and s[1] not in (221, 1, 102, 356)] and changed_device:
        diff = [k for k in set(device_lines(h.device)) | set(device_lines(h.device_before))
                if device_lines(h.device).get(k) != device_lines(h.device_before).get(k)]
        sweep.fail(ui, action, "unasked", "nothing was typed, yet the transmitter changed: %s" % ", ".join(sorted(diff)), h)
    if not changed_device and changed_project and not h.applies_data_set:
        sweep.fail(ui, action, "data set", "the project was saved while the transmitter took nothing", h)
    if h.compare and "equals the device" not in h.compare and not h.applies_data_set:
        sweep.fail(ui, action, "data set", "compare after the run: %r" % h.compare, h)
    judge_told_once(sweep, ui, action, h)


def judge_told_once(sweep, ui, action, r):
    seen = {}
    for line in r.journal:
        if (line.startswith("message ") or line.startswith("message box ")) and " buttonsOk " in line:
            text = line.split(": ", 1)[-1]
            seen[text] = seen.get(text, 0) + 1
    for text, n in seen.items():
        if n > 1:
            sweep.fail(ui, action, "told once", "told %d times: %s" % (n, text), r)


def judge_fault(sweep, ui, steps, answers, h, f, fault, applies_data_set, look):
    action = describe(steps, answers) + " with " + fault
    typed = {s[1]: s[2] for s in steps if s[0] == "type"}
    request = fault.split("=")[0]
    if request not in f.requests:
        return  # the failure took another road that never sent it: nothing to judge
    # (7) the outcome: a run in which the device did not do all that was asked (a retry that it
    # did makes up for the first try) ends with exit 1 and says why last.
    if f.not_done and f.code == 0:
        sweep.fail(ui, action, "exit", "exit 0 although %s was not done" % f.not_done[0], f)
    elif f.code != 0 and not f.last.startswith("vkr-frame: "):
        sweep.fail(ui, action, "exit", "exit %d without a reason on its last line: %r" % (f.code, f.last), f)
    # (1) told: what was not done reached the user in some word.
    told = f.texts_told()
    not_read_fields = [k for k, it in f.items.items() if it["text"] == "Not read"]
    if f.not_done and not told and not not_read_fields:
        sweep.fail(ui, action, "told", "the user was told nothing of %s" % f.not_done[0], f)
    # (3) nothing unasked: the transmitter holds nothing the healthy run did not give it.
    hd, fd, bd = device_lines(h.device), device_lines(f.device), device_lines(f.device_before)
    for key in set(fd) | set(bd):
        if fd.get(key) == bd.get(key) or key in COUNTERS:
            continue
        if fd.get(key) != hd.get(key):
            sweep.fail(ui, action, "unasked", "the transmitter's %s became %s (healthy: %s)" % (
                key, fd.get(key), hd.get(key)), f)
    # A write the failure stopped is told as a write (or a procedure) that did not happen. An entry
    # the failure left greyed took no typing: the host stopped there, and said so.
    refused_typing = "has no item" in f.last and "that takes" in f.last
    lost = [k for k in set(hd) | set(bd) if k not in COUNTERS and hd.get(k) != bd.get(k) and fd.get(k) != hd.get(k)]
    if refused_typing:
        lost = []
    if lost and not any(w in t for t in told for w in NOT_DONE_WORDS):
        sweep.fail(ui, action, "told as write", "the transmitter did not take %s and nothing says it was not "
                   "written (told: %s)" % (", ".join(sorted(lost)), " / ".join(told) or "nothing"), f)
    # (2) nothing invented: each field shows what the healthy run showed, the user's entry or a
    # placeholder; no "Loading..." once the run is quiet; no mark nobody set.
    for key, it in f.items.items():
        text = it["text"]
        if text in LOADING:
            sweep.fail(ui, action, "loading", "item %d shows %r after the run" % (key[1], text), f)
            continue
        healthy = h.items.get(key)
        if healthy is None or it["cls"] not in ("Edit", "ComboBox"):
            continue
        # The value the device gave before a write that failed is no invention either.
        before = look.items.get(key, {}).get("text") if look else None
        allowed = {healthy["text"], before} | PLACEHOLDERS
        # A field may say why it holds no value.
        if any(w in text for w in ("could not be read", "Not read", "Not connected")):
            continue
        if key[1] in typed:
            allowed.add(typed[key[1]])
        if key[0] == 0 and text not in allowed and text.strip() not in allowed:
            sweep.fail(ui, action, "invented", "item %d shows %r (healthy: %r)" % (key[1], text, healthy["text"]), f)
        if it["mark"] in (MARK_CHANGED, MARK_INVALID) and key[1] not in typed:
            sweep.fail(ui, action, "mark", "item %d has a %s mark nobody set" % (
                key[1], "changed" if it["mark"] == MARK_CHANGED else "invalid"), f)
    # No result of a procedure that failed: no control opens after a failure was told in a step.
    told_failure = False
    for line in f.journal:
        if line.startswith("step "):
            told_failure = False
        elif line.startswith("message") and " buttonsOk " in line and " failed" in line:
            told_failure = True
        elif line.startswith("open user interface") and told_failure:
            sweep.fail(ui, action, "invented", "a control opened after its procedure was told as failed", f)
    # (4) the data set: the project follows the transmitter.
    if f.device == f.device_before and f.project != f.project_before and not applies_data_set:
        sweep.fail(ui, action, "data set", "the project was saved while the transmitter took nothing", f)
    if f.compare and "equals the device" not in f.compare and not applies_data_set:
        sweep.fail(ui, action, "data set", "compare after the run: %r" % f.compare, f)
    if ("the device written" in f.applied) != (f.device != f.device_before):
        sweep.fail(ui, action, "applied", "says %r while the device file %s" % (
            f.applied, "changed" if f.device != f.device_before else "stayed"), f)
    if ("the data set saved" in f.applied) != (f.project != f.project_before):
        sweep.fail(ui, action, "applied", "says %r while the project %s" % (
            f.applied, "changed" if f.project != f.project_before else "stayed"), f)
    # (5) nothing lost: an entry the transmitter did not take keeps what was typed, while it is shown.
    for iid, value in typed.items():
        fk = f.items.get((0, iid))
        if fk is None or hd == bd:
            continue
        if lost and not same_entry(fk["text"], value) and fk["text"] != h.items.get((0, iid), {}).get("text"):
            sweep.fail(ui, action, "lost", "item %d shows %r, the user typed %r" % (iid, fk["text"], value), f)
    judge_told_once(sweep, ui, action, f)



def judge_offline(sweep, ui, online, off):
    action = "look offline"
    if off.requests:
        sweep.fail(ui, action, "offline", "requests were sent: %s" % " ".join(off.requests), off)
    for key, it in off.items.items():
        if it["text"] in LOADING:
            sweep.fail(ui, action, "loading", "item %d shows %r offline" % (key[1], it["text"]), off)
        on = online.items.get(key)
        if on is None or it["cls"] not in ("Edit", "ComboBox"):
            continue
        if it["text"] != on["text"] and it["text"].strip() not in PLACEHOLDERS:
            sweep.fail(ui, action, "offline", "item %d shows %r offline (online %r): a value the device never gave" % (
                key[1], it["text"], on["text"]), off)
        if it["mark"] in (MARK_CHANGED, MARK_INVALID):
            sweep.fail(ui, action, "mark", "item %d has a mark nobody set offline" % key[1], off)


# ---- Driving -----------------------------------------------------------------------------------

def user_interfaces(sweep):
    """(function, page, name, parts) of every user interface: the functions with one, each page of
    a page tree. `parts`: how many shards share its cases, by how much a user can do in it."""
    uis = []
    for function in sweep.functions():
        probe = sweep.run(function, 999, [], [])
        pages = [None] if not probe.pages else list(range(probe.pages))
        for p in pages:
            look = probe if p is None else sweep.run(function, p, [], [])
            buttons, entries = actionable(look.items, 0)
            name = "f%d" % function if p is None else "f%dp%d" % (function, p)
            uis.append((function, p, name, max(1, round(len(entries) / 6)), 1 + len(entries) + len(buttons)))
    return uis


def shard_parts(uis, shard, shards):
    """The parts of user interfaces that fall to this shard, heaviest first, each to the shard with
    the least so far."""
    parts = sorted(((ui, k) for ui in uis for k in range(ui[3])), key=lambda x: -x[0][4] / x[0][3])
    load = [0] * shards
    mine = []
    for ui, k in parts:
        target = load.index(min(load))
        load[target] += ui[4] / ui[3]
        if target == shard:
            mine.append((ui, k))
    return mine


def sweep_ui(sweep, pool, function, page, name, args, part=0, parts=1):
    ui = UserInterface(sweep, function, page, name)
    applies = function == 5  # the offline parameter control applies the data set at OK/Apply
    if args.offline:
        online = ui.run([], [])
        ui.offline = True
        actions = ui.actions()
        judge_offline(sweep, name, online, ui.look)
        # Offline, an entry only the device can take takes no typing: the page frame writes only
        # to the device.
        if function == 1:
            _, entries = actionable(ui.look.items, 0)
            for e in entries:
                sweep.fail(name, "type %d offline" % e, "offline", "item %d takes typing offline" % e, ui.look)
        for steps, answers, h, _ in actions:
            action = describe(steps, answers) + " offline"
            if h.requests:
                sweep.fail(name, action, "offline", "requests were sent: %s" % " ".join(h.requests), h)
            if "the device written" in h.applied:
                sweep.fail(name, action, "offline", "says the device was written", h)
            if h.project != h.project_before and not applies:
                sweep.fail(name, action, "data set", "the project changed offline", h)
            for key, it in h.items.items():
                if it["text"] in LOADING:
                    sweep.fail(name, action, "loading", "item %d shows %r offline" % (key[1], it["text"]), h)
                if it["mark"] in (MARK_CHANGED, MARK_INVALID) and key[1] not in {s[1] for s in steps if s[0] == "type"}:
                    sweep.fail(name, action, "mark", "item %d has a mark nobody set offline" % key[1], h)
            if h.code != 0 and not h.last.startswith("vkr-frame: "):
                sweep.fail(name, action, "exit", "exit %d without a reason: %r" % (h.code, h.last), h)
        return len(actions), 0
    actions = ui.actions()
    for steps, answers, h, _ in actions:
        h.applies_data_set = applies
        judge_healthy(sweep, name, steps, answers, h)
    if args.wire:
        def wire_case(case):
            steps, answers, h, _ = case
            w = ui.run(steps, answers, wire=True)
            judge_wire(sweep, name, steps, answers, h, w)
        list(pool.map(wire_case, actions))
        return len(actions), 0
    look_requests = ui.look.requests
    cases = []
    for steps, answers, h, full in actions:
        if args.writes_only and not (full and any(st[0] == "type" for st in steps)):
            continue
        own = h.requests
        if not full or args.writes_only:
            common = 0
            while common < min(len(own), len(look_requests)) and own[common] == look_requests[common]:
                common += 1
            own = own[common:]
        for request in own:
            for kind in KINDS:
                cases.append((steps, answers, h, "%s=%s" % (request, kind)))

    cases = cases[part::parts]

    def fault_case(case):
        steps, answers, h, fault = case
        f = ui.run(steps, answers, fault=fault)
        judge_fault(sweep, name, steps, answers, h, f, fault, applies, ui.look)
    list(pool.map(fault_case, cases))
    return len(actions), len(cases)


def judge_wire(sweep, ui, steps, answers, h, w):
    action = describe(steps, answers) + " at the wire's speed"
    if w.device != h.device:
        sweep.fail(ui, action, "wire", "the transmitter holds other values than at no delay", w)
    if w.project != h.project:
        sweep.fail(ui, action, "wire", "the project differs from the run at no delay", w)
    if w.code != h.code:
        sweep.fail(ui, action, "wire", "exit %d, at no delay %d" % (w.code, h.code), w)
    for key, it in h.items.items():
        other = w.items.get(key)
        if it["cls"] in ("Edit", "ComboBox") and (other is None or other["text"] != it["text"]):
            sweep.fail(ui, action, "wire", "item %d shows %r, at no delay %r" % (
                key[1], other and other["text"], it["text"]), w)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("host")
    ap.add_argument("--shard", default="0/1")
    ap.add_argument("--only")
    ap.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    ap.add_argument("--wire", action="store_true", help="the healthy runs again at the wire's speed")
    ap.add_argument("--offline", action="store_true", help="every user interface offline")
    ap.add_argument("--list", action="store_true", help="list the user interfaces and their actions only")
    ap.add_argument("--units", choices=["mm", "in", "ft", "cm"], help="a transmitter in these units")
    ap.add_argument("--writes-only", action="store_true",
                    help="fail only the requests an entry's write sends, not the reads every action shares")
    args = ap.parse_args()
    shard, shards = (int(x) for x in args.shard.split("/"))
    sweep = Sweep(args.host, args.jobs, args.wire)
    try:
        sweep.setup(args.units)
        uis = [u for u in user_interfaces(sweep) if not args.only or u[2] == args.only]
        if args.offline or args.wire or args.writes_only:
            uis = [(f, p, n, 1, w) for f, p, n, _, w in uis]
        mine = shard_parts(uis, shard, shards)
        if args.list:
            for (function, page, name, _, _), _ in mine:
                ui = UserInterface(sweep, function, page, name)
                for steps, answers, h, _ in ui.actions():
                    print("%s: %s -> %s" % (name, describe(steps, answers), " ".join(h.requests) or "no request"))
            return 0
        total_actions = total_cases = 0
        with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
            for (function, page, name, parts, _), part in mine:
                a, c = sweep_ui(sweep, pool, function, page, name, args, part, parts)
                total_actions += a
                total_cases += c
                print("%s%s: %d actions, %d failing-request cases" % (
                    name, " (part %d of %d)" % (part + 1, parts) if parts > 1 else "", a, c), flush=True)
        print("sweep %s: %d user interfaces, %d actions, %d cases, %d runs of the host, %d faults found" % (
            args.shard, len(mine), total_actions, total_cases, sweep.runs, len(sweep.failures)))
        for line in sorted(set(sweep.failures)):
            print("FAULT " + line)
        if EXCEPTIONS:
            print("exceptions listed: %d" % len(EXCEPTIONS))
        return 1 if sweep.failures else 0
    finally:
        sweep.close()


if __name__ == "__main__":
    sys.exit(main())
