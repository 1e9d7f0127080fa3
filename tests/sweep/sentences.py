"""Every sentence the user interfaces and the host tell, as forms: each sentence told is one of
them, or it is a fault. A form is a pattern with named parts (the entries it names, a reason, a
value, limits); what each form claims about the transmitter is the judge's (judge.check_sentences),
held against the device file before and after the run. The forms were gathered from what the user
interfaces say; their meanings are the tests' own.
"""
import re

# A list of names: "Hi Level", "Tag and Descriptor", "\"Low Level\" and \"Hi Level\"", "A, B and C".
NAMES = r"(?P<names>[^:;]+?)"
NUMBER = r"-?\d+(?:\.\d+)?"
UNIT = r"(?:m|ft|in|cm|mm|mA|%|Sec\.?|s)"
CODE = r"0x(?P<code>[0-9A-F]{2})(?: \((?P<meaning>[^)]*)\))?"

# Why something did not happen: the ends of "X was not written: ...", "X could not be read: ...",
# "X failed: ...". Each names what it means; a reason of no form is a fault.
REASONS = [
    ("refused", r"the device refused (?:it|them): " + CODE),
    ("refused", r"the device refused (?:it|them) \(response code (?P<code2>\d+)\)"),
    ("no answer", r"the device did not answer"),
    ("busy", r"the device is busy"),
    ("lost", r"the device's answer was lost"),
    ("link", r"the connection to the device is lost"),
    ("not taken", r"the request did not reach the device"),
    ("offline", r"no device is connected"),
    ("invalid", r"its entry is not valid(?:: (?P<limits>.+))?"),
    ("invalid", r"their entries are not valid(?: \((?P<limits>.+)\))?"),
    ("invalid", r"their entries are not valid: (?P<limits>.+)"),
    ("unread", r"(?:it|they) could not be read"),
    ("unread with", r"(?:it goes|they go) to the device with (?P<unread>.+), which could not be read"),
    ("unit unread", r"the unit (?:it is|they are) given in could not be read"),
    ("other invalid", r"(?P<other>.+?) holds an entry that is not valid"),
    ("other invalid", r"(?P<other>.+?) hold entries that are not valid"),
    ("stopped", r"the Send stopped at (?P<stopped>.+)"),
    ("stopped", r"the Send stopped before (?:it|them)"),
    ("part unread", r"part(?:s)? of (?:it|them) could not be read(?:: .+)?"),
    ("counter unread", r"the configuration change counter was not read"),
]

FORMS = [
    ("download failed", r"^The download did not go through: (?P<why>.+)$"),
    # What was done.
    ("written", r"^" + NAMES + r" (?:was|were) written$"),
    ("written warned", r"^" + NAMES + r" (?:was|were) written; the device warns: " + CODE + r"$"),
    ("done warned", r"^" + NAMES + r" was done; the device warns: " + CODE + r"$"),
    ("trim written", r"^The (?P<trim>zero|gain) trim was written(?:; the device warns: " + CODE + r")?$"),
    ("fixed", r"^(?:The loop current was|Field device output is) fixed at (?P<value>" + NUMBER + r") mA"
              r"(?:; the device warns: " + CODE + r")?$"),
    ("given back", r"^The loop current was given back(?:; the device warns: " + CODE + r")?$"),
    ("not online", r"^the DTM could not go online to the device$"),
    ("setting", r"^Setting field device output to (?P<value>" + NUMBER + r") mA$"),
    ("procedure done", r"^(?:Auto-Digitize routine completed successfully|SELF TEST PASSED)"
                       r"(?:; the device warns: " + CODE + r")?$"),
    # What was not done, and why.
    ("not written", r"^" + NAMES + r" (?:was|were) not written: (?P<why>.+)$"),
    ("not sent", r"^" + NAMES + r" (?:was|were) not sent: (?P<why>.+)$"),
    ("nothing written", r"^Nothing was written: (?P<why>no device is connected|the page is still reading the "
                        r"device)$"),
    ("send again", r"^Send again once its values are in$"),
    ("not read", r"^" + NAMES + r" could not be read(?:: (?P<why>.+))?$"),
    ("not shown", r"^" + NAMES + r" could not be shown: the device's (?:value is not a finite number|values are "
                  r"not finite numbers)$"),
    ("read failed", r"^Reading the echo data failed: (?P<why>.+)$"),
    ("failed", r"^" + NAMES + r" failed(?:: (?P<why>.+))?$"),
    ("self test failed", r"^(?P<count>\d+) test\(s\) FAILED!, SELF TEST FAILED$"),
    ("digitize failed", r"^Auto-Digitize routine failed$"),
    ("no answer", r"^The device did not answer the command$"),
    ("identification", r"^The device did not take the new identification$"),
    ("change not written", r"^The change was not written$"),
    ("new value", r"^The device did not take the new value$"),
    ("tag read", r"^The device's tag, descriptor and date could not be read; nothing was written$"),
    ("trend", r"^The trend did not start: (?P<why>.+)$"),
    # What the page changed of an entry, and why.
    ("set to limit", r"^(?P<name>.+?) was set to (?P<value>" + NUMBER + r") (?P<unit>\S+), the sensor's limit$"),
    ("set to span", r"^(?P<name>.+?) was set to (?P<value>" + NUMBER + r") (?P<unit>\S+), the minimum span of "
                    r"(?P<span>" + NUMBER + r") (?P<spanunit>\S+) from (?P<other>.+)$"),
    ("set to step", r"^(?P<name>.+?) was set to (?P<value>" + NUMBER + r") %, the step of 0\.4 % below the entry$"),
    ("converted", r"^(?P<name>.+?) was converted from (?P<a>" + NUMBER + r") (?P<ua>\S+) to (?P<b>" + NUMBER +
                  r") (?P<ub>\S+): the device's unit changed$"),
    ("given up", r"^(?P<name>.+?) was given up: its unit changed to (?P<unit>\S+), which it cannot be given in$"),
    # A download of the offline parameter control.
    ("download held", r"^The device now holds what the download wrote before it stopped \((?P<held>[^)]*)\)"
                      r"(?:, not the changes (?P<lacks>.+?))?(?:; they stay in the data set)?$"),
    ("download none", r"^The device was not changed(?:: it holds none of the changes \((?P<lacks>[^)]*)\))?"
                      r"(?:; they stay in the data set)?$"),
    ("data set kept", r"^The changes stay in the data set$"),
    ("download went", r"^The download went through: (?P<names>.+?) (?:was|were) written; the device warns: " + CODE +
                      r"$"),
    # The loop current's controls.
    ("not confirmed", r"^The field device did not confirm (?P<what>.+?) \((?P<why>.+)\): (?P<then>[^()]+)$"),
    ("link lost fixed", r"^The connection to the field device was lost while its loop current was fixed: the loop "
                        r"current may still be fixed$"),
    ("given back later", r"^It is given back when the device is online again$"),
    ("close as is", r"^If you close now, the loop stays as it is$"),
    ("choose again", r"^Choose the level again(?: when the device is online)?$"),
    ("went offline", r"^The device went offline: the procedure was stopped and nothing is fixed any more$"),
    ("not connected", r"^The device is not connected: no output level was written, the loop current is not fixed$"),
    ("loop back", r"^(?:NOTE-)?Loop may be returned to automatic control$"),
    ("level limits", r"^The level must lie between (?P<lo>" + NUMBER + r") and (?P<hi>" + NUMBER + r") mA$"),
    ("reading limits", r"^The reading must lie within (?P<within>" + NUMBER + r") mA of (?P<value>" + NUMBER +
                       r") mA$"),
    ("enter reading", r"^Enter the reference meter's reading in mA$"),
    ("not a number", r"^The value is not a number$"),
    ("enter current", r"^Enter the current in mA, for example 4\.000$"),
]
COMPILED = [(name, re.compile(p)) for name, p in FORMS]
# A reason may name whose request met it: "the device is busy (Units Select)".
COMPILED_REASONS = [(name, re.compile("^" + p + r"(?: \((?P<whose>[^()]*)\))?$")) for name, p in REASONS]
# The forms whose `why` part is a reason of the table above.
WITH_REASON = {"not written", "not sent", "not read", "failed", "read failed", "download failed"}


def split(text):
    """The sentences of a text: split after a full stop, question or exclamation mark that a capital
    or a quote follows ("No. and" stays one sentence), the last full stop dropped."""
    text = text.replace("\r\n", " ").replace("\n", " ").strip()
    parts = re.split(r"(?<=[.!?])\s+(?=[A-Z\"])", text)
    out = []
    for p in parts:
        p = p.strip()
        if p.endswith(".") and not re.search(r"\b(?:No|e\.g|etc)\.$", p):
            p = p[:-1]
        if p:
            out.append(p)
    return out


# A message's title before its text ("Download Parameters: The download ..."): it names the window.
TITLE = re.compile(r"^[A-Z][A-Za-z ]{1,40}: (?=[A-Z\"])")


def without_title(text):
    """The text without the title a message puts before it, when what follows is a sentence of a
    form and the whole is not."""
    m = TITLE.match(text)
    if m and form_of(split(text)[0])[0] is None and form_of(split(text[m.end():])[0])[0] is not None:
        return text[m.end():]
    return text


def form_of(sentence):
    """(form name, match) of a sentence, or (None, None)."""
    for name, pattern in COMPILED:
        m = pattern.match(sentence)
        if m:
            return name, m
    return None, None


def reasons_of(why):
    """The reasons a `why` part gives, each (name, match); a part of no form gives (None, text).
    Several reasons may follow each other ("the device refused it: 0x07 (...); Damping ...")."""
    out = []
    # Split at "; " outside parentheses: a reason's limits may hold one ("(...; a-z are taken as A-Z)").
    parts, depth, start = [], 0, 0
    for i, ch in enumerate(why):
        depth += {"(": 1, ")": -1}.get(ch, 0)
        if depth == 0 and why.startswith("; ", i):
            parts.append(why[start:i])
            start = i + 2
    parts.append(why[start:])
    for part in parts:
        for name, pattern in COMPILED_REASONS:
            m = pattern.match(part)
            if m:
                out.append((name, m))
                break
        else:
            out.append((None, part))
    return out


def name_list(names):
    """The entries a list of names gives: "A", "A and B", "A, B and C", quotes dropped."""
    names = names.strip()
    parts = re.split(r", | and ", names)
    return [p.strip().strip('"') for p in parts if p.strip()]


# What a sentence may name besides the entries and items of the user interfaces: the things a
# read or a procedure stands for.
PHRASES = {"the device tag", "the device's identity", "the distance reading", "the loop current", "the probe length",
           "the sensor limits", "the echo data", "the device status", "the self test results", "self test results",
           "the additional device status", "the configuration change counter", "the device values",
           "sensor serial no.", "private label distributor", "the advanced settings", "the sensor limit",
           "the zero trim", "the gain trim", "auto-digitize routine"}

# The host's last line when a run did not do all it was asked ("vkr-frame: ..."): what it says.
HOST_FORMS = [
    ("not done", r"^not all was done: HART command (?P<req>\d+#\d+): (?P<why>.+?)(?: \(and \d+ more requests? not "
                 r"done\))?; the user interface told (?:(?P<nothing>nothing of it)|last: (?P<last>.*))$"),
    ("invalid entry", r"^the control is still open with an invalid entry(?: \(item (?P<item>\d+)\))?: it refused OK"
                      r"(?: and applied nothing|; applied: .+)$"),
    ("page refused", r"^page (?P<page>\d+) refused its Send: (?P<told>.+)$"),
    ("no item", r"^the user interface has no item .+$"),
    ("unreachable", r"^the user interface could not reach the transmitter: .+$"),
    ("download", r"^the download failed: .+$"),
    ("answers", r"^not every --answer answered its question$"),
    ("stays open", r"^OK: the control stays open because the user answered Cancel$"),
    ("closed", r"^the user interface (?:closed|did not settle|did not open).*$"),
    ("close", r"^.*(?:would not close|did not close|refused to close).*$"),
]
HOST_COMPILED = [(name, re.compile(p)) for name, p in HOST_FORMS]


def host_form_of(line):
    """(form name, match) of the host's last line without its "vkr-frame: ", or (None, None)."""
    line = re.sub(r"^vkr-frame: ", "", line.strip())
    for name, pattern in HOST_COMPILED:
        m = pattern.match(line)
        if m:
            return name, m
    return None, None
