#!/usr/bin/env python3
"""The committed device table files are what the generator makes of the committed table.

Runs scripts/gen_device_table.py on parameters/DeviceParameterTable.md into a temporary directory
and compares its two outputs byte for byte with parameters/DeviceParameterTable.inc and
tests/parameters/DeviceParameterTableExpected.inc.

usage: check_device_table.py <source root>
"""
import filecmp
import os
import subprocess
import sys
import tempfile

OUTPUTS = ("parameters/DeviceParameterTable.inc", "tests/parameters/DeviceParameterTableExpected.inc")


def main():
    root = sys.argv[1]
    with tempfile.TemporaryDirectory() as out:
        run = subprocess.run([sys.executable, os.path.join(root, "scripts", "gen_device_table.py"),
                              os.path.join(root, "parameters", "DeviceParameterTable.md"), out],
                             capture_output=True, text=True)
        if run.returncode != 0:
            print(run.stdout + run.stderr)
            return 1
        differ = [rel for rel in OUTPUTS
                  if not filecmp.cmp(os.path.join(root, rel), os.path.join(out, rel), shallow=False)]
    if differ:
        for rel in differ:
            print(f"{rel}: differs from what scripts/gen_device_table.py makes of parameters/DeviceParameterTable.md")
        return 1
    print("device table: fine")
    return 0


if __name__ == "__main__":
    sys.exit(main())
