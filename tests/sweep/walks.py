#!/usr/bin/env python3
"""Walks: generated runs of 2 to 30 steps through the user interfaces, each one `vkr-frame ui`
command line, judged by every invariant of the sweep's judge (judge.py).

A walk starts on a user interface (a page of the page frame, or another function) of a transmitter
in one state (metres, feet, inches, cm, mm, multidrop; every write warned, more status, offline)
and takes steps a user takes: another page, an entry typed (valid, at and beyond each limit, in
every unit, texts of every character class), a unit chosen, Send, Refresh, Digitize, OK, Apply, a
question answered each way, the user interface's time let pass; any request of any command may
fail on its n-th occurrence. Hypothesis draws the walks and shrinks a failing one to the shortest
that still shows a new fault, printed as the command lines that reproduce it (after `vkr-frame
register` and `vkr-frame upload`).

Found walks are kept in found_walks.txt beside this file, one command line a line (a `#` line
before it says what was wrong); they are replayed first, before any walk is drawn.

Usage:
  walks.py HOST --replay                    the store only (a failing walk fails the run)
  walks.py HOST --seed N --walks N          a fixed, seeded number of walks (the suite's shards)
  walks.py HOST --minutes M [--jobs J]      a campaign with a new seed: every new fault is shrunk,
                                            printed and added to the store (--no-record: printed only)
"""
import argparse
import fcntl
import os
import random
import re
import shlex
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import judge  # noqa: E402
import sweep as sw  # noqa: E402
import transmitter as tx  # noqa: E402

# Hypothesis keeps its caches (the Unicode tables of the text strategies) out of the tree.
os.environ.setdefault("HYPOTHESIS_STORAGE_DIRECTORY", os.path.join(tempfile.gettempdir(), "vkr-walks-hypothesis"))
try:
    import hypothesis
    from hypothesis import strategies as st
except ImportError:  # pragma: no cover - the setup script installs it
    sys.exit("walks.py needs Hypothesis for %s (scripts/setup.sh installs python3-hypothesis)" % sys.executable)

STORE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "found_walks.txt")

# ---- What a user can act on ----------------------------------------------------------------------
# The items each user interface offers (as its pages show them), with the kind of value each takes.
# Its values and limits are those the user documentation gives; the verdict is the judge's.

UNITS = [("Metres (m)", 45), ("Feet (ft)", 44), ("Inches (in)", 47), ("Centimetres (cm)", 48),
         ("Millimetres (mm)", 49)]
UNIT_NAMES = [u for u, _ in UNITS]
DISPLAY = ["Level", "% Level", "Distance"]
TRACKING = ["Slow", "Medium", "Fast", "Velomode", "Test"]
DIELECTRIC = [" < 2", " < 5", " < 10", " < 20", " < 40", " < 80", " > 80"]
FAIL_MODE = ["3.80 mA", " > 20.20 mA", "Last Known", "4.00 mA", "20.00 mA", "> 21.50 mA"]
FAIL_MODE_F5 = ["3.80 mA", "> 20.20 mA", "Last Known", "4.00 mA", "20.00 mA", "> 21.50 mA"]
ANALOG = ["4 - 20 mA", "20 - 4 mA", "Park 4 mA", "Park 8 mA", "Park 12 mA"]
PROBE = ["Disable", "Enable"]
LOOP_MODE = ["Disabled", "Enabled"]
ECHO_RANGE = ["1 meter", "2 meters", "5 meters", "10 meters", "20 meters"]
PERIOD = ["1 Sec.", "2 Sec.", "5 Sec.", "7 Sec.", "10 Sec."]
LOOP_LEVEL = ["4mA", "20mA", "Other", "End"]
TRIM_LEVEL = ["4mA", "20mA", "End"]

# Kinds of number: (low, high, ordinary values, integer, distance in metres).
NUMBERS = {
    "range": (0.0, 66.0, [0.3, 0.5, 2.5, 7.5, 8.0, 20.0, 0.45], False, True),
    "blank": (0.0, 66.0, [0.3, 1.0, 0.31, 5.0], False, True),
    "offset": (-0.5, 0.5, [0.0, 0.1, -0.1, 0.31, -0.25], False, True),
    "digitize": (0.0, 66.0, [3.5, 2.0, 8.0, 0.5], False, True),
    "seconds": (0.0, 255.0, [0.0, 0.5, 3.0, 10.0, 1.5], False, False),
    "failtime": (0.0, 255.0, [0.0, 4.0, 10.0, 60.0], True, False),
    "sensitivity": (0.0, 100.0, [20.0, 20.2, 40.0, 0.4, 55.5], False, False),
    "day": (1.0, 31.0, [1.0, 15.0, 28.0, 29.0, 30.0], True, False),
    "month": (1.0, 12.0, [1.0, 2.0, 4.0, 11.0], True, False),
    "year": (1900.0, 2155.0, [2023.0, 2024.0, 2100.0, 2026.0], True, False),
    "final": (0.0, 16777215.0, [0.0, 42.0, 100000.0], True, False),
    "polling": (0.0, 15.0, [0.0, 1.0, 7.0, 14.0, 63.0], True, False),
    "current": (3.8, 21.5, [4.0, 12.0, 20.0, 3.9, 20.5], False, False),
}
# Texts: (characters held, Latin-1 or packed ASCII).
TEXTS = {"tag": (8, "packed"), "descriptor": (16, "packed"), "message": (32, "packed"), "longtag": (31, "latin")}

F1_SEND = [356, 221]
PAGES = {  # page -> (entries {item: kind or choices}, buttons)
    0: ({383: DISPLAY, 381: UNIT_NAMES, 545: "range", 544: "range", 542: "seconds", 385: TRACKING,
         388: DIELECTRIC, 391: FAIL_MODE, 448: "failtime", 547: "digitize"}, F1_SEND + [702, 546]),
    1: ({381: UNIT_NAMES, 395: "range", 397: "range", 399: "seconds"}, F1_SEND),
    2: ({}, []),
    3: ({205: "tag", 307: "longtag", 357: "descriptor", 299: "message", 358: "day", 360: "month",
         364: "year", 359: "final"}, F1_SEND),
    4: ({554: "sensitivity", 556: ANALOG, 555: "blank", 697: "offset", 562: PROBE}, F1_SEND),
    5: ({}, [335, 6311]),
    6: ({534: "polling", 700: LOOP_MODE}, F1_SEND),
    7: ({375: LOOP_LEVEL, 301: "current", 6314: TRIM_LEVEL, 6316: "current"},
        [600, 601, 682, 608, 604, 377, 378, 6315, 6312]),
    8: ({}, []),
    9: ({706: ECHO_RANGE}, [632]),
}
FUNCTIONS = {  # function -> (entries, buttons)
    2: ({703: PERIOD}, [415, 418, 424, 431, 435, 407]),
    3: ({}, [1, 2, 102]),
    4: ({375: LOOP_LEVEL, 301: "current"}, [377, 378]),
    5: ({612: DISPLAY, 613: UNIT_NAMES, 614: "range", 615: "range", 616: "seconds", 617: TRACKING,
         618: DIELECTRIC, 619: FAIL_MODE_F5, 620: "failtime", 623: "sensitivity", 624: ANALOG, 625: "blank",
         626: "offset", 205: "tag", 310: "longtag", 207: "descriptor", 209: "message", 358: "day",
         360: "month", 631: "year"}, [1, 2, 102]),
    6: ({}, [632]),
    7: ({6314: TRIM_LEVEL, 6316: "current"}, [6315, 6312]),
    8: ({}, [1]),
}
CLOSE = 289
# The buttons that send what was typed: Send, OK, Apply, Run Digitize, the loop test's and the
# trim's Enter.
SENDS = {221, 1, 102, 546, 377, 6315}
ANSWERS = ["Yes", "No", "OK", "Cancel", "Retry", "Abort", "Ignore"]
READS = [0, 1, 2, 3, 12, 13, 14, 15, 16, 20, 48, 131, 135, 137]
WRITES = [6, 17, 18, 19, 22, 34, 35, 44, 134, 136, 138]
PROCEDURE_COMMANDS = [38, 40, 41, 42, 45, 46]
FAULT_KINDS = ["silent", "busy", "refused", "lost", "linkgone"]
STATUS = ["06000100", "01000000", "00010000", "00000001", "80000000", "00800000"]

# States of the transmitter, each made by the user's own commands after the upload (then uploaded
# again so that the project follows).
STATES = {
    "m": [],
    "ft": [["ui", "1", "--type", "381=Feet (ft)", "--click", "221"]],
    "in": [["ui", "1", "--type", "381=Inches (in)", "--click", "221"]],
    "cm": [["ui", "1", "--type", "381=Centimetres (cm)", "--click", "221"]],
    "mm": [["ui", "1", "--type", "381=Millimetres (mm)", "--click", "221"]],
    "multidrop": [["ui", "1", "--page", "6", "--type", "700=Disabled", "--click", "221"]],
}


class Walk:
    """One walk: the state, the user interface, its options and its steps."""

    def __init__(self, state="m", function=1, page=0, faults=(), status=None, warned=False, offline=False,
                 steps=()):
        self.state, self.function, self.page = state, function, page
        self.faults, self.status, self.warned, self.offline = list(faults), status, warned, offline
        self.steps = list(steps)   # ("page", n) ("type", id, text) ("click", id) ("wait", ms) ("answer", b)

    def ui_args(self):
        args = ["ui", str(self.function)]
        if self.page is not None:
            args += ["--page", str(self.page)]
        if self.offline:
            args.append("--offline")
        if self.status:
            args += ["--additional-status", self.status]
        if self.warned:
            args += ["--fault", "writes=warned"]
        for f in self.faults:
            args += ["--fault", f]
        for s in self.steps:
            if s[0] == "type":
                args += ["--type", "%d=%s" % (s[1], s[2])]
            elif s[0] == "answer":
                args += ["--answer", s[1]]
            else:
                args += ["--" + s[0], str(s[1])]
        return args

    def line(self):
        setup = [shell(["vkr-frame"] + c) for c in STATES[self.state]]
        if setup:
            setup.append("vkr-frame upload")
        return " && ".join(setup + [shell(["vkr-frame"] + self.ui_args())])

    def state_name(self):
        return "+".join([self.state] + (["warned"] if self.warned else []) + (["status"] if self.status else []) +
                        (["offline"] if self.offline else []))


def shell(args):
    return " ".join(quote(a) for a in args)


def quote(text):
    if all(32 <= ord(c) < 127 for c in text):
        return shlex.quote(text)
    out = []
    for c in text:
        if c in "\\'":
            out.append("\\" + c)
        elif 32 <= ord(c) < 127 or ord(c) > 0xA0 and c.isprintable():
            out.append(c)
        elif ord(c) < 0x100:
            out.append("\\x%02x" % ord(c))
        else:
            out.append("\\u%04x" % ord(c))
    return "$'" + "".join(out) + "'"


def split_line(text):
    """The words of a command line as `shell` writes them (with bash's $'...')."""
    words, i, n = [], 0, len(text)
    while i < n:
        if text[i] == " ":
            i += 1
            continue
        word = ""
        while i < n and text[i] != " ":
            if text.startswith("$'", i):
                i += 2
                while text[i] != "'":
                    if text[i] == "\\":
                        c = text[i + 1]
                        if c == "x":
                            word += chr(int(text[i + 2:i + 4], 16))
                            i += 4
                        elif c == "u":
                            word += chr(int(text[i + 2:i + 6], 16))
                            i += 6
                        else:
                            word += c
                            i += 2
                    else:
                        word += text[i]
                        i += 1
                i += 1
            elif text[i] == "'":
                j = text.index("'", i + 1)
                word += text[i + 1:j]
                i = j + 1
            elif text[i] == '"':
                j = text.index('"', i + 1)
                word += text[i + 1:j]
                i = j + 1
            elif text[i] == "\\":
                word += text[i + 1]
                i += 2
            else:
                word += text[i]
                i += 1
        words.append(word)
    return words


def parse_line(line):
    """A walk from its command lines (the store's form)."""
    commands = [c.strip() for c in line.split(" && ")]
    setup = [split_line(c)[1:] for c in commands[:-1] if c != "vkr-frame upload"]
    state = next((name for name, cmds in STATES.items() if cmds == setup), None)
    if state is None:
        raise ValueError("no state is made by: %s" % " && ".join(commands[:-1]))
    words = split_line(commands[-1])
    if words[:2] != ["vkr-frame", "ui"]:
        raise ValueError("not a ui command line: %s" % line)
    w = Walk(state=state, function=int(words[2]), page=None)
    i = 3
    while i < len(words):
        opt = words[i]
        value = words[i + 1] if i + 1 < len(words) else None
        i += 2
        if opt == "--offline":
            w.offline = True
            i -= 1
        elif opt == "--page" and w.page is None and not w.steps:
            w.page = int(value)
        elif opt in ("--page", "--click", "--wait"):
            w.steps.append((opt[2:], int(value)))
        elif opt == "--type":
            iid, _, text = value.partition("=")
            w.steps.append(("type", int(iid), text))
        elif opt == "--answer":
            w.steps.append(("answer", value))
        elif opt == "--additional-status":
            w.status = value
        elif opt == "--fault" and value == "writes=warned":
            w.warned = True
        elif opt == "--fault":
            w.faults.append(value)
        else:
            raise ValueError("option %s is not a step of a walk" % opt)
    return w


# ---- Drawing walks -------------------------------------------------------------------------------

def number_text(kind, unit_factor):
    """Strategy: a text typed into a number of `kind`: ordinary, at and beyond a limit, anywhere in
    and around its range, or no number at all; a distance in the unit drawn."""
    low, high, ordinary, integer, distance = NUMBERS[kind]
    factor = unit_factor if distance else 1.0
    formats = ["%d", "%.1f", "%g"] if integer else ["%.3f", "%.9g", "%g", "%.1f", "%.6f"]

    @st.composite
    def draw(d):
        how = d(st.integers(0, 4))
        if how == 0:
            value = d(st.sampled_from(ordinary)) / factor
        elif how == 1:
            value = d(st.sampled_from([low, high])) / factor + d(st.sampled_from(
                [0.0, -1.0, 1.0, -1e-3, 1e-3, -5e-4, 5e-4, -1e-5, 1e-5, -1e-6, 1e-6] if not integer else [0, -1, 1]))
        elif how == 2:
            return d(st.sampled_from(["", "1,5", "1e39", "12abc", "nan", "inf", "-inf", "-0", "1e-5", " 3", "3 ",
                                      "+2", "0x1F", "1.5e1", "-1", "-1000", "1e30", "0.0000001", "99999999"]))
        elif how == 3:
            span = (high - low) / factor
            value = d(st.floats(low / factor - span * 0.1, high / factor + span * 0.1, allow_nan=False))
        else:
            value = d(st.sampled_from(ordinary)) / factor
        fmt = d(st.sampled_from(formats))
        return fmt % (round(value) if fmt == "%d" else value)
    return draw()


PACKED = "ABCDEFGHIJKLMNOPQRSTUVWXYZ"
CLASSES = {
    "upper": PACKED, "digits": "0123456789", "blank": " ", "punct": "!\"#$%&'()*+,-./:;<=>?@[\\]^_",
    "lower": "abcdefghijklmnopqrstuvwxyz", "ascii-other": "`{|}~", "latin": "\u00e4\u00f6\u00fc\u00df\u00e9\u00c4\u00b0\u00b5\u00ff\u00a0\u00a9",
    # Characters no text holds that a keyboard still sends as characters (DEL, the C1 codes); the
    # other control codes are keys to an edit (Ctrl+A selects, Tab moves on), not text.
    "control": "\x7f\x80\x85\x9f", "beyond": "\u20ac\u0141\u4e2d\u2019",
}


@st.composite
def text_value(d, kind):
    size, _ = TEXTS[kind]
    classes = d(st.lists(st.sampled_from(sorted(CLASSES)), min_size=1, max_size=2, unique=True))
    alphabet = "".join(CLASSES[c] for c in classes)
    length = d(st.one_of(st.sampled_from([size, size + 1, size - 1, 1, 0]), st.integers(0, size + 4)))
    return d(st.text(alphabet=alphabet, min_size=length, max_size=length))


def entries_of(function, page):
    return PAGES[page] if function == 1 else FUNCTIONS[function]


@st.composite
def step(d, function, page, unit_factor):
    """One step of a walk on the user interface shown: (step, page shown after it)."""
    entries, buttons = entries_of(function, page)
    kinds = ["type"] * 6 + ["click"] * 3 + ["answer"]
    if function == 1:
        kinds += ["page"] * 3 + ["wait"]
    if function == 2:
        kinds += ["wait"]
    if not entries:
        kinds = [k for k in kinds if k != "type"]
    if not buttons:
        kinds = [k for k in kinds if k != "click"]
    kind = d(st.sampled_from(kinds))
    if kind == "page":
        new = d(st.integers(0, 9))
        return ("page", new), new
    if kind == "wait":
        return ("wait", d(st.sampled_from([0, 1000, 5000, 11000]))), page
    if kind == "answer":
        return ("answer", d(st.sampled_from(ANSWERS))), page
    if kind == "click":
        return ("click", d(st.sampled_from(buttons + ([CLOSE] if function == 1 and d(st.integers(0, 20)) == 0
                                                      else [])))), page
    iid = d(st.sampled_from(sorted(entries)))
    what = entries[iid]
    if isinstance(what, list):
        value = d(st.sampled_from(what))
    elif what in TEXTS:
        value = d(text_value(what))
    else:
        value = d(number_text(what, unit_factor))
    return ("type", iid, value), page


@st.composite
def walks(d, states=None):
    state = d(st.sampled_from(states or ["m", "m", "ft", "in", "cm", "mm", "multidrop"]))
    function = d(st.sampled_from([1] * 8 + [5] * 3 + [2, 3, 4, 6, 7, 8]))
    page = d(st.integers(0, 9)) if function == 1 else None
    offline = state == "m" and function in (1, 5) and d(st.integers(0, 7)) == 0
    warned = not offline and d(st.integers(0, 5)) == 0
    status = d(st.sampled_from(STATUS)) if not offline and d(st.integers(0, 7)) == 0 else None
    faults = []
    if not offline:
        for _ in range(d(st.sampled_from([0, 0, 1, 1, 2]))):
            command = d(st.sampled_from(READS + WRITES + WRITES + PROCEDURE_COMMANDS))
            kinds = FAULT_KINDS + (["warned"] if command in WRITES or command in PROCEDURE_COMMANDS else [])
            faults.append("%d#%d=%s" % (command, d(st.integers(1, 4)), d(st.sampled_from(kinds))))
    unit = {"m": 1.0, "ft": 0.3048, "in": 0.0254, "cm": 0.01, "mm": 0.001, "multidrop": 1.0}[state]
    # A distance is typed in the unit the transmitter is in, or in another the walk may choose.
    unit = d(st.sampled_from([unit, unit, 1.0, 0.3048, 0.0254, 0.01, 0.001]))
    steps = []
    shown = page
    # Each further step is drawn while the walk goes on: the shrinker ends or cuts a walk by
    # shrinking these draws to 0.
    while len(steps) < 30 and (len(steps) < 2 or d(st.integers(0, 7)) != 0):
        s, shown = d(step(function, shown, unit))
        steps.append(s)
    return Walk(state, function, page, faults, status, warned, offline, steps)


# ---- Running and judging -------------------------------------------------------------------------

class Walker(sw.Sweep):
    """The sweep's runner with a transmitter per state, made by the user's own commands."""

    def __init__(self, host):
        super().__init__(host, sw.STATES["default"], 1)
        self.states = {}      # state -> (golden project, golden device, baseline)
        self.cache = {}       # command lines -> faults found
        self.walks = 0

    def prepare(self, state):
        if state in self.states:
            return
        if not self.states:
            code, out, err = self.call(["register"])
            code, out, err = self.call(["upload", "--project", "C:\\G\\p.vkr"])
            if code != 0:
                raise SystemExit("upload failed: %s%s" % (out, err))
            with open(os.path.join(self.folder("G"), "p.vkr.device")) as f:
                self.first_device = f.read()
        # Each state from the transmitter as it came: the device file the first upload found.
        with open(os.path.join(self.folder("G"), "p.vkr.device"), "w", newline="") as f:
            f.write(self.first_device)
        project = ["--project", "C:\\G\\p.vkr"]
        for args in [["upload"]] + STATES[state] + ([["upload"]] if STATES[state] else []):
            code, out, err = self.call(args + project)
            if code != 0:
                raise SystemExit("the state %s: %s failed: %s%s" % (state, " ".join(args), out, err))
        with open(os.path.join(self.folder("G"), "p.vkr"), "rb") as f:
            project_bytes = f.read()
        with open(os.path.join(self.folder("G"), "p.vkr.device")) as f:
            device = f.read()
        baseline = self.compare("G")[0]
        self.states[state] = (project_bytes, device, baseline)

    def use(self, walk):
        self.prepare(walk.state)
        self.golden_project, self.golden_device, self.baseline = self.states[walk.state]
        self.project_device = self.golden_device
        args = (["--additional-status", walk.status] if walk.status else []) + \
               (["--fault", "writes=warned"] if walk.warned else [])
        self.state = sw.State(walk.state_name(), args=args, offline=walk.offline, warned=walk.warned,
                              status=walk.status or "")
        # The labels every user interface shows beside its fields, as the sweep gathers them: a
        # sentence may name a field of a page the walk never showed.
        if not hasattr(self, "labels"):
            shown = self.state
            self.state = sw.State("default")
            self.labels = set()
            for function in self.functions():
                r = self.run(sw.UI(function, None), [], page="all" if function == 1 else None)
                self.labels |= judge.labels_shown(r)
            self.state = shown

    def run_walk(self, walk, faults):
        """Runs a walk: its user interface, steps, answers and run. The host takes the answers in
        order wherever they stand among the steps, as Sweep.run gives them."""
        ui = sw.UI(walk.function, walk.page)
        steps = [s for s in walk.steps if s[0] != "answer"]
        answers = [s[1] for s in walk.steps if s[0] == "answer"]
        return ui, steps, answers, self.run(ui, steps, answers, fault=",".join(faults) if faults else None)

    def judge_walk(self, walk):
        """The faults the judge finds in a walk: {(user interface, invariant, subject): example}."""
        line = walk.line()
        if line in self.cache:
            return self.cache[line]
        self.use(walk)
        self.walks += 1
        ui, steps, answers, r = self.run_walk(walk, walk.faults)
        self.last_out = "\n".join(l for l in (r.out + r.err).split("\n") if not l.startswith("  shown ") and
                                  not l.startswith("    entries: "))
        found = self.verdict(walk, ui, steps, answers, r, None)
        if found and walk.faults:
            # A read a write is made of is judged by the healthy run's requests.
            _, _, _, healthy = self.run_walk(walk, [])
            found = self.verdict(walk, ui, steps, answers, r, healthy)
        self.cache[line] = found
        return found

    def verdict(self, walk, ui, steps, answers, r, healthy):
        walk = taken(walk, r)
        steps = [s for s in walk.steps if s[0] != "answer"]
        # The answers a question came for (the host reports the others and exits 1).
        answers = answers[:len(r.questions())]
        steps = sent_typing(steps, walk.page, r.journal)
        if walk.function == 5:
            steps = offline_converted(steps, self.golden_device)
        if walk.function == 2:
            steps = trend_waits(steps)
        action = sw.Action(steps, answers, r, "walk")
        final = walk.page
        typed_on = {}
        for s in walk.steps:
            if s[0] == "page":
                final = s[1]
            elif s[0] == "type" and walk.function == 1:
                typed_on[s[1]] = "f1p%d" % final
        shown = sw.UI(walk.function, final)
        items = dict(tx.items_of(shown.name))
        for iid, on in typed_on.items():
            spec = tx.items_of(on).get(iid)
            if spec is not None:
                items.setdefault(iid, spec)
        action.units_seen = units_seen(walk, r, self.golden_device, items)
        self.failures = {}
        judge.judge(self, shown, action, ",".join(walk.faults) or None, Explorer(items), healthy=healthy)
        self.in_walk_order(walk, steps, answers, final, r)
        # An entry holds no more characters than its field's size: what was typed beyond them never
        # reached it, as in any edit with a size (the Send then judges what it holds).
        typed_last = {s[1]: s[2] for s in walk.steps if s[0] == "type"}
        for key in list(self.failures):
            iid = int(key[3]) if key[3].isdigit() else None
            shown = next((it["text"] for (_, i), it in r.items.items() if i == iid), None)
            text = typed_last.get(iid)
            if key[2] in ("lost", "invented") and text and shown and len(shown) < len(text) and text.startswith(shown):
                del self.failures[key]
        # A text the transmitter holds as blanks (a tag the user emptied) shows blank.
        after = tx.lines_of(r.device or self.golden_device)
        for key in list(self.failures):
            spec = items.get(int(key[3])) if key[2] == "blank" and key[3].isdigit() else None
            if spec is not None and spec.kind in ("packed", "latin") and (spec.expected(after) or ("", "x"))[1].strip() == "":
                del self.failures[key]
        found = {}
        what = action.describe() + (" with " + ",".join(walk.faults) if walk.faults else "") + ": "
        for (state, name, invariant, subject, where), (example, _) in self.failures.items():
            why = example.split("\n")[0]
            why = why[len(what):] if why.startswith(what) else why
            found.setdefault((name, invariant, subject), "%s (%s): %s" % (state, where, why))
        return found


    def in_walk_order(self, walk, steps, answers, final, run):
        """Takes back what the judge found that the walk's order disproves."""
        # The judge takes an action's steps as one: an entry counts as sent when the action has a
        # click. In a walk a button that sends must come after the entry was typed; a Refresh
        # after it reads the device's values anew over what was typed; an entry emptied by the
        # user is blank.
        last_typed = {s[1]: i for i, s in enumerate(walk.steps) if s[0] == "type"}
        sent = {iid for iid, at in last_typed.items() if any(s[0] == "click" and s[1] in SENDS
                                                               for s in walk.steps[at + 1:])}
        refreshed = {iid for iid, at in last_typed.items() if ("click", 356) in walk.steps[at + 1:]}
        emptied = {iid for iid, at in last_typed.items() if walk.steps[at][2].strip() == ""}
        # What the transmitter holds is no claim on an entry last typed after the last Send (the
        # judge takes the last text typed into an entry as the one sent).
        last_send = max((i for i, s in enumerate(walk.steps) if s[0] == "click" and s[1] in SENDS), default=-1)
        unsent = {iid for iid, at in last_typed.items() if at > last_send}
        # A page's Send sends that page's entries: one typed on a page never sent since is unsent.
        if walk.function == 1:
            page_at, page = [], walk.page
            for s in walk.steps:
                page = s[1] if s[0] == "page" else page
                page_at.append(page)
            unsent |= {iid for iid, at in last_typed.items()
                       if not any(s == ("click", 221) and page_at[j] == page_at[at]
                                  for j, s in enumerate(walk.steps[at + 1:], at + 1))}
        # An item of the page shown last that was typed on another page (the same id, as the unit
        # combo of the Command and Process pages) shows what that page shows.
        page, elsewhere = walk.page, set()
        for s in walk.steps:
            if s[0] == "page":
                page = s[1]
            elif s[0] == "type" and walk.function == 1:
                (elsewhere.add if page != final else elsewhere.discard)(s[1])
        # The judge excuses what a page is required to do by the page: in a walk, by each page
        # as the steps taken on it.
        on_page = {}
        page = walk.page
        for st_ in steps:
            if st_[0] == "page":
                page = st_[1]
            elif walk.function == 1:
                on_page.setdefault(page, []).append(st_)
        with_fault = " with " + ",".join(walk.faults) if walk.faults else ""
        failed = {req for req, _ in run.not_done} | {req for req, kind in judge.failing_requests(",".join(walk.faults))
                                                     if kind != "warned"}
        sends_on_hart = sum(1 for s in on_page.get(6, []) if s == ("click", 221))
        for key in list(self.failures):
            # The HART page's Send writes command 6 once for each of its two settings: each Send
            # of the walk.
            m = re.fullmatch(r"6#(\d+)", key[3])
            if m and key[2] in ("twice", "told") and sends_on_hart and judge.second_of_send(run.journal, failed, key[3]):
                del self.failures[key]
                continue
            if any(judge.excepted("f1p%d" % p, sw.describe(taken, answers) + with_fault, key[2], key[3])
                   for p, taken in on_page.items() if p != final):
                del self.failures[key]
        for key in list(self.failures):
            iid = int(key[3]) if key[3].isdigit() else None
            if iid in last_typed and (key[2] in ("told", "named") and (iid not in sent or iid in unsent) or key[2] == "lost" and iid in refreshed
                                      or key[2] == "blank" and iid in emptied or
                                      key[2] in ("written", "claim", "unit seen") and iid in unsent or
                                      key[2] in ("lost", "invented", "mark") and iid in elsewhere or
                                      # a refusal told before a Refresh read the entry anew
                                      key[2] == "blamed" and iid in refreshed and
                                      not any(st_[0] == "type" and st_[1] == iid for st_ in steps)):
                del self.failures[key]
            elif key[2] == "blamed" and iid is not None and _refreshed_alike(walk, steps, final, iid):
                del self.failures[key]


def _refreshed_alike(walk, steps, final, iid):
    """Whether an entry of the same name (the date's day, month, year) was typed in the walk and
    read anew by a Refresh, so that the judge's steps leave it out."""
    items = tx.items_of("f1p%d" % final if walk.function == 1 else "f%d" % walk.function)
    spec = items.get(iid)
    judged = {st_[1] for st_ in steps if st_[0] == "type"}
    return spec is not None and any(
        s[0] == "type" and s[1] not in judged and items.get(s[1]) is not None and items[s[1]].name == spec.name
        for s in walk.steps)


class Explorer:
    def __init__(self, items):
        self.items = items


# The offline parameter control's distances and the unit each is shown in.
OFFLINE_DISTANCES = {614: "rangeUnit", 615: "rangeUnit", 625: "pvUnit", 626: "pvUnit"}


def offline_converted(steps, device):
    """The steps as the judge is to see them: a distance typed into the offline parameter control,
    then a unit chosen, is the same distance in the unit chosen (the control converts every
    distance it shows into it)."""
    dev = tx.lines_of(device)
    unit = {line: tx.u8(dev, line) for line in ("rangeUnit", "pvUnit")}
    codes = dict(UNITS)
    out = []
    for s in steps:
        if s[0] == "type" and s[1] == 613 and s[2] in codes:
            new = codes[s[2]]
            for i, t in enumerate(out):
                if t[0] == "type" and t[1] in OFFLINE_DISTANCES:
                    try:
                        value = float(t[2])
                    except ValueError:
                        continue
                    # A number beyond a float's range is no distance: the entry keeps it, and its unit.
                    if value == value and abs(value) <= 3.4028234663852886e38:
                        was = unit[OFFLINE_DISTANCES[t[1]]]
                        out[i] = ("type", t[1], "%.9g" % tx.convert(value, was, new))
            unit = {line: new for line in unit}
        out.append(s)
    return out


def taken(walk, run):
    """The walk as far as the host took it: a step it could not take (an item hidden, greyed or
    read-only) stops the run there, and the steps after it never came."""
    count = sum(1 for line in run.journal if line.startswith("step ") and not line.startswith("step close"))
    # The Digitize's pause the runner adds before the steps when the walk lets no time pass.
    if ("click", 546) in walk.steps and not any(s[0] == "wait" for s in walk.steps):
        count -= 1
    out, n = [], 0
    for s in walk.steps:
        if s[0] != "answer":
            n += 1
            if n > count:
                break
        out.append(s)
    if n <= count:
        return walk
    return Walk(walk.state, walk.function, walk.page, walk.faults, walk.status, walk.warned, walk.offline, out)


def sends_that_sent(journal):
    """For each click of a button that sends, in order: whether it sent anything (a Send the page
    held back for an invalid entry sends no request)."""
    out, clicked = [], False
    for line in journal:
        if line.startswith("step "):
            m = re.fullmatch(r"step click (\d+)", line)
            clicked = bool(m) and int(m.group(1)) in SENDS
            if clicked:
                out.append(False)
        elif clicked and line.startswith("request "):
            out[-1] = True
    return out


def sent_typing(steps, first_page=None, journal=None):
    """The steps as the judge is to see them: an entry a Refresh read anew over before a Send is
    left out (a Send that sent nothing does not count)."""
    sent = sends_that_sent(journal) if journal is not None else []
    send_no = {}
    for i, s in enumerate(steps):
        if s[0] == "click" and s[1] in SENDS:
            send_no[i] = len(send_no)
    # A Refresh reads the page shown: an entry typed on another page stays pending there.
    refreshed = set()
    for i, s in enumerate(steps):
        if s[0] == "type":
            typed_on = first_page or 0  # the page shown: the walk's first (0 unless given), or the last page step
            for earlier in steps[:i]:
                if earlier[0] == "page":
                    typed_on = earlier[1]
            shown = typed_on
            for j, later in enumerate(steps[i + 1:], i + 1):
                if later[0] == "page":
                    shown = later[1]
                if later[0] == "click" and later[1] in SENDS and (journal is None or send_no[j] >= len(sent) or
                                                                  sent[send_no[j]]):
                    break
                if later == ("click", 356) and shown == typed_on:
                    refreshed.add(i)
                    break
    return [s for i, s in enumerate(steps) if i not in refreshed]


def trend_waits(steps):
    """The steps as the judge is to see them: time let pass while the trend is stopped, or before a
    sampling period passed, shows nothing the judge would see (it takes a wait in the trend view
    for a running trend that sampled)."""
    out, running, period, elapsed = [], False, 10000, 0
    for s in steps:
        if s == ("click", 407):
            running, elapsed = not running, 0
        if s[0] == "type" and s[1] == 703:
            period = int(float(s[2].split()[0]) * 1000)
        if s[0] == "wait":
            elapsed += s[1]
            # The pens show values once a sampling period passed with the trend running.
            if not running or elapsed < period:
                continue
        out.append(s)
    return out


def units_seen(walk, run, device, items):
    """The unit each distance was typed in, where the transmitter's unit changed after it was typed
    and before the walk ended: the unit the transmitter was in when it was typed."""
    dev = tx.lines_of(device)
    unit = {"rangeUnit": tx.u8(dev, "rangeUnit"), "pvUnit": tx.u8(dev, "pvUnit")}
    chosen, typed, seen, changed_after = None, {}, {}, set()
    unit_names = {u: code for u, code in UNITS}
    done = [req for req in run.requests if req.split("#")[0] == "44" and req not in {q for q, _ in run.not_done}]
    for line in run.journal:
        m = re.match(r"^step type (\d+)=(.*)$", line)
        if m:
            iid = int(m.group(1))
            if m.group(2) in unit_names and iid in (381, 613):
                chosen = unit_names[m.group(2)]
                # The offline parameter control shows its distances in the unit chosen at once.
                if iid == 613:
                    unit = {"rangeUnit": chosen, "pvUnit": chosen}
            spec = items.get(iid)
            if spec is not None and spec.kind == "float" and spec.unit in unit:
                typed[iid] = unit[spec.unit]
                changed_after.discard(iid)
            continue
        m = re.match(r"^request (44#\d+)$", line)
        if m and m.group(1) in done and chosen is not None:
            unit = {"rangeUnit": chosen, "pvUnit": chosen}
            changed_after |= set(typed)
    for iid in changed_after:
        if typed[iid] in tx.METRES:
            seen[iid] = typed[iid]
    return seen


# ---- The store -----------------------------------------------------------------------------------

def read_store(path, marked=False):
    """The store's walks; with `marked`, each with whether an `# open:` line before it says its fault
    is known and not mended yet (replayed and reported, not failing the run, until it passes)."""
    out = []
    open_ = False
    if os.path.exists(path):
        with open(path, encoding="utf-8") as f:
            for line in f:
                line = line.rstrip("\n")
                if line.startswith("# open:"):
                    open_ = True
                elif line.strip() and not line.startswith("#"):
                    out.append((line, open_) if marked else line)
                    open_ = False
    return out


def add_to_store(path, walk, found):
    """Appends a walk with what it shows, unless a walk there shows the same faults."""
    with open(path, "a+", encoding="utf-8") as f:
        fcntl.flock(f, fcntl.LOCK_EX)
        f.seek(0)
        text = f.read()
        keys = ["%s | %s | %s" % k for k in sorted(found)]
        if all("# " + k + ":" in text for k in keys):
            return False
        f.seek(0, os.SEEK_END)
        for k in sorted(found):
            f.write("# %s | %s | %s: %s\n" % (k[0], k[1], k[2], one_line(found[k])))
        f.write(walk.line() + "\n")
        fcntl.flock(f, fcntl.LOCK_UN)
    return True


def one_line(text):
    return re.sub(r"\s+", " ", text)[:400]


def check_lines(examples=150):
    """Every drawn walk reads back from its command lines as the same walk: the store keeps walks
    as command lines only. Returns the walks that do not."""
    bad = []

    @hypothesis.settings(max_examples=examples, deadline=None, database=None,
                         suppress_health_check=list(hypothesis.HealthCheck))
    @hypothesis.seed(0)
    @hypothesis.given(walks())
    def roundtrip(walk):
        again = parse_line(walk.line())
        if (again.state, again.ui_args()) != (walk.state, walk.ui_args()):
            bad.append(walk.line())
    roundtrip()

    @hypothesis.settings(max_examples=examples * 4, deadline=None, database=None)
    @hypothesis.seed(0)
    @hypothesis.given(st.text(alphabet="".join(CLASSES.values()) + "=", max_size=12))
    def quoted(text):
        if split_line(quote(text)) != [text]:
            bad.append(quote(text))
    quoted()
    return bad


def fault_class(key, why):
    """What makes two faults one for a campaign: an entry held back unnamed by another's invalid
    entry, whichever entry; an entry taking typing offline, whichever entry."""
    name, invariant, subject = key
    if invariant == "told" and re.search(r"(its entry is|their entries are) not valid", why):
        return (name.rstrip("0123456789"), invariant, "held back by an invalid entry")
    if invariant == "offline" or invariant == "mark" and "offline" in why:
        return (name.rstrip("0123456789"), invariant, "an entry")
    return key


def classes(found):
    return {fault_class(k, why): why for k, why in found.items()}


def replay(walker, path, known):
    """Each stored walk, first: returns the lines that still show a fault."""
    failing = []
    for line, known_open in read_store(path, marked=True):
        try:
            w = parse_line(line)
        except (ValueError, IndexError) as e:
            print("STORE cannot read %r: %s" % (line, e))
            failing.append(line)
            continue
        found = walker.judge_walk(w)
        known.update(classes(found))
        if found and known_open:
            print("OPEN WALK (a known fault, not mended yet) still fails:\n  %s" % line)
        elif known_open:
            print("OPEN WALK passes now: take its `# open:` line away:\n  %s" % line)
            failing.append(line)
        elif found:
            failing.append(line)
            print("STORED WALK still fails:\n  %s" % line)
        for k, why in sorted(found.items()):
            print("    %s | %s | %s: %s" % (k[0], k[1], k[2], one_line(why)))
    return failing


# ---- Hypothesis ------------------------------------------------------------------------------------

class NewFault(AssertionError):
    pass


def search(walker, seed, examples, known, shrink, deadline=None):
    """Draws `examples` walks from `seed`; returns (the shortest walk showing a fault not in `known`,
    its new faults) or None. Shrinking stops looking at new walks after a while: the cached verdicts
    keep Hypothesis's view of the walks it saw consistent."""
    best = {}
    state = {"shrink_runs": 0}
    phases = [hypothesis.Phase.generate] + ([hypothesis.Phase.shrink] if shrink else [])

    @hypothesis.settings(max_examples=examples, deadline=None, database=None, phases=phases,
                         suppress_health_check=list(hypothesis.HealthCheck), report_multiple_bugs=False,
                         verbosity=hypothesis.Verbosity.quiet)
    @hypothesis.seed(seed)
    @hypothesis.given(walks())
    def prop(walk):
        line = walk.line()
        if best and line not in walker.cache:
            state["shrink_runs"] += 1
            if state["shrink_runs"] > 250 or (deadline and time.time() > deadline):
                return  # no more runs: an unseen walk counts as passing
        elif not best and deadline and time.time() > deadline and line not in walker.cache:
            return
        found = walker.judge_walk(walk)
        new = {k: v for k, v in found.items() if fault_class(k, v) not in known}
        if new:
            size = (len(walk.steps) + len(walk.faults), len(line))
            target = best.get("walk")
            # The shrinker keeps to the fault it first found, or others as short.
            if target is None or size < best["size"]:
                best.update(walk=walk, size=size, new=new)
            raise NewFault(sorted(new)[0])

    try:
        prop()
    except NewFault:
        pass
    except hypothesis.errors.Flaky as e:
        print("a walk's verdict changed when run again (%s)" % e)
    if best:
        return best["walk"], best["new"]
    return None


def print_found(walk, new, stream=sys.stdout):
    print("WALK FAULT (%d steps):" % len(walk.steps), file=stream)
    for k, why in sorted(new.items()):
        print("  %s | %s | %s: %s" % (k[0], k[1], k[2], one_line(why)), file=stream)
    print("  " + walk.line(), file=stream, flush=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("host")
    ap.add_argument("--store", default=STORE)
    ap.add_argument("--replay", action="store_true", help="replay the store only")
    ap.add_argument("--no-replay", action="store_true", help="draw walks without replaying the store first")
    ap.add_argument("--seed", type=int, help="the seed (a campaign without one takes a new one)")
    ap.add_argument("--walks", type=int, default=0, help="draw this many walks (the suite's shards)")
    ap.add_argument("--minutes", type=float, default=0, help="a campaign of this length")
    ap.add_argument("--jobs", type=int, default=1, help="a campaign's processes, each with its own seed")
    ap.add_argument("--no-shrink", action="store_true")
    ap.add_argument("--no-record", action="store_true", help="a campaign prints what it finds, keeps none")
    ap.add_argument("--show", metavar="LINE", help="run one walk (a store line), print what it printed and the verdict")
    args = ap.parse_args()
    if args.show:
        walker = Walker(args.host)
        try:
            walk = parse_line(args.show)
            found = walker.judge_walk(walk)
            print(walker.last_out)
            for k, why in sorted(found.items()):
                print("FAULT %s | %s | %s: %s" % (k[0], k[1], k[2], why))
            return 1 if found else 0
        finally:
            walker.close()
    if args.jobs > 1:
        seed = args.seed if args.seed is not None else random.SystemRandom().randrange(1 << 30)
        procs = []
        for j in range(args.jobs):
            cmd = [sys.executable, os.path.abspath(__file__), args.host, "--store", args.store, "--seed",
                   str(seed + 7919 * j), "--minutes", str(args.minutes)] + \
                  (["--no-replay"] if args.no_replay or j > 0 else []) + (["--no-record"] if args.no_record else []) + \
                  (["--no-shrink"] if args.no_shrink else [])
            procs.append(subprocess.Popen(cmd))
        return max(p.wait() for p in procs)
    walker = Walker(args.host)
    started = time.time()
    failing_lines = False
    known = {}
    try:
        if args.replay:
            for line in check_lines():
                print("WALK LINE does not read back as the same walk: %s" % line)
                failing_lines = True
        failing = [] if args.no_replay else replay(walker, args.store, known)
        if args.replay:
            print("walks: %d stored walks replayed, %d still fail" % (len(read_store(args.store)), len(failing)))
            return 1 if failing or failing_lines else 0
        if args.minutes:
            seed = args.seed if args.seed is not None else random.SystemRandom().randrange(1 << 30)
            print("walks campaign: seed %d, %.0f minutes (again: walks.py HOST --seed %d --minutes %g)" % (
                seed, args.minutes, seed, args.minutes), flush=True)
            end = started + args.minutes * 60
            found_count, round_ = 0, 0
            while time.time() < end:
                got = search(walker, seed + round_, 40, known, not args.no_shrink, deadline=end)
                round_ += 1
                if got:
                    walk, new = got
                    found_count += 1
                    known.update(classes(new))
                    print_found(walk, new)
                    if not args.no_record and add_to_store(args.store, walk, new):
                        print("  (added to %s)" % args.store, flush=True)
            print("walks campaign: %d walks run in %.0f s, %d new faults" % (walker.walks, time.time() - started,
                                                                          found_count))
            return 0
        seed = args.seed if args.seed is not None else 0
        # Faults of the stored walks (those marked open among them) are known: a shard fails on a new one.
        got = search(walker, seed, args.walks, known, not args.no_shrink)
        print("walks: seed %d, %d walks drawn, %d runs judged in %.0f s" % (
            seed, args.walks, walker.walks, time.time() - started))
        if got:
            print_found(*got)
            return 1
        return 0
    finally:
        walker.close()


if __name__ == "__main__":
    sys.exit(main())
