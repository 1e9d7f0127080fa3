#!/usr/bin/env python3
"""The honesty sweep: every user interface of the DTM, every action a user can take in it, in
every state of the transmitter, with each request an action sends failing in turn, judged by the
transmitter.

States: the default transmitter; a project older than its transmitter (every setting differs);
transmitters in mm, inches, feet and cm; multidrop (loop current mode off); more status available
with the level outside the sensor's limits; every status bit one at a time; write protection; a
transmitter that answers every write with a warning; offline; and the wire's speed. The default
state sweeps every user interface with every request failing in every way; the others sweep the
user interfaces their difference reaches (STATES), the failing requests only in mm, the status
state and the older project.

The cases come from the user interfaces themselves: the functions the host lists (`ui --list`),
the pages of the page tree, and the items each shows (`ui --dump`). Actions: a look; each enabled
button; each entry typed to another valid value and sent (OK, Send, Enter; Apply once); two entries
together; what a click reveals or enables in the same window (the Digitize distance, the loop test's
own level, the trim's meter reading and its second Enter) and every control a click opens, followed
the same way; each question answered with each of its buttons in every action that asks it; the
user interface's time let pass (its cyclic reads); every page of the page tree in turn. Each entry
sent is typed again with what its field cannot hold (characters outside its character set, one
character more than it holds, numbers that are none: "1,5", "1e39", "12abc") and at, just inside
and just beyond each of its limits (those the user interface tells, else those of the byte that
holds it), in the mm and in states too for distances; each choice with each of its values. A page
change is a step: each page shown again after a read of it failed, an entry kept pending across a
change and sent after it, and a distance typed, its unit changed on another page, then sent. Each action runs on a healthy transmitter,
which lists its requests; then each request the action owns fails in each way (`--fault 35#1=busy`;
a read every action shares fails once, in the first action that sends it; a read made again, as
after a Send or at a timed read's later occurrence, is a request of its own). An entry typed after
its own value could not be read has that read fail at every occurrence up to the Send.

The verdict (judge.py) holds every device field, unit label and lamp against the transmitter's
memory (the device file, decoded with transmitter.ITEMS), what was told against what failed, the
transmitter's memory against what was typed and agreed, and the project against `compare`.

Usage: sweep.py HOST [--state NAME] [--shard K/N] [--only UI] [--jobs N] [--list] [--self-test]
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
import time
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import expect as ex  # noqa: E402
import judge  # noqa: E402
import transmitter as tx  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
KINDS = ["silent", "busy", "refused", "lost", "linkgone"]
# How a question is answered so that it acts, by its buttons.
ACTING = {"buttonsOkCancel": "OK", "buttonsYesNo": "Yes", "buttonsYesNoCancel": "Yes",
          "buttonsRetryCancel": "Retry", "buttonsAbortRetryIgnore": "Retry"}
BUTTONS = {"buttonsOkCancel": ["OK", "Cancel"], "buttonsYesNo": ["Yes", "No"],
           "buttonsYesNoCancel": ["Yes", "No", "Cancel"], "buttonsRetryCancel": ["Retry", "Cancel"],
           "buttonsAbortRetryIgnore": ["Abort", "Retry", "Ignore"]}
COMMIT_TEXTS = ("Send", "OK", "Enter")
QUESTION = re.compile(r"^message (?:box )?(?:\S+ )?buttons(?!Ok )\w+ ")
MAX_ACTIONS = 64   # per user interface
WAIT_MS = 11000    # the Process page's two cyclic rounds, the frame's distance reading once
STATUS_BYTES = "06000100"
# The loop current's commands: a level fixed, the trims. Each fails once a request of the control.
LOOP_COMMANDS = (40, 45, 46)
STATUS_READ = 48


# ---- A run of the host ---------------------------------------------------------------------------

class Run:
    def __init__(self):
        self.args, self.code, self.out, self.err = [], 0, "", ""
        self.items = {}        # (control, id) -> item, as the run ended
        self.pages = {}        # page -> {(control, id): item} (--page all)
        self.journal = []
        self.requests = []
        self.not_done = []     # ("35#1" or "3", reason)
        self.applied = ""
        self.page_count = None
        self.device_before = self.device = ""
        self.project_before = self.project = b""
        self.compare = None    # the parameter ids compare names; None when it failed
        self.compare_text = ""

    @property
    def last(self):
        # Lines end at newlines only: a typed text may hold U+0085 or U+2028, which splitlines
        # would take for line ends.
        lines = (self.err.strip() or self.out.strip()).split("\n")
        return lines[-1] if lines else ""

    def questions(self):
        """The questions of the work, in order: (buttons, answer)."""
        out = []
        for line in self.journal:
            m = re.match(r"^message (?:box )?(?:\S+ )?(buttons\w+) .* -> button(\w+)$", line)
            if m and m.group(1) != "buttonsOk":
                out.append((m.group(1), m.group(2)))
        return out


def parse(run, out):
    run.out = out
    item, page = None, None
    for line in out.split("\n"):
        m = re.match(r'^  shown (\d+) (-?\d+) (\S+) (\S+) "(.*)"$', line)
        if m:
            flags = m.group(4).split(",")
            values = dict(f.split("=", 1) for f in flags if "=" in f)
            item = {"cls": m.group(3), "flags": set(f for f in flags if "=" not in f),
                    "mark": int(values["mark"]) if "mark" in values else None,
                    "image": int(values["image"]) if "image" in values else None,
                    "text": m.group(5), "entries": []}
            key = (int(m.group(1)), int(m.group(2)))
            run.items[key] = item
            if page is not None:
                run.pages.setdefault(page, {})[key] = item
            continue
        m = re.match(r'^  page (\d+) ".*" (?:rendered to |no picture)', line)
        if m:
            page = int(m.group(1))
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
        elif line.startswith("  not done: "):
            req, _, why = line[len("  not done: "):].partition(": ")
            run.not_done.append((req, why))
        elif line.startswith("  applied: "):
            run.applied = line[len("  applied: "):]
        m = re.match(r"^  the user interface has (\d+) pages? in its tree$", line)
        if m:
            run.page_count = int(m.group(1))


# ---- States --------------------------------------------------------------------------------------

def edit_device(text, changes):
    out = []
    for line in text.splitlines(True):
        key, _, value = line.rstrip("\r\n").partition(" ")
        end = line[len(line.rstrip("\r\n")):]
        if key in changes:
            value = changes[key](value) if callable(changes[key]) else changes[key]
        out.append(key + " " + value + end)
    return "".join(out)


def scaled(factor):
    return lambda v: tx.f32_hex(struct.unpack(">f", bytes.fromhex(v))[0] * factor)


def scaled_echo(factor):
    def f(v):
        data = bytearray(bytes.fromhex(v))
        for at in (2, 6):
            data[at:at + 4] = struct.pack(">f", struct.unpack(">f", data[at:at + 4])[0] * factor)
        return data.hex().upper()
    return f


def with_word(address, word):
    def f(v):
        data = bytes.fromhex(v)
        words = {int.from_bytes(data[i:i + 2], "big"): data[i + 2:i + 4] for i in range(0, len(data), 4)}
        words[address] = word.to_bytes(2, "big")
        return b"".join(a.to_bytes(2, "big") + words[a] for a in sorted(words)).hex().upper()
    return f


OLDER = {  # every setting the pages show differs from what the project holds
    "damping": "3FC00000", "upperRange": "3F800000", "lowerRange": "40C00000",
    "message": tx.pack_ascii("OLDER TRANSMITTER", 24).hex().upper(),
    "tagDescriptorDate": (tx.pack_ascii("OLD-7", 6) + tx.pack_ascii("OLDER TANK", 12) + bytes([3, 4, 125])).hex().upper(),
    "finalAssembly": "000063", "longTag": b"OLDER LONG TAG".ljust(32, b"\0").hex().upper(),
    "displaySettings": "04020302050000000000", "echoSettings": "64013ECCCCCD3DCCCCCD",
    "memory": with_word(0x007C, 0x4000), "loopCurrentMode": "00",
}
MM = {"pvUnit": "31", "rangeUnit": "31", "upperRange": scaled(1000), "lowerRange": scaled(1000),
      "limitsUnit": "31", "upperSensorLimit": scaled(1000), "lowerSensorLimit": scaled(1000),
      "minimumSpan": scaled(1000), "echoSettings": scaled_echo(1000)}
INCH = 1 / 0.0254
IN = {"pvUnit": "2F", "rangeUnit": "2F", "upperRange": scaled(INCH), "lowerRange": scaled(INCH),
      "echoSettings": scaled_echo(INCH)}


FEET = 1 / 0.3048
FT = {"pvUnit": "2C", "rangeUnit": "2C", "upperRange": scaled(FEET), "lowerRange": scaled(FEET),
      "limitsUnit": "2C", "upperSensorLimit": scaled(FEET), "lowerSensorLimit": scaled(FEET),
      "minimumSpan": scaled(FEET), "echoSettings": scaled_echo(FEET)}
CM = {"pvUnit": "30", "rangeUnit": "30", "upperRange": scaled(100), "lowerRange": scaled(100),
      "echoSettings": scaled_echo(100)}
# The user interfaces that show a distance: the states in other units sweep only them.
DISTANCE_UIS = ("f1p0", "f1p1", "f1p3", "f1p4", "f1p9", "f5")


class State:
    def __init__(self, name, changes=None, older=False, args=(), offline=False, wire=False, rotate=True,
                 warned=False, status="", only=None, bits=False, healthy=False):
        self.name, self.changes, self.older, self.args = name, changes, older, list(args)
        self.offline, self.wire, self.rotate, self.warned, self.status = offline, wire, rotate, warned, status
        # only: the user interfaces swept in this state; bits: every status bit one at a time.
        self.only, self.bits = only, bits
        # healthy: the actions on a healthy transmitter only (the failing requests' roads are those of
        # another state).
        self.healthy = healthy


# The other states sweep the user interfaces their difference reaches, and (but for mm, the
# failing requests' roads in another unit) on a healthy transmitter: the roads of each request
# failing are the default state's, swept there in every way.
# The user interfaces that show the device's status or the level against its limits.
STATUS_UIS = ("f1p0", "f1p1", "f1p5", "f1p7", "f2", "f8", "all")
# The user interfaces that show or set the loop current.
LOOP_UIS = ("f1p0", "f1p1", "f1p6", "f4", "f7")
# The user interfaces that show the project's data set or write it whole.
PROJECT_UIS = ("f1p3", "f3", "f5", "all")
# The user interfaces that write to the device: the pages with a Send, the loop test, the offline
# parameter control's download and the trim.
WRITE_UIS = ("f1p0", "f1p1", "f1p3", "f1p4", "f1p6", "f4", "f5", "f7")

STATES = {
    "default": State("default", rotate=False),
    "older": State("older", OLDER, older=True, only=PROJECT_UIS),
    "mm": State("mm", MM, only=DISTANCE_UIS),
    "in": State("in", IN, only=DISTANCE_UIS, healthy=True),
    "feet": State("feet", FT, only=DISTANCE_UIS, healthy=True),
    "cm": State("cm", CM, only=DISTANCE_UIS, healthy=True),
    "bits": State("bits", only=(), bits=True),
    "multidrop": State("multidrop", {"loopCurrentMode": "00"}, only=LOOP_UIS, healthy=True),
    "status": State("status", {"lowerSensorLimit": "40000000"}, args=["--additional-status", STATUS_BYTES],
                    status=STATUS_BYTES, only=STATUS_UIS),
    "protect": State("protect", {"writeProtect": "01"}, only=WRITE_UIS, healthy=True),
    "warned": State("warned", args=["--fault", "writes=warned"], warned=True, only=WRITE_UIS, healthy=True),
    "offline": State("offline", offline=True),
    "wire": State("wire", wire=True),
}


# ---- The sweep -----------------------------------------------------------------------------------

class Sweep:
    def __init__(self, host, state, jobs):
        self.host, self.state, self.jobs = host, state, jobs
        self.root = tempfile.mkdtemp(prefix="vkr-sweep-")
        self.env = dict(os.environ, VKR_REGISTRY=os.path.join(self.root, "registry.reg"),
                        VKR_DRIVE_ROOT=os.path.join(self.root, "drives"))
        self.lock = threading.Lock()
        self.slots = threading.Semaphore(max(1, jobs))
        self.counter = 0
        self.runs = 0
        self.runs_of = {}
        self.failures = {}   # line -> the judge's source line that found it
        self.cases = 0

    def close(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def call(self, args, timeout=600):
        # At most `jobs` runs of the host at once, whichever user interface or case asks.
        with self.slots:
            p = subprocess.run([self.host] + args, env=self.env, capture_output=True, text=True, timeout=timeout)
        return p.returncode, p.stdout, p.stderr

    def folder(self, name):
        return os.path.join(self.root, "drives", "c", name)

    def setup(self):
        code, out, err = self.call(["register"])
        if code != 0:
            raise SystemExit("register failed: " + out + err)
        code, out, err = self.call(["upload", "--project", "C:\\G\\p.vkr"])
        if code != 0:
            raise SystemExit("upload failed: " + out + err)
        device = os.path.join(self.folder("G"), "p.vkr.device")
        with open(device) as f:
            uploaded = f.read()
        if self.state.changes:
            with open(device) as f:
                text = f.read()
            with open(device, "w", newline="") as f:
                f.write(edit_device(text, self.state.changes))
            # The project follows the transmitter, unless it is to be the older one.
            if not self.state.older:
                code, out, err = self.call(["upload", "--project", "C:\\G\\p.vkr"])
                if code != 0:
                    raise SystemExit("upload failed: " + out + err)
        with open(os.path.join(self.folder("G"), "p.vkr"), "rb") as f:
            self.golden_project = f.read()
        with open(device) as f:
            self.golden_device = f.read()
        # What the data set holds, as a transmitter would (the offline control shows it).
        self.project_device = uploaded if self.state.older else self.golden_device
        self.baseline = self.compare("G")[0]
        # The labels every user interface shows beside its fields: names a sentence may give.
        self.labels = set()
        for function in self.functions():
            r = self.run(UI(function, None), [], page="all" if function == 1 else None)
            self.labels |= judge.labels_shown(r)

    def compare(self, name):
        code, out, err = self.call(["compare", "--project", "C:\\%s\\p.vkr" % name])
        text = [l for l in (out + err).splitlines() if not re.match(r"^compare: \d+%$", l)]
        named = set(int(m) for m in re.findall(r'^Compare: ".*" \((\d+)\) differs', "\n".join(text), re.M))
        if code != 0 and not named:
            return None, " / ".join(text)
        return named, " / ".join(text)

    def functions(self):
        code, out, err = self.call(["ui", "--list", "--project", "C:\\G\\p.vkr"])
        return [int(m.group(1)) for m in re.finditer(r"^\s+(\d+)\s", out, re.M)]

    def run(self, ui, steps, answers=(), fault=None, page=None, wire=False, extra=()):
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
        if not self.state.offline:
            with open(device, "w", newline="") as f:
                f.write(self.golden_device)
        args = ["ui", str(ui.function), "--project", "C:\\%s\\p.vkr" % name, "--no-picture", "--dump", "--journal"] + self.state.args + list(extra)
        page = ui.page if page is None else page
        if page is not None:
            args += ["--page", str(page)]
        if self.state.offline:
            args.append("--offline")
        if wire:
            args += ["--wire-delay", "hart"]
        for f in fault.split(",") if fault else []:
            args += ["--fault", f]
        # Digitize pauses ten seconds of the user interface's time: on the fake clock they pass at
        # once (the wire's time is the real clock's, so not at its speed).
        if not wire and ("click", 546) in steps and not any(s[0] == "wait" for s in steps):
            args += ["--wait", "0"]
        for s in steps:
            if s[0] == "click":
                args += ["--click", str(s[1])]
            elif s[0] == "type":
                args += ["--type", "%d=%s" % (s[1], s[2])]
            elif s[0] == "wait":
                args += ["--wait", str(s[1])]
            elif s[0] == "now":
                args.append("--now")
            elif s[0] == "page":
                args += ["--page", str(s[1])]
        for a in answers:
            args += ["--answer", a]
        r = Run()
        r.args = args
        r.device_before = "" if self.state.offline else self.golden_device
        r.project_before = self.golden_project
        try:
            r.code, out, r.err = self.call(args)
        except subprocess.TimeoutExpired:
            r.code, out, r.err = -9, "", "vkr-frame: the sweep stopped the run after ten minutes"
        parse(r, out)
        if os.path.exists(device):
            with open(device) as f:
                r.device = f.read()
        if os.path.exists(project):
            with open(project, "rb") as f:
                r.project = f.read()
        if not self.state.offline:
            if r.project == self.golden_project and r.device == self.golden_device:
                r.compare, r.compare_text = self.baseline, "as before"
            else:
                r.compare, r.compare_text = self.compare(name)
        shutil.rmtree(folder, ignore_errors=True)
        with self.lock:
            self.runs += 1
            self.runs_of[ui.name] = self.runs_of.get(ui.name, 0) + 1
        return r

    def fail(self, key, example):
        with self.lock:
            found = self.failures.setdefault(key, [example, 0])
            found[1] += 1


class UI:
    def __init__(self, function, page):
        self.function, self.page = function, page
        self.name = "f%d" % function if page is None else "f%dp%d" % (function, page)


class Action:
    def __init__(self, steps, answers, run, what, own=True):
        self.steps, self.answers, self.run, self.what, self.own = list(steps), list(answers), run, what, own
        self.variant = False
        # Judged on a healthy transmitter only: the writes it makes fail in the actions that
        # found them (the limits and characters typed, each value of a choice).
        self.healthy_only = False
        self.limit = None      # (item, the text typed, its item table entry) of a limit typed
        # The unit each typed number was seen in, where a step between typing and sending
        # changed the unit elsewhere: item -> unit code.
        self.units_seen = {}

    def describe(self):
        return describe(self.steps, self.answers)


def describe(steps, answers):
    words = []
    now = False
    for s in steps:
        if s[0] == "now":
            now = True
            continue
        w = {"click": lambda: "click %d" % s[1], "type": lambda: "type %d=%s" % (s[1], s[2]),
             "wait": lambda: "wait %d" % s[1], "page": lambda: "page %d" % s[1]}[s[0]]()
        words.append(("now " if now else "") + w)
        now = False
    if answers:
        words.append("answers " + ",".join(answers))
    return "; ".join(words) if words else "look"


# ---- Finding the actions -------------------------------------------------------------------------

def writable(it):
    if "enabled" not in it["flags"]:
        return False
    if it["cls"] == "Edit":
        return "readonly" not in it["flags"]
    return it["cls"] in ("ComboBox", "ListBox") and bool([e for e in it["entries"] if e not in judge.LOADING])


def clickable(it):
    return it["cls"] == "Button" and "enabled" in it["flags"] and "group" not in it["flags"]


def commits_of(items, control):
    """The buttons that send what was typed in a control: Send in a page frame, else OK, Enter."""
    found = [i for (c, i), it in sorted(items.items()) if c == control and clickable(it) and it["text"] in COMMIT_TEXTS]
    send = [i for i in found if items[(control, i)]["text"] == "Send"]
    return send or found


def values_for(it, ui_items, item_id):
    """Values to type into an entry, other than what it shows, the likeliest valid first."""
    text = it["text"].strip()
    if it["cls"] == "ListBox":
        return [e for e in it["entries"] if e not in judge.LOADING]
    if it["cls"] == "ComboBox":
        return [e for e in it["entries"] if e != it["text"] and e not in judge.LOADING][:1]
    known = ui_items.get(item_id)
    if known is not None and known.kind in ("packed", "latin"):
        return ["SWEEP"]
    try:
        value = float(text)
    except ValueError:
        return ["SWEEP"] if text and not text.replace(".", "").isdigit() else ["1"]
    decimals = len(text.split(".")[1]) if "." in text else 0
    fmt = "%%.%df" % decimals
    step = 10 ** -decimals if decimals else 1
    out = []
    for c in ([value + 0.5, value * 0.9, value - step] if decimals else [value + 1, value - 1]):
        t = fmt % c
        if t != text and t not in out and not t.startswith("-"):
            out.append(t)
    return out


class Explorer:
    """Finds the actions of one user interface in the sweep's state, each with its healthy run."""

    def __init__(self, sweep, ui):
        self.sweep, self.ui = sweep, ui
        self.items = tx.items_of(ui.name)
        self.actions = []
        self.tried = set()     # (steps, answers) of the answers' variants run
        self.answered = set()  # at the wire's speed: the questions answered each way

    def full(self):
        # The answers' variants come on top: every action asking a question has each answered
        # each way, however many actions there are.
        return sum(1 for a in self.actions if not a.variant) >= MAX_ACTIONS

    def variants(self, steps, answers, r, what):
        """The run again with each question answered with each of its other buttons, in every
        action that asks it (the questions after it answered so that they act); returns the new
        actions."""
        found = []
        texts = [re.sub(r" -> button\w+$", "", line) for line in r.journal if QUESTION.match(line)]
        for i, (buttons, _) in enumerate(r.questions()):
            # At the wire's speed each question once: its answers take the same road at any speed.
            # So in function 5 in a state other than the default one: its questions (store, download)
            # are the same whichever entry was typed, and the default state answers them each way
            # after every entry.
            if self.sweep.state.wire or (self.sweep.state.name != "default" and self.ui.name == "f5"):
                text = texts[i] if i < len(texts) else buttons
                if text in self.answered:
                    continue
                self.answered.add(text)
            for b in BUTTONS.get(buttons, []):
                if b == ACTING.get(buttons) or i >= len(answers):
                    continue
                if (tuple(steps), tuple(answers[:i] + [b])) in self.tried:
                    continue
                self.tried.add((tuple(steps), tuple(answers[:i] + [b])))
                variant, rr = self.settle(steps, answers[:i] + [b])
                if self.known(steps, variant):
                    continue
                a = Action(steps, variant, rr, what + " answered " + b)
                a.variant = True
                self.actions.append(a)
                found.append(a)
        return found

    def settle(self, steps, answers=()):
        """Runs the steps, answering each question with the button that acts, until no new question
        comes."""
        answers = list(answers)
        r = self.sweep.run(self.ui, steps, answers)
        for _ in range(6):
            asked = r.questions()
            if len(asked) <= len(answers):
                break
            answers = answers + [ACTING.get(b, "OK") for b, _ in asked[len(answers):]]
            r = self.sweep.run(self.ui, steps, answers)
        # Only the answers a question came for.
        used = len(r.questions())
        return answers[:used] if used < len(answers) and "not used" in r.out else answers, r

    def known(self, steps, answers):
        """Whether an action of these steps and answers is there already (an action reached from
        an answer's variant, as from its action, asks the same)."""
        return any(a.steps == list(steps) and a.answers == list(answers) for a in self.actions)

    def add(self, steps, what, base_answers=()):
        if self.full():
            return None
        answers, r = self.settle(steps, base_answers)
        if self.known(steps, answers):
            return None
        a = Action(steps, answers, r, what)
        self.actions.append(a)
        a.variants = self.variants(steps, answers, r, what)
        return a

    def typed_value(self, steps, control, item_id, it, commit, base_answers=()):
        """An entry typed to a value the user interface takes, then committed: the first value the
        transmitter or the data set took, else the last tried."""
        chosen = None
        for value in values_for(it, self.items, item_id):
            s = steps + [("type", item_id, value)] + ([("click", commit)] if commit else [])
            answers, r = self.settle(s, base_answers)
            chosen = (s, answers, r)
            refused = any(re.search(r"not valid|must lie|not a number", t) for _, t in judge.notices(r))
            if r.device != r.device_before or r.project != r.project_before or (r.code == 0 and not refused):
                break
        return chosen

    def explore(self):
        look = self.add([], "look")
        self.look = look.run
        frontier = [([], look.run, {}, [])]
        for depth in range(3):
            nxt = []
            for prefix, run, before, answers in frontier:
                for steps, what, kind in self.next_steps(prefix, run, before, depth):
                    if self.full():
                        break
                    if kind == "typed":
                        found = self.typed_value(prefix, *steps, base_answers=answers)
                        if not found:
                            continue
                        s, ans, r = found
                        a = Action(s, ans, r, what)
                        self.actions.append(a)
                        a.variants = self.variants(s, ans, r, what)
                    else:
                        a = self.add(steps, what, answers)
                    # What it revealed, answered either way (the trim's meter reading comes after No).
                    for b in ([a] + a.variants) if a else []:
                        if depth < 2 and revealed(run.items, b.run.items):
                            nxt.append((b.steps, b.run, run.items, b.answers))
            frontier = nxt
        return self.actions

    def next_steps(self, prefix, run, before, depth):
        """The steps after `prefix` that reach what `prefix` revealed: (args, what, kind)."""
        out = []
        items = run.items
        new = {k: it for k, it in items.items() if is_new(k, it, before)}
        controls = sorted({c for c, _ in new})
        for c in controls:
            commits = commits_of(items, c)
            new_buttons = [i for (cc, i), it in sorted(new.items()) if cc == c and clickable(it)]
            new_entries = [i for (cc, i), it in sorted(new.items()) if cc == c and writable(it)]
            # An entry revealed in a window that was there before, with a button of its own, is sent
            # by that button (Run Digitize); a control just opened takes its own commit button.
            existed = any(cc == c for cc, _ in before)
            own_commit = [b for b in new_buttons if b not in commits] if depth > 0 and existed else []
            commit = (own_commit or commits or [None])[0]
            for e in new_entries:
                it = items[(c, e)]
                if it["cls"] == "ListBox":
                    # Each level of a list, then its button.
                    for v in values_for(it, self.items, e):
                        out.append((prefix + [("type", e, v)] + ([("click", commit)] if commit else []),
                                    "choose %d=%s" % (e, v), "steps"))
                    continue
                out.append(((c, e, it, commit), "type %d" % e, "typed"))
                # A level at the sensor's own edge, in the unit shown, with every digit.
                edge = self.edge_value(items, c, e)
                if edge and commit:
                    out.append((prefix + [("type", e, edge), ("click", commit)], "type %d at the edge" % e, "steps"))
            if depth == 0 and len(new_entries) >= 2 and commit:
                two = self.two_entries(items, c, new_entries)
                if two:
                    out.append((prefix + two + [("click", commit)], "two entries", "steps"))
            if depth == 0 and new_entries and (c, 102) in items and c == 0:
                e = new_entries[0]
                v = values_for(items[(c, e)], self.items, e)
                if v:
                    out.append((prefix + [("type", e, v[0]), ("click", 102)], "type %d, Apply" % e, "steps"))
            for b in new_buttons:
                if b == 289 and depth > 0:
                    continue
                out.append((prefix + [("click", b)], "click %d" % b, "steps"))
        return out

    def edge_value(self, items, c, e):
        spec = self.items.get(e)
        if spec is None or spec.line not in ("upperRange", "lowerRange") or not spec.label:
            return None
        unit = tx.UNIT_OF_TEXT.get(items.get((c, spec.label), {}).get("text", "").strip())
        dev = tx.lines_of(self.sweep.golden_device)
        limit = tx.f32(tx.raw(dev, "upperSensorLimit" if spec.line == "upperRange" else "lowerSensorLimit"))
        if unit is None or limit is None:
            return None
        return "%.9g" % tx.convert(limit, tx.u8(dev, "limitsUnit"), unit)

    def two_entries(self, items, c, entries):
        picked, commands = [], set()
        for e in entries:
            it = items[(c, e)]
            known = self.items.get(e)
            command = known.writes if known else e
            if command in commands or it["cls"] == "ListBox":
                continue
            v = values_for(it, self.items, e)
            if not v:
                continue
            picked.append(("type", e, v[0]))
            commands.add(command)
            if len(picked) == 2:
                return picked
        return None


# ---- Every character and every limit ------------------------------------------------------------
# Each entry the exploration typed and sent, typed again with what its field cannot hold and at
# each of its limits: refused with a word naming the field and what it holds, or written exactly.

# Texts typed into a numeric entry that are no number of it.
MALFORMED = ["1,5", "1e39", "12abc"]
# The offline parameter control's entries by the online item of the same setting (its kind, size
# and limits of the byte that holds it).
OFFLINE_AS = {205: 205, 207: 357, 209: 299, 310: 307, 358: 358, 360: 360, 631: 364, 614: 397, 615: 395, 616: 399,
              620: 448, 623: 554, 625: 555, 626: 697}
LIMITS_TOLD = re.compile(r"(-?\d+(?:\.\d+)?) to (-?\d+(?:\.\d+)?)")


def spec_like(ui_name, item_id):
    """The item table's entry for an item, or for the online item of the same setting."""
    spec = tx.items_of(ui_name).get(item_id)
    if spec is None and ui_name == "f5" and item_id in OFFLINE_AS:
        spec = next((i for i in tx.ITEMS if i.item == OFFLINE_AS[item_id] and i.uis != "f3"), None)
    return spec


def text_values(spec):
    """Texts with characters the field cannot hold, and as many characters as it holds and one
    more (a pattern whose cut shows): the field's size is the tests' own (expect.py)."""
    field = ex.TEXT_FIELDS.get((spec.line, spec.at))
    if spec.kind == "latin":
        chars, odd = spec.size, ["F\u00fcllstand \u00c4", "TANK \u20ac", "~{}|\u00ff", "TANK\x7f1", "A\u0085B"]
    else:
        chars, odd = spec.size * 4 // 3, ["T\u00c4G", "\u20ac1", "~{}", "low", "A\x7fB"]
    if field is not None:
        chars = field[0]
    pattern = "".join("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"[i % 36] for i in range(chars + 1))
    return odd + [pattern[:chars], pattern]


def number_text(value, decimals):
    text = "%.*f" % (decimals, value)
    return "0" if re.fullmatch(r"-0(\.0*)?", text) and decimals == 0 else text


class Limits:
    """The limit actions of one user interface."""

    def __init__(self, explorer):
        self.explorer, self.sweep, self.ui = explorer, explorer.sweep, explorer.ui

    def entries(self):
        """(prefix, item, shown item, typed value, suffix) of each entry an action typed and sent."""
        seen = set()
        for a in list(self.explorer.actions):
            m = re.fullmatch(r"type (\d+)", a.what)
            if not m or a.variant:
                continue
            e = int(m.group(1))
            at = max(i for i, st in enumerate(a.steps) if st[0] == "type" and st[1] == e)
            key = (tuple(a.steps[:at]), e)
            found = next((((c, i), x) for (c, i), x in a.run.items.items() if i == e), None)
            if key in seen or found is None:
                continue
            # The entry as it was before it was typed: a choice of what it shows changes nothing.
            it = dict(found[1])
            it["shown"] = self.explorer.look.items.get(found[0], {}).get("text", "")
            seen.add(key)
            # The answers of the questions that came before the entry was typed.
            typed_at = max((i for i, line in enumerate(a.run.journal) if line.startswith("step type %d=" % e)), default=0)
            asked = sum(1 for line in a.run.journal[:typed_at] if QUESTION.match(line))
            yield a.steps[:at], e, it, a.steps[at][2], a.steps[at + 1:], a.answers[:asked]

    def jobs(self, pool):
        """(steps, base answers, what, item, value) to run: in the default state every entry,
        in mm and in the distances (their limits in those units)."""
        state = self.sweep.state
        texts_only = state.offline and self.ui.name == "f5"
        if state.name not in ("default", "mm", "in", "feet", "cm") and not texts_only:
            return []
        every_unit = state.name in ("mm", "in", "feet", "cm")
        entries = list(self.entries())

        def values_of(entry):
            prefix, e, it, typed, suffix, answers = entry
            spec = spec_like(self.ui.name, e)
            if it["cls"] == "ComboBox":
                return [] if every_unit else [x for x in it["entries"]
                                              if x not in judge.LOADING and x not in (typed, it["shown"])]
            if spec is not None and spec.kind in ("packed", "latin"):
                return [] if every_unit else text_values(spec)
            if texts_only:
                return []
            if it["cls"] != "Edit" or "readonly" in it["flags"]:
                return []
            length = spec is not None and spec.kind == "float" and spec.unit not in (None, 45, 32, 57, 39)
            if every_unit and not length:
                return []
            return [x for x in self.number_values(prefix, e, it, typed, suffix, answers, spec) if x != it["shown"]]
        out = []
        for (prefix, e, it, typed, suffix, answers), values in zip(entries, pool.map(values_of, entries)):
            for value in values:
                out.append((prefix + [("type", e, value)] + suffix, answers, "limit type %d=%s" % (e, value), e, value))
        return out

    def number_values(self, prefix, e, it, typed, suffix, answers, spec):
        decimals = len(typed.split(".")[1]) if "." in typed else 0
        step = 10 ** -decimals
        limits = []
        # The limits the user interface tells when a value lies beyond them.
        for probe in ("99999999", "-99999999"):
            _, r = self.explorer.settle(prefix + [("type", e, probe)] + suffix, answers)
            for _, text in judge.notices(r):
                m = LIMITS_TOLD.search(text)
                if m:
                    limits += [float(m.group(1)), float(m.group(2))]
                    break
        # The field's true limits, in the unit the entry is shown in (a wrong limit told is judged
        # apart: these are typed whatever the user interface tells).
        if spec is not None and (spec.line, spec.at) in ex.NUMBER_FIELDS:
            own = tx.items_of(self.ui.name).get(e) or spec
            label = self.explorer.look.items.get((0, own.label), {}).get("text", "").strip() if own.label else ""
            unit = tx.UNIT_OF_TEXT.get(label) or spec.unit_code(tx.lines_of(self.sweep.golden_device))
            true = ["%.*f" % (decimals, x) for x in ex.limits_in((spec.line, spec.at), unit)]
            limits += [float(x) for x in true if float(x) not in limits]
        # The byte that holds it, where no limits are told.
        if not limits and spec is not None and spec.kind in ("code", "number") and spec.texts is None:
            size = spec.size if spec.kind == "number" else 1
            limits = [spec.offset, (256 ** size - 1) * spec.scale + spec.offset]
        values = []
        for limit in sorted(set(limits)):
            for v in (limit - step, limit, limit + step):
                t = number_text(v, decimals)
                if t != typed and t not in values:
                    values.append(t)
        return values + MALFORMED


# ---- A page change as a step of the run -----------------------------------------------------------
# The page frame's user clicks another page in the tree and comes back: each page shown again
# after a read of it failed; what was typed stays pending across the change and is sent after it;
# a distance typed in one unit, then the unit changed on another page, is converted or discarded
# with a word, never written in a unit the user did not see.

# The pages that choose the unit, and what they send it with.
UNIT_PAGES = {0: (381, 221), 1: (381, 221)}


def page_change_actions(sweep, ui, explorer, page_count):
    """(steps, what, typed on other pages {item: user interface}, units seen {item: unit}) of the page."""
    if ui.function != 1 or ui.page is None or page_count < 2 or sweep.state.name not in ("default", "mm"):
        return []
    other = (ui.page + 1) % page_count
    out = [([("wait", 0), ("page", other), ("page", ui.page)], "shown again", {}, {})]
    for a in explorer.actions:
        m = re.fullmatch(r"type (\d+)", a.what)
        if not m or a.variant or a.healthy_only or len(a.steps) != 2 or a.steps[1][0] != "click":
            continue
        e, value = a.steps[0][1], a.steps[0][2]
        out.append(([a.steps[0], ("page", other), ("page", ui.page), a.steps[1]], "type %d, page %d and back" % (
            e, other), {}, {}))
        spec = explorer.items.get(e)
        label = explorer.look.items.get((0, spec.label), {}).get("text", "").strip() if spec and spec.label else ""
        seen = tx.UNIT_OF_TEXT.get(label)
        if spec is None or spec.kind != "float" or seen not in tx.METRES:
            continue
        # The unit changed on another page, sent there, then the entry sent where it was typed.
        unit_page = next((p for p in sorted(UNIT_PAGES) if p != ui.page), None)
        combo, send = UNIT_PAGES[unit_page]
        unit = tx.UNIT_TEXTS[44 if seen != 44 else 45][0]
        out.append(([a.steps[0], ("page", unit_page), ("type", combo, unit), ("click", send), ("page", ui.page),
                     a.steps[1]], "type %d, unit %s on page %d, back and send" % (e, unit, unit_page),
                    {combo: "f1p%d" % unit_page}, {e: seen}))
    return out


class PagesExplorer:
    """An explorer whose items include those typed on another page of the run."""

    def __init__(self, explorer, items):
        self.__dict__.update(explorer.__dict__)
        self.items = items


def with_pages(explorer, a):
    typed_on = getattr(a, "typed_on", {})
    if not typed_on:
        return explorer
    items = dict(explorer.items)
    for iid, on in typed_on.items():
        items.setdefault(iid, tx.items_of(on).get(iid))
    return PagesExplorer(explorer, {k: v for k, v in items.items() if v is not None})


def page_change_cases(sweep, pool, ui, explorer):
    """The page-change actions, each on a healthy transmitter; the page shown again with each read
    of its look failing once before the change."""
    probe = getattr(sweep, "page_count", 0)
    jobs = page_change_actions(sweep, ui, explorer, probe)

    def healthy(job):
        steps, what, typed_on, seen = job
        answers, r = explorer.settle(steps)
        a = Action(steps, answers, r, what)
        a.typed_on, a.units_seen = typed_on, seen
        return a
    actions = list(pool.map(healthy, jobs))
    cases = []
    look = explorer.look.requests
    shown = judge.shown_commands(ui.name) - {0, 1, 13}
    for a in actions:
        if a.what != "shown again":
            continue
        for req in look:
            command = int(req.split("#")[0])
            if command in shown and command not in judge.WRITES:
                for kind in kinds_for(sweep, ui, command, 1, False, every=False):
                    cases.append((a, "%s=%s" % (req, kind)))
    return actions, cases


def is_new(key, it, before):
    old = before.get(key)
    if old is None:
        return True
    return (writable(it) and not writable(old)) or (clickable(it) and not clickable(old))


def revealed(before, after):
    return any(is_new(k, it, before) and (writable(it) or clickable(it)) for k, it in after.items())


# ---- Cases ---------------------------------------------------------------------------------------

def common_prefix(a, b):
    n = 0
    while n < min(len(a), len(b)) and a[n] == b[n]:
        n += 1
    return n


def kinds_for(sweep, ui, command, occurrence, write, every=None):
    """The ways a request fails: every way in the default state; elsewhere one way a request,
    another for each request, and a second way for a write."""
    kinds = KINDS + (["warned"] if write and not sweep.state.warned else [])
    if (not sweep.state.rotate) if every is None else every:
        return kinds
    h = zlib.crc32(("%s %s %d %d" % (sweep.state.name, ui.name, command, occurrence)).encode())
    picked = [kinds[h % len(kinds)]]
    if write:
        picked.append(kinds[(h // 7 + 1) % len(kinds)] if kinds[(h // 7 + 1) % len(kinds)] != picked[0]
                      else kinds[(h + 2) % len(kinds)])
    return picked


def cases_of(sweep, ui, explorer):
    """(action, fault) for each request each action owns: the writes of what it typed in every
    action, every other request once in the user interface (the first action that sends it)."""
    seen = set()
    typed_roads = set()
    cases = []
    first_typed = False
    look = explorer.look.requests
    # The reads the user interface itself repeats in time (the frame's distance reading is the same
    # on every page: the Process page, which shows it too, fails its later reads in every way).
    own_timed = {spec.cmd for spec in explorer.items.values() if spec.uis != tx.FRAME}
    for a in explorer.actions:
        if a.healthy_only:
            continue
        reqs = a.run.requests
        start = common_prefix(reqs, look) if a.what != "look" else 0
        typed = [s[1] for s in a.steps if s[0] == "type"]
        own_writes = {explorer.items[i].writes for i in typed if i in explorer.items and explorer.items[i].writes}
        if ui.name == "f5":
            own_writes = {tx.OFFLINE_WRITES[i] for i in typed if i in tx.OFFLINE_WRITES}
        counts = {}
        for req in reqs[start:]:
            command, occurrence = (int(x) for x in req.split("#"))
            counts[command] = counts.get(command, 0) + 1
            write = command in judge.WRITES
            again, every = False, None
            if command in LOOP_COMMANDS and ui.function == 1:
                continue  # the loop test and the trim fail on their own (functions 4 and 7)
            if write and command not in LOOP_COMMANDS and (command in own_writes or not own_writes and typed):
                key = None  # the write of what this action typed: failed in this action
                # An answer's variant that sends the same write as its action (a question answered
                # Cancel, then Yes when asked again) fails it in that action only.
                road = (tuple(a.steps), req)
                if a.variant and road in typed_roads:
                    continue
                typed_roads.add(road)
            else:
                # The request itself, by its place in the run: a read made again after the look's
                # (the page's re-read after a Send, a timed read's later occurrence) is one of its own.
                key = (command, occurrence) + ((a.describe(),) if command == STATUS_READ else ())
                if key in seen:
                    continue
                # A read made again fails one way, in the default state only, unless it is one of
                # the user interface's own timed reads coming again as its time passes: those fail
                # as every other request does.
                again = occurrence > counts[command] and not write and (a.what != "time" or command not in own_timed)
                # The additional status read fills the fault lamps and the self test's results at
                # each occurrence, in each action: it fails in every way in every state.
                if command == STATUS_READ:
                    again, every = False, True
                if again and sweep.state.rotate:
                    continue
                seen.add(key)
            for kind in kinds_for(sweep, ui, command, counts[command], write, every=False if again else every):
                cases.append((a, "%s=%s" % (req, kind)))
        # An entry typed after its own value could not be read, then sent: each read of the look
        # that fills it fails, one way a read (in the default state each read of the look, for the
        # first entry of the user interface and each level at the sensor's edge). The first of
        # them fails again at each read of it until the Send ("+"): a read made again after a
        # failure would fill the entry and the record it goes with before the user sends.
        if len(typed) == 1 and typed[0] in explorer.items and a.what.startswith("type "):
            read = explorer.items[typed[0]].cmd
            every = not sweep.state.rotate and (a.what.endswith("at the edge") or not first_typed)
            first_typed = True
            first_own = True
            for req in look:
                own_read = int(req.split("#")[0]) == read
                if own_read or every:
                    h = zlib.crc32(("%s %s %s" % (sweep.state.name, a.describe(), req)).encode())
                    if own_read and first_own:
                        first_own = False
                        cases += [(a, "%s=linkgone" % req), (a, "%s=%s+" % (req, KINDS[h % (len(KINDS) - 1)]))]
                        continue
                    kinds = {KINDS[h % len(KINDS)]} | ({"linkgone"} if own_read else set())
                    cases += [(a, "%s=%s" % (req, kind)) for kind in sorted(kinds)]
    return cases


def failing_until_sent(sweep, ui, a, fault):
    """The run with the request of `fault` failing, and each later request of its command too up
    to the run's first write (at most four rounds, as the failures change the run's road).
    Returns the faults, comma-joined, and the run."""
    req, kind = fault.split("=")
    command = req.split("#")[0]
    failing = [req]
    for _ in range(4):
        spec = ",".join("%s=%s" % (r, kind) for r in failing)
        f = sweep.run(ui, a.steps, a.answers, fault=spec)
        more = []
        for r in f.requests:
            if int(r.split("#")[0]) in judge.WRITES:
                break
            if r.split("#")[0] == command and r not in failing:
                more.append(r)
        if not more:
            break
        failing += more
    return spec, f


def sweep_ui(sweep, pool, ui, args):
    explorer = Explorer(sweep, ui)
    actions = explorer.explore()
    # The user interface's time let pass: the cyclic reads of the pages and the trend.
    timed = []
    if not sweep.state.offline and not sweep.state.wire:
        if ui.function == 1:
            timed.append([("wait", WAIT_MS)])
        if ui.function == 2:
            timed.append([("type", 703, "1 Sec."), ("click", 407), ("wait", 3500)])
    for steps in timed:
        a = Action(steps, [], sweep.run(ui, steps), "time")
        actions.append(a)
    # The periods of the timed reads and of the trend, each rate: several periods let pass.
    if not sweep.state.offline and not sweep.state.wire and sweep.state.name == "default":
        for command, period in ex.TIMED_READS.get(ui.name, {}).items():
            steps = [("wait", period * 4 + period // 2)]
            a = Action(steps, [], sweep.run(ui, steps), "time rate")
            a.healthy_only, a.period = True, (command, period, None)
            actions.append(a)
        if ui.function == 2:
            for rate, period in sorted(ex.TREND_RATES.items(), key=lambda x: x[1]):
                steps = [("type", 703, rate), ("click", ex.TREND_START), ("wait", period * 4 + period // 2)]
                a = Action(steps, [], sweep.run(ui, steps), "time rate")
                a.healthy_only, a.period = True, (ex.TREND_READ, period, ex.TREND_START)
                actions.append(a)
    # Every limit and every character typed, each value of a choice: on a healthy transmitter.
    def limit_run(job):
        steps, answers, what, e, value = job
        answers, r = explorer.settle(steps, answers)
        a = Action(steps, answers, r, what)
        a.healthy_only, a.limit = True, (e, value, spec_like(ui.name, e))
        return a
    page_cases = []
    if sweep.state.offline and ui.name == "f5":
        # Offline the texts at and beyond their sizes: a text the field holds is taken.
        actions += list(pool.map(limit_run, Limits(explorer).jobs(pool)))
    if not sweep.state.wire and not sweep.state.offline:
        actions += list(pool.map(limit_run, Limits(explorer).jobs(pool)))
        # A page change as a step of the run.
        changes, page_cases = page_change_cases(sweep, pool, ui, explorer)
        for a in changes:
            a.healthy_only = True
        actions += changes
    for a in actions:
        sweep.cases += 1
        judge.judge(sweep, ui, a, None, with_pages(explorer, a))
    actions = [a for a in actions if a.what != "time rate"]
    if sweep.state.offline:
        return len(actions), 0
    if sweep.state.wire:
        return len(actions), wire_cases(sweep, pool, ui, explorer)
    if sweep.state.healthy:
        return len(actions), 0
    cases = cases_of(sweep, ui, explorer) + page_cases

    def run_case(case):
        a, fault = case
        if fault.endswith("+"):
            fault, f = failing_until_sent(sweep, ui, a, fault[:-1])
        else:
            f = sweep.run(ui, a.steps, a.answers, fault=fault)
        if not any(req in f.requests for req, _ in judge.failing_requests(fault)):
            return  # the run took another road that never sent it
        judge.judge(sweep, ui, Action(a.steps, a.answers, f, a.what), fault, explorer, healthy=a.run)
    list(pool.map(run_case, cases))
    sweep.cases += len(cases)
    return len(actions), len(cases)


def wire_cases(sweep, pool, ui, explorer):
    """At the wire's speed the same actions end as at no delay, and typing while the page's reads
    are on the channel is kept and written."""
    # An answer's variant takes the same road at any speed as its action: each action once.
    jobs = [(a, a.steps) for a in explorer.actions if not any(s[0] == "wait" for s in a.steps) and not a.variant]
    for a in explorer.actions:
        if a.what.startswith("type ") and ui.function == 1 and a.steps and a.steps[0][0] == "type":
            jobs.append((a, [("now",)] + a.steps))
            jobs.append((a, [("click", 356), ("now",)] + a.steps) if ui.page not in (2, 5, 7, 8, 9) else (a, None))

    def run_one(job):
        a, steps = job
        if steps is None:
            return
        w = sweep.run(ui, steps, a.answers, wire=True)
        judge.judge(sweep, ui, Action(steps, a.answers, w, a.what + " at the wire's speed"), None, explorer)
        if steps == a.steps:
            judge.judge_wire(sweep, ui, a, w)
    list(pool.map(run_one, jobs))
    return len(jobs)


def page_all_cases(sweep, pool):
    """The page frame with every page in turn, each request of it failing: every page after a
    failure on another."""
    ui = UI(1, None)
    ui.name = "f1 all pages"
    explorer = Explorer(sweep, ui)
    explorer.items = {}
    healthy = sweep.run(ui, [], page="all")
    a = Action([], [], healthy, "every page")
    explorer.look = healthy
    judge.judge(sweep, ui, a, None, explorer)
    if sweep.state.offline or sweep.state.healthy:
        return 1
    seen, cases = set(), []
    for req in healthy.requests:
        command = int(req.split("#")[0])
        if command in seen:
            continue
        seen.add(command)
        for kind in kinds_for(sweep, ui, command, 1, False):
            cases.append("%s=%s" % (req, kind))

    def run_case(fault):
        f = sweep.run(ui, [], fault=fault, page="all")
        judge.judge(sweep, ui, Action([], [], f, "every page"), fault, explorer, healthy=healthy)
    list(pool.map(run_case, cases))
    return len(cases)


def bit_cases(sweep, pool):
    """Every bit of the additional status one at a time: the Status page's lamps after its read
    and the self-test results, each judged against the bit the transmitter set."""
    looks = [(UI(1, 5), [("click", 6311)]), (UI(8, None), [])]
    jobs = [(ui, steps, pattern) for pattern in ex.one_bit_patterns() for ui, steps in looks]

    def run_one(job):
        ui, steps, pattern = job
        r = sweep.run(ui, steps, extra=["--additional-status", pattern])
        a = Action(steps, [], r, "status %s" % pattern)
        a.status = pattern
        explorer = Explorer(sweep, ui)
        explorer.look = r
        judge.judge(sweep, ui, a, None, explorer)
    list(pool.map(run_one, jobs))
    return len(jobs)


def user_interfaces(sweep):
    uis = []
    for function in sweep.functions():
        if function == 1:
            probe = sweep.run(UI(1, None), [], page=999)
            sweep.page_count = probe.page_count or 0
            uis += [UI(1, p) for p in range(probe.page_count or 0)]
        else:
            uis.append(UI(function, None))
    return uis


# The weight of each user interface's sweep in the default state, as measured (its runs of the
# host), for sharding.
WEIGHTS = {"f1p0": 300, "f1p1": 177, "f1p2": 42, "f1p3": 244, "f1p4": 158, "f1p5": 39, "f1p6": 99, "f1p7": 156,
           "f1p8": 31, "f1p9": 41, "f2": 42, "f3": 4, "f4": 30, "f5": 580, "f6": 1, "f7": 175, "f8": 7, "all": 76}


def shard(names, k, n):
    load = [0] * n
    mine = []
    for name in sorted(names, key=lambda x: -WEIGHTS.get(x, 2)):
        target = load.index(min(load))
        load[target] += WEIGHTS.get(name, 2)
        if target == k:
            mine.append(name)
    return mine


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("host")
    ap.add_argument("--state", default="default", choices=sorted(STATES))
    ap.add_argument("--shard", default="0/1")
    ap.add_argument("--only", action="append", help="a user interface (f1p3, f5, all); may repeat")
    ap.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    ap.add_argument("--list", action="store_true", help="list the actions and their requests only")
    ap.add_argument("--self-test", action="store_true", help="check the item table against the parameter table")
    args = ap.parse_args()
    problems = tx.self_test(ROOT) + judge.prove_exceptions(Run)
    if problems or args.self_test:
        for p in problems:
            print("TABLE " + p)
        print("item table: %d items, %s; %d exceptions, each proved narrow" % (
            len(tx.ITEMS), "drifted" if problems else "as the parameter table", len(judge.EXCEPTIONS)))
        if problems or args.self_test:
            return 1 if problems else 0
    k, n = (int(x) for x in args.shard.split("/"))
    started = time.time()
    sweep = Sweep(args.host, STATES[args.state], args.jobs)
    try:
        sweep.setup()
        uis = user_interfaces(sweep)
        names = [u.name for u in uis] + ([] if sweep.state.wire else ["all"])
        if sweep.state.only is not None:
            names = [x for x in names if x in sweep.state.only]
        if args.only:
            names = [x for x in names if x in args.only]
        mine = shard(names, k, n)
        total_actions = total_cases = 0
        with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
            def one(ui):
                if args.list:
                    ex = Explorer(sweep, ui)
                    for a in ex.explore():
                        print("%s: %s -> %s" % (ui.name, a.describe(), " ".join(a.run.requests) or "no request"))
                    return 0, 0
                return sweep_ui(sweep, pool, ui, args)
            # The user interfaces side by side, their cases in the same pool.
            outer = concurrent.futures.ThreadPoolExecutor(max_workers=max(1, min(len(mine), args.jobs)))
            futures = {}
            for name in mine:
                if name == "all":
                    futures[name] = outer.submit(lambda: (1, 0 if args.list else page_all_cases(sweep, pool)))
                else:
                    futures[name] = outer.submit(one, next(u for u in uis if u.name == name))
            for name in mine:
                a, c = futures[name].result()
                total_actions += a
                total_cases += c
                print("%s %s: %d actions, %d failing-request cases, %d runs" % (
                    args.state, name, a, c, sweep.runs_of.get("f1 all pages" if name == "all" else name, 0)), flush=True)
            outer.shutdown()
            if sweep.state.bits and not args.list:
                total_cases += bit_cases(sweep, pool)
        print("sweep %s %s: %d user interfaces, %d actions, %d cases, %d runs of the host, %.0f s, %d faults found" % (
            args.state, args.shard, len(mine), total_actions, total_cases, sweep.runs, time.time() - started,
            len(sweep.failures)))
        for key in sorted(sweep.failures):
            state, ui, invariant, subject, where = key
            example, count = sweep.failures[key]
            print("FAULT %s | %s | %s | %s (%d run%s; found by %s)\n  %s" % (
                state, ui, invariant, subject, count, "" if count == 1 else "s", where, example))
        print("exceptions listed: %d" % len(judge.EXCEPTIONS))
        return 1 if sweep.failures else 0
    finally:
        sweep.close()


if __name__ == "__main__":
    sys.exit(main())
