#!/usr/bin/env python3
"""The sweep tested: each planted fault (tests/sweep/plants/*.patch, one small change of the user
interfaces each) is applied to a copy of the tree, the module and the host are built, and the sweep
runs on the user interfaces and in the state the plant names (its "# sweep:" line). A plant is
caught when the sweep reports a fault it does not report on the tree without the plant; the script
says which line of the sweep's judge caught each, and exits 1 when one was missed.

Run by hand (it builds a tree of its own; not part of the suite):

    python3 tests/sweep/try_plants.py [--jobs N] [--keep DIR] [PLANT ...]
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))


def sh(args, cwd=None, check=True):
    p = subprocess.run(args, cwd=cwd, capture_output=True, text=True)
    if check and p.returncode != 0:
        raise SystemExit("%s failed:\n%s%s" % (" ".join(args), p.stdout[-3000:], p.stderr[-3000:]))
    return p


def build(tree):
    # Three compilers at most: the machine is shared with the suite and other builds.
    sh(["cmake", "--build", os.path.join(tree, "build"), "-j", "3", "--target", "vkr-frame", "VornExampleDtm"])


def faults(tree, args, jobs):
    """The faults the sweep reports on the tree, as (state, ui, invariant, subject, judge line)."""
    host = os.path.join(tree, "build", "frame", "vkr-frame")
    p = sh([sys.executable, os.path.join(tree, "tests", "sweep", "sweep.py"), host, "--jobs", str(jobs)] + args,
           check=False)
    found = {}
    for m in re.finditer(r"^FAULT (.*?) \| (.*?) \| (.*?) \| (.*?) \(\d+ runs?; found by (judge\.py:\d+)\)\n  (.*)$",
                         p.stdout, re.M):
        found[m.groups()[:4] + (m.group(5),)] = m.group(6)
    if p.returncode not in (0, 1) or "sweep " not in p.stdout:
        raise SystemExit("the sweep did not run: %s%s" % (p.stdout[-2000:], p.stderr[-2000:]))
    return found


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("plants", nargs="*", help="plant names (default: every plant)")
    ap.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    ap.add_argument("--keep", help="build in this folder and keep it (reused when it is there)")
    args = ap.parse_args()
    plants = sorted(f for f in os.listdir(os.path.join(HERE, "plants")) if f.endswith(".patch"))
    if args.plants:
        plants = [p for p in plants if any(p.startswith(x) for x in args.plants)]
    tree = args.keep or tempfile.mkdtemp(prefix="vkr-plants-")
    if not os.path.exists(os.path.join(tree, "CMakeLists.txt")):
        shutil.copytree(ROOT, tree, dirs_exist_ok=True,
                        ignore=shutil.ignore_patterns(".git", "build", "build-*", "*.png"))
    # The sweep as it stands here, whatever a kept tree held.
    shutil.copytree(HERE, os.path.join(tree, "tests", "sweep"), dirs_exist_ok=True,
                    ignore=shutil.ignore_patterns("__pycache__"))
    launcher = ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"] if shutil.which("ccache") else []
    sh(["cmake", "-S", tree, "-B", os.path.join(tree, "build"), "-G", "Ninja"] + launcher)
    build(tree)
    baselines = {}
    missed = []
    try:
        for plant in plants:
            path = os.path.join(HERE, "plants", plant)
            text = open(path).read()
            what = re.search(r"^# plant: (.*)$", text, re.M).group(1)
            # A plant that no road of the user interfaces can show (the code around it undoes it)
            # is no fault a user meets: kept with why, not counted as missed.
            inert = re.search(r"^# inert: (.*)$", text, re.M)
            if inert:
                print("INERT %s (%s): %s" % (plant, what, inert.group(1)))
                continue
            sweep_args = re.search(r"^# sweep: (.*)$", text, re.M).group(1).split()
            key = " ".join(sweep_args)
            if key not in baselines:
                baselines[key] = faults(tree, sweep_args, args.jobs)
            sh(["patch", "-p1", "-d", tree, "-i", path])
            try:
                build(tree)
                found = faults(tree, sweep_args, args.jobs)
            finally:
                sh(["patch", "-R", "-p1", "-d", tree, "-i", path])
            new = {k: v for k, v in found.items() if k not in baselines[key]}
            if new:
                print("CAUGHT %s (%s)" % (plant, what))
                for (state, ui, invariant, subject, line), example in sorted(new.items()):
                    print("    by %s: %s | %s | %s | %s\n        %s" % (line, state, ui, invariant, subject, example))
            else:
                print("MISSED %s (%s): sweep %s" % (plant, what, key))
                missed.append(plant)
        build(tree)
    finally:
        if not args.keep:
            shutil.rmtree(tree, ignore_errors=True)
    print("%d plants, %d caught, %d missed%s" % (len(plants), len(plants) - len(missed), len(missed),
                                                 (": " + ", ".join(missed)) if missed else ""))
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
