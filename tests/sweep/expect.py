"""What the tests expect of HART, of the transmitter and of each field, written down here on their
own: the meanings of the command response codes and of the status bits, the length units, the
fields' sizes, characters and limits, the calendar, and the request each action sends. Nothing
here is read from the product; a wrong entry in the product's tables is judged against these.
"""
import re

# ---- HART command response codes -----------------------------------------------------------------
# The common meanings (HART's command summary), as words a told meaning must have.
COMMON_CODES = {
    1: r"undefined", 2: r"invalid selection", 3: r"(passed )?parameter too large", 4: r"(passed )?parameter too small",
    5: r"too few data bytes", 6: r"device[- ]specific command error", 7: r"write[- ]protect",
    16: r"access restricted", 32: r"busy", 33: r"delayed response initiated", 34: r"delayed response running",
    35: r"delayed response dead", 36: r"delayed response conflict", 64: r"(command )?not implemented",
}
# A command's own meanings of a code, which go before the common one.
COMMAND_CODES = {
    (6, 12): r"invalid mode selection",
    (35, 9): r"lower range value too high", (35, 10): r"lower range value too low",
    (35, 11): r"upper range value too high", (35, 12): r"upper range value too low",
    (35, 13): r"upper and lower range values out of limits", (35, 14): r"span too small",
    (35, 29): r"invalid span",
    (38, 9): r"configuration change(d)? counter mismatch",
    (40, 11): r"multidrop", (45, 11): r"multidrop", (46, 11): r"multidrop",
    (45, 9): r"incorrect loop current mode", (46, 9): r"incorrect loop current mode",
    (44, 12): r"invalid unit",
    (48, 8): r"update in progress", (48, 14): r"status bytes mismatch",
}
# Codes HART gives as warnings: the device did what it was asked.
WARNING_CODES = {8, 14, 24, 25, 26, 27, 30, 31} | set(range(96, 112))
# What a warning without a meaning of its command's own may be told as.
WARNING_WORDS = {8: r"nearest possible value|warning", 14: r"warning|span too small|pushed"}


def code_meaning_ok(code, meaning, commands):
    """Whether `meaning` is what HART gives `code` to mean for one of `commands` (the requests of
    the run that may have carried it)."""
    meaning = meaning.strip().lower()
    allowed = [COMMAND_CODES[(c, code)] for c in commands if (c, code) in COMMAND_CODES]
    if code in COMMON_CODES:
        allowed.append(COMMON_CODES[code])
    if code in WARNING_CODES:
        allowed.append(WARNING_WORDS.get(code, r"warning"))
    if 112 <= code <= 127:
        allowed.append(r"device[- ]specific error")
    return any(re.search(p, meaning) for p in allowed)


# Codes a device may refuse a value it was sent with, by command: a healthy run gets no other
# refusal from a transmitter that takes writes (the request itself was the wrong one).
VALUE_CODES = {34: {3, 4}, 35: {3, 4, 9, 10, 11, 12, 13, 29}, 136: {2, 3, 4}, 138: {2, 3, 4}, 40: {3, 4},
               45: {3, 4}, 46: {3, 4}, 6: {2, 12}, 44: {2, 12}}
# Refusals the state of the transmitter brings: write protection for every write, multidrop for
# the loop current's commands.
PROTECTED_CODE, MULTIDROP_CODE = 7, 11
LOOP_CURRENT_COMMANDS = {40, 45, 46}

# ---- The status byte and the additional status -------------------------------------------------
# The field device status byte: bit -> what it says.
DEVICE_STATUS = {7: "Field device malfunction", 6: "Configuration changed", 5: "Cold Start",
                 4: "More status available", 3: "Analog output #1 fixed", 2: "Analog output #1 saturated",
                 1: "Non-Primary variable out of limits", 0: "Primary variable out of limits"}
# The sixteen faults of the additional status (command 48), in the order the pages list them:
# (byte, bit, name).
FAULTS = [(0, 1, "Probe Fault"), (0, 2, "Probe Connector Fault"), (0, 3, "Bias Fault"), (0, 4, "PLL Trim Fault"),
          (0, 5, "Pulse Fault"), (0, 6, "Overheat"), (0, 7, "3.3 V Fault"), (1, 0, "Ref & ADC Fault"),
          (1, 1, "Comp & DAC fault"), (1, 2, "Microcontroller Fault"), (1, 3, "Info Memory Fault"),
          (1, 4, "FLASH Memory Fault"), (1, 5, "ETP Fault"), (1, 6, "PLL Shift Fault"), (1, 7, "Digital Pot Fault"),
          (2, 0, "RAM Fault")]


def faults_set(status_hex):
    """The faults the additional status bytes report, in the pages' order: [True, False, ...]."""
    data = bytes.fromhex(status_hex or "").ljust(4, b"\0")
    return [bool((data[b] >> bit) & 1) for b, bit, _ in FAULTS]


def one_bit_patterns():
    """Every bit of the three status bytes the pages decode, one at a time (hex of four bytes)."""
    out = []
    for byte in range(3):
        for bit in range(8):
            data = bytearray(4)
            data[byte] = 1 << bit
            out.append(data.hex().upper())
    return out


# ---- Units ---------------------------------------------------------------------------------------
# HART unit codes of length, and metres per unit.
METRES = {44: 0.3048, 45: 1.0, 47: 0.0254, 48: 0.01, 49: 0.001}
UNIT_SYMBOLS = {44: "ft", 45: "m", 47: "in", 48: "cm", 49: "mm"}


def in_unit(metres, unit):
    return metres / METRES[unit]


# ---- Fields --------------------------------------------------------------------------------------
# Texts: (line, byte) of the transmitter's memory -> (the characters the user can type, the set).
PACKED, LATIN = "packed", "latin"
TEXT_FIELDS = {
    ("tagDescriptorDate", 0): (8, PACKED),    # Tag
    ("tagDescriptorDate", 6): (16, PACKED),   # Descriptor
    ("message", 0): (32, PACKED),             # Message
    ("longTag", 0): (31, LATIN),              # Long Tag: 31 characters and the zero that ends them
}
TEXT_NAMES = {("tagDescriptorDate", 0): ("Tag",), ("tagDescriptorDate", 6): ("Descriptor", "Description"),
              ("message", 0): ("Message",), ("longTag", 0): ("Long Tag",)}


def char_ok(ch, kind):
    """HART Packed ASCII holds 0x20-0x5F (lower case letters are taken as capitals); the long tag
    holds the printing characters of ISO Latin-1."""
    code = ord(ch)
    if kind == PACKED:
        return 0x20 <= code <= 0x5F or "a" <= ch <= "z"
    return 0x20 <= code <= 0x7E or 0xA0 <= code <= 0xFF


def text_ok(text, field):
    size, kind = TEXT_FIELDS[field]
    return len(text) <= size and all(char_ok(ch, kind) for ch in text)


# Numbers: (line, byte) -> (lowest, highest, "length" when in metres and shown in a length unit).
NUMBER_FIELDS = {
    ("upperRange", 0): (0.0, 66.0, "length"), ("lowerRange", 0): (0.0, 66.0, "length"),
    ("echoSettings", 2): (0.0, 66.0, "length"),      # Blanking
    ("echoSettings", 6): (-0.5, 0.5, "length"),      # Distance Offset
    # Whole-number fields (a byte of whole seconds, the date's bytes) have whole-number limits: they
    # take whole numbers only, as typed.
    ("damping", 0): (0.0, 255.0, None), ("displaySettings", 4): (0, 255, None),  # Fail Time
    ("echoSettings", 0): (0.0, 100.0, None),         # Sensitivity, in percent
    ("tagDescriptorDate", 18): (1, 31, None), ("tagDescriptorDate", 19): (1, 12, None),
    ("tagDescriptorDate", 20): (1900, 2155, None),   # the year as shown
}


def limits_in(field, unit):
    """A number field's limits in the unit shown (a length unit code, or None)."""
    lo, hi, kind = NUMBER_FIELDS[field]
    if kind == "length" and unit in METRES:
        return in_unit(lo, unit), in_unit(hi, unit)
    return lo, hi


# ---- The calendar --------------------------------------------------------------------------------

def leap(year):
    return year % 4 == 0 and (year % 100 != 0 or year % 400 == 0)


def days_in(month, year):
    if month == 2:
        return 29 if leap(year) else 28
    return 30 if month in (4, 6, 9, 11) else 31


def date_ok(day, month, year):
    return 1 <= month <= 12 and 1900 <= year <= 2155 and 1 <= day <= days_in(month, year)


# ---- Requests ------------------------------------------------------------------------------------
# The HART command that writes each line of the transmitter's memory, and those a procedure sends.
WRITES_LINE = {"message": 17, "tagDescriptorDate": 18, "finalAssembly": 19, "longTag": 22, "damping": 34,
               "upperRange": 35, "lowerRange": 35, "rangeUnit": 35, "pvUnit": 44, "pollingAddress": 6,
               "loopCurrentMode": 6, "displaySettings": 136, "echoSettings": 138, "memory": 134}
LOOP_TEST, ZERO_TRIM, GAIN_TRIM = 40, 45, 46
SELF_TEST, MASTER_RESET, RESET_FLAG, STATUS_READ = 41, 42, 38, 48
# The trims: which end of the range each is made at, and the line of the transmitter it sets.
TRIMS = {ZERO_TRIM: (4.0, "zeroTrim"), GAIN_TRIM: (20.0, "gainTrim")}

# ---- Time ----------------------------------------------------------------------------------------
# The reads a user interface repeats as its time passes, by the command and its period in ms: the
# Process page reads the loop current every 5 s, the Values page the device variables every 10 s.
TIMED_READS = {"f1p1": {2: 5000}, "f1p2": {3: 10000}}
# The trend's sampling rates, as the rate box names them.
TREND_RATES = {"1 Sec.": 1000, "2 Sec.": 2000, "5 Sec.": 5000, "7 Sec.": 7000, "10 Sec.": 10000}
TREND_START, TREND_READ = 407, 3
