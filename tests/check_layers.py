#!/usr/bin/env python3
"""Holds the tree to its structure.

layers: every folder of the system includes only from itself and the folders below it, in the order
the libraries are built on each other (CMakeLists.txt); the frame reaches the DTM only through the
FDT interfaces, as a frame does.

seam: outside platform/, the system and the frame include only the standard C++ headers, the
platform header and their own project headers; whatever the operating system and its libraries
offer comes through platform/platform.h.

Usage: check_layers.py ROOT layers|seam
"""
import os
import re
import sys

# Lowest first; a folder may include from itself and every folder before it.
LAYERS = ["platform", "include", "xml", "parameters", "dtm", "communication", "ui/framework", "ui/device",
          "module"]
# Folders outside the order and the only headers of others they may include.
FRAME_ALLOWED = {"platform/platform.h", "include/FdtInterfaces.h"}
SOURCE_SUFFIXES = (".h", ".cpp", ".inc")

STANDARD_HEADERS = set("""
algorithm any array atomic barrier bit bitset cassert cctype cerrno cfenv cfloat charconv chrono cinttypes
climits clocale cmath codecvt compare complex concepts condition_variable coroutine csetjmp csignal
cstdarg cstddef cstdint cstdio cstdlib cstring ctime cuchar cwchar cwctype deque exception execution
expected filesystem format forward_list fstream functional future initializer_list iomanip ios iosfwd
iostream istream iterator latch limits list locale map memory memory_resource mutex new numbers numeric
optional ostream queue random ranges ratio regex scoped_allocator semaphore set shared_mutex source_location
span sstream stack stdexcept stop_token streambuf string string_view syncstream system_error thread tuple
type_traits typeindex typeinfo unordered_map unordered_set utility valarray variant vector version
""".split())

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def layer_of(path):
    """The layer folder a file belongs to, or None for a folder outside the order."""
    best = None
    for layer in LAYERS:
        if path == layer or path.startswith(layer + "/"):
            if best is None or len(layer) > len(best):
                best = layer
    return best


def sources(root, folders):
    for folder in folders:
        top = os.path.join(root, folder)
        for directory, _, files in os.walk(top):
            for name in sorted(files):
                if name.endswith(SOURCE_SUFFIXES):
                    full = os.path.join(directory, name)
                    yield os.path.relpath(full, root), full


def includes(full):
    with open(full, encoding="utf-8", errors="replace") as text:
        for number, line in enumerate(text, 1):
            match = INCLUDE.match(line)
            if match:
                yield number, match.group(1) == "<", match.group(2)


def check_layers(root):
    faults = []
    system = [layer for layer in LAYERS if layer != "platform"]
    for relative, full in sources(root, system + ["frame"]):
        own = layer_of(relative)
        for number, angled, target in includes(full):
            if angled:
                continue
            where = "%s:%d: %s" % (relative, number, target)
            if own is None:  # the frame
                if not (target.startswith("frame/") or target in FRAME_ALLOWED):
                    faults.append(where + " (the frame reaches the DTM through the FDT interfaces only)")
                continue
            other = layer_of(target)
            if other is None:
                faults.append(where + " (outside the system's folders)")
            elif LAYERS.index(other) > LAYERS.index(own):
                faults.append(where + " (%s is above %s)" % (other, own))
            elif other == "platform" and target != "platform/platform.h":
                faults.append(where + " (the platform is reached through platform/platform.h)")
    return faults


def check_seam(root):
    faults = []
    system = [layer for layer in LAYERS if layer != "platform"]
    for relative, full in sources(root, system + ["frame", "resources"]):
        for number, angled, target in includes(full):
            if angled and target not in STANDARD_HEADERS:
                faults.append("%s:%d: <%s>" % (relative, number, target))
        with open(full, encoding="utf-8", errors="replace") as text:
            for number, line in enumerate(text, 1):
                if re.search(r"\b__(linux|unix|APPLE)__\b|\b_WIN32\b", line):
                    faults.append("%s:%d: tests the operating system" % (relative, number))
    return faults


def main():
    if len(sys.argv) != 3 or sys.argv[2] not in ("layers", "seam"):
        print(__doc__)
        return 2
    root, what = sys.argv[1], sys.argv[2]
    faults = check_layers(root) if what == "layers" else check_seam(root)
    for fault in faults:
        print(fault)
    if faults:
        print("%s check: %d faults" % (what, len(faults)))
        return 1
    print("%s check: clean" % what)
    return 0


if __name__ == "__main__":
    sys.exit(main())
