"""What the simulated transmitter holds, and what each item of the user interfaces shows of it.

The device file is the transmitter's memory: one `name hex` line a setting. The values the
transmitter computes (the level, the loop current, the percent of range, the other device
variables) follow from it as the simulated transmitter computes them. ITEMS says, for each item a
user interface shows, which bytes of which line it shows, of which type and in which unit, and
through which HART answer; `self_test` holds that table against the parameter table
(parameters/DeviceParameterTable.md), so that it cannot drift from the DTM's parameters silently.
"""
import os
import re
import struct

import expect as ex

# ---- The device file -----------------------------------------------------------------------------

def lines_of(text):
    out = {}
    for line in text.splitlines():
        if line.strip():
            key, _, value = line.partition(" ")
            out[key] = value.strip()
    return out


def raw(dev, line):
    return bytes.fromhex(dev.get(line, "") or "")


def f32(data, at=0):
    if len(data) < at + 4:
        return None
    return struct.unpack(">f", data[at:at + 4])[0]


def f32_hex(value):
    return struct.pack(">f", value).hex().upper()


def unpack_ascii(data):
    """HART Packed ASCII: four 6-bit characters in three bytes, codes below 32 are letters."""
    out = []
    for i in range(0, len(data) - len(data) % 3, 3):
        word = (data[i] << 16) | (data[i + 1] << 8) | data[i + 2]
        for shift in (18, 12, 6, 0):
            code = (word >> shift) & 0x3F
            out.append(chr(code + 64 if code < 32 else code))
    return "".join(out)


def pack_ascii(text, size):
    text = text.upper().ljust(size * 4 // 3)[:size * 4 // 3]
    out = bytearray()
    for i in range(0, len(text), 4):
        word = 0
        for ch in text[i:i + 4]:
            word = (word << 6) | (ord(ch) & 0x3F)
        out += bytes(((word >> 16) & 0xFF, (word >> 8) & 0xFF, word & 0xFF))
    return bytes(out)


# ---- Units ---------------------------------------------------------------------------------------

METRES = ex.METRES
# What a label may say for a unit: the combo's item, the short text beside a number.
UNIT_TEXTS = {
    44: ("Feet (ft)", "ft", "feet"), 45: ("Metres (m)", "meters", "m"), 47: ("Inches (in)", "in"),
    48: ("Centimetres (cm)", "cm"), 49: ("Millimetres (mm)", "mm"), 32: ("Degrees Celsius (°C)",),
    57: ("Percent (%)", "%"), 39: ("Milliamperes (mA)", "mA"),
}
UNIT_OF_TEXT = {t: code for code, texts in UNIT_TEXTS.items() for t in texts}


def convert(value, frm, to):
    if frm == to or frm not in METRES or to not in METRES:
        return value
    return value * METRES[frm] / METRES[to]


# ---- The transmitter's own values ----------------------------------------------------------------
# The level it measures is the same 2.5 m whatever its PV unit, the distance 3.5 m, the temperature
# 21 degrees, the fourth variable 41.7 %.
LEVEL_METRES, DISTANCE_METRES, TEMPERATURE, FOURTH = 2.5, 3.5, 21.0, 41.7


def f32round(x):
    return struct.unpack(">f", struct.pack(">f", x))[0]


def u8(dev, line, at=0):
    data = raw(dev, line)
    return data[at] if len(data) > at else None


def pv(dev):
    return f32round(convert(LEVEL_METRES, 45, u8(dev, "pvUnit")))


def percent(dev):
    upper, lower = f32(raw(dev, "upperRange")), f32(raw(dev, "lowerRange"))
    level = f32round(convert(pv(dev), u8(dev, "pvUnit"), u8(dev, "rangeUnit")))
    span = f32round(upper - lower)
    return 0.0 if span == 0 else (level - lower) / span * 100.0


def analog_mode(dev):
    data = raw(dev, "echoSettings")
    return data[1] if len(data) > 1 else 0


def current(dev):
    fixed = f32(raw(dev, "fixedCurrent"))
    if fixed:
        return fixed
    if u8(dev, "loopCurrentMode") == 0:
        return 4.0
    share = min(max(percent(dev), -1.25), 103.125) / 100.0
    return {1: 20.0 - 16.0 * share, 4: 4.0, 5: 8.0, 6: 12.0}.get(analog_mode(dev), 4.0 + 16.0 * share)


def follows_pv(dev):
    return not f32(raw(dev, "fixedCurrent")) and u8(dev, "loopCurrentMode") != 0 and analog_mode(dev) not in (4, 5, 6)


def pv_outside_limits(dev):
    unit = u8(dev, "limitsUnit")
    level = convert(LEVEL_METRES, 45, unit)
    a, b = f32(raw(dev, "upperSensorLimit")), f32(raw(dev, "lowerSensorLimit"))
    lo, hi = min(a, b), max(a, b)
    slack = 1e-6 * max(1.0, abs(hi))
    return level > hi + slack or level < lo - slack


def status_bits(dev):
    """The device status byte's bits as the transmitter sets them from its memory: configuration
    changed, loop current fixed or saturated, PV out of limits (more status and cold start depend
    on what the masters did and are judged apart)."""
    bits = 0
    if u8(dev, "configChanged"):
        bits |= 0x40
    p = percent(dev)
    if not follows_pv(dev):
        bits |= 0x08
    elif p < -1.25 or p > 103.125:
        bits |= 0x04
    if pv_outside_limits(dev):
        bits |= 0x01
    return bits


MODEL = {
    "pv": lambda d: (pv(d), u8(d, "pvUnit")),
    "current": lambda d: (current(d), 39),
    "percent": lambda d: (percent(d), 57),
    "sv": lambda d: (DISTANCE_METRES, 45),
    "tv": lambda d: (TEMPERATURE, 32),
    "qv": lambda d: (FOURTH, 57),
}

# ---- Where each line stands in the transmitter's answers -----------------------------------------
# line -> (the command that reads it, the byte its first byte is at in the answer)
LINE_IN_ANSWER = {
    "alarmSelect": (15, 0), "transferFunction": (15, 1), "rangeUnit": (15, 2), "upperRange": (15, 3),
    "lowerRange": (15, 7), "damping": (15, 11), "writeProtect": (15, 15), "pvUnit": (1, 0),
    "message": (12, 0), "tagDescriptorDate": (13, 0), "finalAssembly": (16, 0), "longTag": (20, 0),
    "limitsUnit": (14, 3), "upperSensorLimit": (14, 4), "lowerSensorLimit": (14, 8), "minimumSpan": (14, 12),
    "displaySettings": (135, 0), "echoSettings": (137, 0), "pollingAddress": (7, 0), "loopCurrentMode": (7, 1),
    "configChangeCounter": (0, 14),
}


class Item:
    """An item a user interface shows of the transmitter.

    kind: float (a float of `line` at `at`, in the unit of line `unit` or the code `unit`), code
    (a byte of `line` at `at`, shown as `texts[code]` or as a number), packed (Packed ASCII), latin
    (a zero-ended Latin-1 text), number (an unsigned of `size` bytes), model (a value the
    transmitter computes: `line` names it), memory (a device memory word), const (a text that never
    changes), status (a lamp of the status byte's bit `at`).
    cmd/ans: the answer that carries it (command, byte); param: the DTM parameter that reads it
    (checked against the parameter table), None when the DTM has none of its own.
    label: the item that names its unit. writes: the command that writes it. decimals: shown so.
    """

    def __init__(self, uis, item, name, kind, line=None, at=0, size=1, unit=None, label=None, cmd=None,
                 ans=None, param=None, texts=None, decimals=None, writes=None, scale=1.0, offset=0):
        self.uis, self.item, self.name, self.kind = uis, item, name, kind
        self.line, self.at, self.size, self.unit, self.label = line, at, size, unit, label
        self.cmd, self.ans, self.param, self.texts = cmd, ans, param, texts
        self.decimals, self.writes, self.scale, self.offset = decimals, writes, scale, offset
        if self.cmd is None and line in LINE_IN_ANSWER:
            self.cmd, first = LINE_IN_ANSWER[line]
            self.ans = first + at

    def applies(self, ui):
        return re.fullmatch(self.uis, ui) is not None

    def unit_code(self, dev):
        if isinstance(self.unit, int):
            return self.unit
        if self.unit:
            return u8(dev, self.unit)
        return None

    def expected(self, dev):
        """What the item shows of this transmitter: ("number", value, unit code or None) or
        ("text", text); None when this transmitter does not say."""
        if self.kind == "model":
            value, unit = MODEL[self.line](dev)
            return ("number", value, unit)
        if self.kind == "float":
            value = f32(raw(dev, self.line), self.at)
            return None if value is None else ("number", value, self.unit_code(dev))
        data = raw(dev, self.line) if self.line else b""
        if self.kind == "code":
            if len(data) <= self.at:
                return None
            code = data[self.at]
            if self.texts is not None:
                return ("text", self.texts.get(code, "")) if code in self.texts else None
            return ("number", code * self.scale + self.offset, None)
        if self.kind == "number":
            if len(data) < self.at + self.size:
                return None
            return ("number", int.from_bytes(data[self.at:self.at + self.size], "big") + self.offset, None)
        if self.kind == "packed":
            return ("text", unpack_ascii(data[self.at:self.at + self.size]))
        if self.kind == "latin":
            text = data[self.at:self.at + self.size].split(b"\0")[0]
            return ("text", text.decode("latin-1"))
        if self.kind == "memory":
            word = memory_word(dev, self.at)
            return ("text", self.texts[word & self.size])
        if self.kind == "const":
            return ("text", self.texts)
        return None


def memory_word(dev, address):
    data = raw(dev, "memory")
    for i in range(0, len(data) - 3, 4):
        if int.from_bytes(data[i:i + 2], "big") == address:
            return int.from_bytes(data[i + 2:i + 4], "big")
    return 0


FRAME = r"f1p\d+"      # every page of the online frame
PAGE = lambda n: r"f1p%d" % n
DISPLAY_MODES = {3: "Level", 4: "% Level", 5: "Distance"}
TRACKING = {0: "Slow", 1: "Medium", 2: "Fast", 3: "Velomode", 4: "Test"}
DIELECTRIC = {0: " < 2", 1: " < 5", 2: " < 10", 3: " < 20", 4: " < 40", 5: " < 80", 6: " > 80"}
FAIL_MODES = {1: "3.80 mA", 2: " > 20.20 mA", 3: "Last Known", 4: "4.00 mA", 5: "20.00 mA", 6: "> 21.50 mA"}
ANALOG_MODES = {0: "4 - 20 mA", 1: "20 - 4 mA", 4: "Park 4 mA", 5: "Park 8 mA", 6: "Park 12 mA"}
UNIT_ITEMS = {code: texts[0] for code, texts in UNIT_TEXTS.items() if code in METRES}
LOOP_MODES = {0: "Disabled", 1: "Enabled"}
TRANSFER = {0: "Linear"}
PROTECT = {0: "No", 1: "Yes"}

ITEMS = [
    # The online frame, on every page: the tag and the distance reading.
    Item(FRAME, 583, "Device Tag", "packed", "tagDescriptorDate", 0, 6, param=1054),
    Item(FRAME, 688, "the distance reading", "model", "pv", cmd=1, ans=1, param=1029, unit="pvUnit", label=659,
         decimals=3),
    # The Command page.
    Item(PAGE(0), 383, "Display Mode", "code", "displaySettings", 0, texts=DISPLAY_MODES, param=1064, writes=136),
    Item(PAGE(0), 381, "Display Unit", "code", "pvUnit", texts=UNIT_ITEMS, param=1024, writes=44),
    Item(PAGE(0), 545, "Low Level", "float", "lowerRange", unit="rangeUnit", label=598, param=1023, decimals=3,
         writes=35),
    Item(PAGE(0), 544, "Hi Level", "float", "upperRange", unit="rangeUnit", label=595, param=1023, decimals=3,
         writes=35),
    Item(PAGE(0), 542, "Damping", "float", "damping", param=1022, decimals=3, writes=34),
    Item(PAGE(0), 385, "Tracking", "code", "displaySettings", 1, texts=TRACKING, param=1066, writes=136),
    Item(PAGE(0), 388, "Dielectric", "code", "displaySettings", 2, texts=DIELECTRIC, param=1068, writes=136),
    Item(PAGE(0), 391, "Fail Mode", "code", "displaySettings", 3, texts=FAIL_MODES, param=1070, writes=136),
    Item(PAGE(0), 448, "Fail Time", "code", "displaySettings", 4, param=1071, decimals=0, writes=136),
    # The Process page.
    Item(PAGE(1), 302, "PV", "model", "pv", cmd=1, ans=1, param=1029, unit="pvUnit", label=382, decimals=3),
    Item(PAGE(1), 381, "Units Select", "code", "pvUnit", texts=UNIT_ITEMS, param=1024, writes=44),
    Item(PAGE(1), 395, "Upper Range Value", "float", "upperRange", unit="rangeUnit", label=384, param=1023,
         decimals=3, writes=35),
    Item(PAGE(1), 397, "Lower Range Value", "float", "lowerRange", unit="rangeUnit", label=386, param=1023,
         decimals=3, writes=35),
    Item(PAGE(1), 399, "Damping", "float", "damping", param=1022, decimals=3, writes=34),
    Item(PAGE(1), 401, "Transfer Function", "code", "transferFunction", texts=TRANSFER, param=1033),
    Item(PAGE(1), 392, "Analog Value", "model", "current", cmd=2, ans=0, param=1030, decimals=3),
    Item(PAGE(1), 393, "Percent Range", "model", "percent", cmd=2, ans=4, param=1030, decimals=3),
    # The Values page.
    Item(PAGE(2), 408, "Analog Value", "model", "current", cmd=3, ans=0, param=1048, decimals=3),
    Item(PAGE(2), 394, "Primary Value", "model", "pv", cmd=3, ans=5, param=1049, unit="pvUnit", label=409,
         decimals=3),
    Item(PAGE(2), 396, "Secondary Value", "model", "sv", cmd=3, ans=10, param=1050, unit=45, label=387, decimals=3),
    Item(PAGE(2), 398, "Third Value", "model", "tv", cmd=3, ans=15, param=1031, unit=32, label=390, decimals=3),
    Item(PAGE(2), 400, "Fourth Value", "model", "qv", cmd=3, ans=20, param=1031, unit=57, label=402, decimals=3),
    # The Device page.
    Item(PAGE(3), 205, "Tag", "packed", "tagDescriptorDate", 0, 6, param=1054, writes=18),
    Item(PAGE(3), 307, "Long Tag", "latin", "longTag", 0, 32, param=1098, writes=22),
    Item(PAGE(3), 357, "Descriptor", "packed", "tagDescriptorDate", 6, 12, param=1055, writes=18),
    Item(PAGE(3), 299, "Message", "packed", "message", 0, 24, param=1051, writes=17),
    Item(PAGE(3), 358, "Date", "code", "tagDescriptorDate", 18, param=1056, decimals=0, writes=18),
    Item(PAGE(3), 360, "Date", "code", "tagDescriptorDate", 19, param=1057, decimals=0, writes=18),
    Item(PAGE(3), 364, "Date", "code", "tagDescriptorDate", 20, param=1058, decimals=0, offset=1900, writes=18),
    Item(PAGE(3), 365, "Write Protect", "code", "writeProtect", texts=PROTECT, param=1018),
    Item(PAGE(3), 359, "Final Assemply Number", "number", "finalAssembly", 0, 3, param=1016, writes=19),
    Item(PAGE(3), 361, "Upper Sensor Limit", "float", "upperSensorLimit", unit="limitsUnit", label=384,
         param=1032, decimals=3),
    Item(PAGE(3), 362, "Lower Sensor Limit", "float", "lowerSensorLimit", unit="limitsUnit", label=386,
         param=1032, decimals=3),
    Item(PAGE(3), 363, "Minimum Span", "float", "minimumSpan", unit="limitsUnit", label=389, param=1032, decimals=3),
    # The Advanced page: blanking and offset in the PV unit.
    Item(PAGE(4), 554, "Sensitivity", "code", "echoSettings", 0, param=1074, decimals=1, scale=0.4, writes=138),
    Item(PAGE(4), 556, "Analog Mode", "code", "echoSettings", 1, texts=ANALOG_MODES, param=1076, writes=138),
    Item(PAGE(4), 555, "Blanking", "float", "echoSettings", 2, unit="pvUnit", label=596, param=1078, decimals=3,
         writes=138),
    Item(PAGE(4), 697, "Distance Offset", "float", "echoSettings", 6, unit="pvUnit", label=594, param=1080,
         decimals=3, writes=138),
    Item(PAGE(4), 562, "Probe Fault", "memory", "memory", 0x007C, 0x4000, cmd=131, ans=0,
         texts={0: "Disable", 0x4000: "Enable"}, writes=134),
    # The HART page.
    Item(PAGE(6), 314, "Configuration Changed Counter", "number", "configChangeCounter", 0, 2, param=1028),
    Item(PAGE(6), 534, "Polling Address", "code", "pollingAddress", param=1107, decimals=0, writes=6),
    Item(PAGE(6), 700, "Loop Current Mode", "code", "loopCurrentMode", texts=LOOP_MODES, param=1108, writes=6),
    # The Diagnostics page.
    Item(PAGE(7), 662, "Configuration Changed Counter", "number", "configChangeCounter", 0, 2, param=1028),
    Item(PAGE(7), 701, "Configuration Changed Flag Status", "code", "configChanged", texts={0: "OFF", 1: "ON"},
         cmd=0, ans=None),
    # The trend view: the device variables of command 3.
    Item("f2", 411, "Primary Variable", "model", "pv", cmd=3, ans=5, param=1049, unit="pvUnit", label=416,
         decimals=3),
    Item("f2", 413, "Secondary Variable", "model", "sv", cmd=3, ans=10, param=1050, unit=45, label=417, decimals=3),
    Item("f2", 420, "Third Variable", "model", "tv", cmd=3, ans=15, param=1031, unit=32, label=422, decimals=3),
    Item("f2", 427, "Fourth Variable", "model", "qv", cmd=3, ans=20, param=1031, unit=57, label=429, decimals=3),
    Item("f2", 433, "Analog Value", "model", "current", cmd=3, ans=0, param=1048, unit=39, label=434, decimals=3),
    Item("f2", 588, "Device Tag", "packed", "tagDescriptorDate", 0, 6, param=1054),
    # The online parameter control.
    Item("f3", 408, "Current Value", "model", "current", cmd=3, ans=0, param=1048, decimals=3),
    Item("f3", 302, "PV Value", "model", "pv", cmd=3, ans=5, param=1049, decimals=3),
    Item("f3", 306, "SV Value", "model", "sv", cmd=3, ans=10, param=1050, decimals=3),
    Item("f3", 205, "Tag", "packed", "tagDescriptorDate", 0, 6, param=1054),
    Item("f3", 207, "Description", "packed", "tagDescriptorDate", 6, 12, param=1055),
    Item("f3", 209, "Message", "packed", "message", 0, 24, param=1051),
    Item("f3", 358, "Day", "code", "tagDescriptorDate", 18, param=1056, decimals=0),
    Item("f3", 360, "Month", "code", "tagDescriptorDate", 19, param=1057, decimals=0),
    Item("f3", 364, "Year", "code", "tagDescriptorDate", 20, param=1058, decimals=0, offset=1900),
]

# The offline parameter control shows the data set, which is read from no answer of the device: its
# items are judged against the transmitter the data set was uploaded from (and, once the control
# stored the data set, against the transmitter after the run), in the unit its labels name. `dtm`
# is the device parameter whose name a download's notices give it.
NO_READ = -1
OFFLINE_SHOWN = [
    (612, "Display Mode", "code", "displaySettings", 0, dict(texts=DISPLAY_MODES, writes=136), 1064),
    (613, "Display Unit", "code", "pvUnit", 0, dict(texts=UNIT_ITEMS, writes=44), 1024),
    (614, "Low Level", "float", "lowerRange", 0, dict(unit="rangeUnit", label=621, decimals=3, writes=35), 1023),
    (615, "Hi Level", "float", "upperRange", 0, dict(unit="rangeUnit", label=622, decimals=3, writes=35), 1023),
    (616, "Damping", "float", "damping", 0, dict(decimals=3, writes=34), 1022),
    (617, "Tracking", "code", "displaySettings", 1, dict(texts=TRACKING, writes=136), 1066),
    (618, "Dielectric", "code", "displaySettings", 2, dict(texts=DIELECTRIC, writes=136), 1068),
    (619, "Fail Mode", "code", "displaySettings", 3, dict(texts=FAIL_MODES, writes=136), 1070),
    (620, "Fail Time", "code", "displaySettings", 4, dict(decimals=0, writes=136), 1071),
    (623, "Sensitivity", "code", "echoSettings", 0, dict(decimals=1, scale=0.4, writes=138), 1074),
    (624, "Analog Mode", "code", "echoSettings", 1, dict(texts=ANALOG_MODES, writes=138), 1076),
    (625, "Blanking", "float", "echoSettings", 2, dict(unit="pvUnit", label=627, decimals=3, writes=138), 1078),
    (626, "Distance Offset", "float", "echoSettings", 6, dict(unit="pvUnit", label=597, decimals=3, writes=138), 1080),
    (205, "Tag", "packed", "tagDescriptorDate", 0, dict(size=6, writes=18), 1054),
    (207, "Description", "packed", "tagDescriptorDate", 6, dict(size=12, writes=18), 1055),
    (209, "Message", "packed", "message", 0, dict(size=24, writes=17), 1051),
    (310, "Long Tag", "latin", "longTag", 0, dict(size=32, writes=22), 1097),
    (358, "Day", "code", "tagDescriptorDate", 18, dict(decimals=0, writes=18), 1056),
    (360, "Month", "code", "tagDescriptorDate", 19, dict(decimals=0, writes=18), 1057),
    (631, "Year", "code", "tagDescriptorDate", 20, dict(decimals=0, offset=1900, writes=18), 1058),
]
for _iid, _name, _kind, _line, _at, _more, _dtm in OFFLINE_SHOWN:
    ITEMS.append(Item("f5", _iid, _name, _kind, _line, _at, cmd=NO_READ, **_more))
    ITEMS[-1].dtm = _dtm

# The offline parameter control shows the data set, not the transmitter: its items, the lines
# they stand for and the write that carries them (a download).
OFFLINE_ITEMS = {
    612: ("displaySettings",), 613: ("pvUnit", "rangeUnit", "upperRange", "lowerRange", "limitsUnit",
                                     "upperSensorLimit", "lowerSensorLimit", "minimumSpan", "echoSettings"),
    614: ("lowerRange", "rangeUnit"), 615: ("upperRange", "rangeUnit"), 616: ("damping",),
    617: ("displaySettings",), 618: ("displaySettings",), 619: ("displaySettings",), 620: ("displaySettings",),
    623: ("echoSettings",), 624: ("echoSettings",), 625: ("echoSettings",), 626: ("echoSettings",),
    205: ("tagDescriptorDate",), 310: ("longTag",), 207: ("tagDescriptorDate",), 209: ("message",),
    358: ("tagDescriptorDate",), 360: ("tagDescriptorDate",), 631: ("tagDescriptorDate",),
}
# The write of the download that carries each of them.
OFFLINE_WRITES = {612: 136, 613: 44, 614: 35, 615: 35, 616: 34, 617: 136, 618: 136, 619: 136, 620: 136, 623: 138,
                  624: 138, 625: 138, 626: 138, 205: 18, 310: 22, 207: 18, 209: 17, 358: 18, 360: 18, 631: 18}
# The unit labels of the offline parameter control: the edit, its label.
OFFLINE_LABELS = {614: 621, 615: 622, 625: 627, 626: 597}

# What a write of each command may change in the transmitter besides the item's own line: a unit
# change converts every distance the transmitter keeps.
UNIT_CHANGE_LINES = ("pvUnit", "rangeUnit", "upperRange", "lowerRange", "limitsUnit", "upperSensorLimit",
                     "lowerSensorLimit", "minimumSpan", "echoSettings")
RANGE_LINES = ("rangeUnit", "upperRange", "lowerRange")
COUNTERS = ("configChangeCounter", "configChanged")


def lines_written_by(item):
    if item.writes == 44:
        return UNIT_CHANGE_LINES
    if item.writes == 35:
        return RANGE_LINES
    if item.writes == 6:
        return ("pollingAddress", "loopCurrentMode")
    return (item.line,)


def items_of(ui):
    return {i.item: i for i in ITEMS if i.applies(ui)}


# The status lamps: bit -> lamp, the pictures of a set and a clear bit.
STATUS_LAMPS = {0: 353, 1: 352, 2: 351, 3: 350, 4: 349, 5: 348, 6: 347, 7: 336}
LAMP_SET, LAMP_CLEAR = 190, 189
FAULT_BITS = [(byte, bit) for byte, bit, _ in ex.FAULTS]
FAULT_LAMPS = [337, 708, 709, 710, 711, 712, 713, 714, 715, 716, 717, 718, 719, 720, 721, 722]
SELF_TEST_EDITS = [296, 6339, 6340, 6341, 6342, 6343, 6344, 6345, 6346, 6347, 6348, 6349, 6350, 6351, 6352, 6353]
SELF_TEST_LAMPS = list(range(6317, 6333))
SELF_TEST_PASS, SELF_TEST_FAIL = 6335, 6336


def faults_of(status_hex):
    return ex.faults_set(status_hex)


# The echo table of the Echo page: four echoes of five words from memory word 0x02E9 (start, peak,
# size, gain, end), distances in millimetres (feet with a PV unit in feet).
ECHO_EDITS = [[533, 535, 536, 538, 540], [541, 543, 683, 684, 685], [686, 687, 549, 689, 690],
              [552, 692, 693, 694, 695]]


def echo_texts(dev, feet=None):
    """The echo table in millimetres, or in feet (by default when the transmitter's unit is feet)."""
    out = {}
    feet = u8(dev, "pvUnit") == 44 if feet is None else feet
    for e, row in enumerate(ECHO_EDITS):
        for k, edit in enumerate(row):
            word = memory_word(dev, 0x02E9 + 5 * e + k)
            if k == 2:
                out[edit] = ("number", word / 102.0, None, 1)
            elif k == 3:
                out[edit] = ("number", word, None, 0)
            elif feet:
                out[edit] = ("number", word * 0.0032808399, None, 2)
            else:
                out[edit] = ("number", word, None, 0)
    return out


# ---- The self-test against the parameter table ---------------------------------------------------

TYPE_BYTES = {"R4": 4, "UI1": 1, "UI2": 2, "UI4": 4}


def parameter_table(root):
    rows = {}
    path = os.path.join(root, "parameters", "DeviceParameterTable.md")
    with open(path, encoding="utf-8") as f:
        for line in f:
            cells = [c.strip() for c in line.strip().strip("|").split("|")]
            if len(cells) < 15 or not cells[1].isdigit():
                continue
            m = re.fullmatch(r"(\d+): (\d+)\+(\d+)", cells[11])
            rows[int(cells[1])] = (cells[3], (int(m.group(1)), int(m.group(2)), int(m.group(3))) if m else None)
    return rows


_NAMES = {}
_PARAM_NAMES = {}


def _table_rows(root=None):
    """The parameter table's rows, as their cells."""
    path = os.path.join(root or os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                        "parameters", "DeviceParameterTable.md")
    with open(path, encoding="utf-8") as f:
        for line in f:
            cells = [c.strip() for c in line.strip().strip("|").split("|")]
            if len(cells) >= 15 and cells[1].isdigit():
                yield cells


def parameter_name(param, root=None):
    """The name the parameter table gives a parameter ("Damping Value"), or None."""
    if not _PARAM_NAMES:
        for cells in _table_rows(root):
            _PARAM_NAMES[int(cells[1])] = cells[2].strip('"')
    return _PARAM_NAMES.get(param)


def parameter_names(command, root=None):
    """The names of the parameter table's parameters a HART command reads or writes."""
    if not _NAMES:
        for cells in _table_rows(root):
            for cell in (cells[11], cells[12]):
                m = re.match(r"(\d+)", cell)
                if m:
                    _NAMES.setdefault(int(m.group(1)), set()).add(cells[2].strip('"'))
    return sorted(_NAMES.get(command, ()))


def self_test(root):
    """The table's items against the parameter table: each reads the bytes its parameter reads.
    Returns the faults found, one a line."""
    table = parameter_table(root)
    faults = []
    for it in ITEMS:
        where = "item %d (%s, %s)" % (it.item, it.name, it.uis)
        if it.param is None:
            continue
        if it.param not in table:
            faults.append("%s: parameter %d is not in the parameter table" % (where, it.param))
            continue
        ptype, read = table[it.param]
        if read is None:
            faults.append("%s: parameter %d has no HART read" % (where, it.param))
            continue
        cmd, bit, bits = read
        size = 4 if it.kind in ("float", "model") else it.size
        if cmd != it.cmd or it.ans is None or it.ans * 8 < bit or (it.ans + size) * 8 > bit + bits:
            faults.append("%s: shows command %s bytes %s+%d, parameter %d reads command %d bits %d+%d" % (
                where, it.cmd, it.ans, size, it.param, cmd, bit, bits))
        if ptype in TYPE_BYTES and TYPE_BYTES[ptype] * 8 == bits and size != TYPE_BYTES[ptype] and \
                it.kind not in ("code", "number", "packed"):
            faults.append("%s: %d bytes, parameter %d is %s" % (where, size, it.param, ptype))
        if ptype == "R4" and it.kind not in ("float", "model"):
            faults.append("%s: parameter %d is a float, the item is %s" % (where, it.param, it.kind))
    return faults
