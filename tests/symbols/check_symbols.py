#!/usr/bin/env python3
"""Fails when two of the suite's static libraries define the same global symbol.

Only strong definitions count: inline functions, templates and constants
that the compiler emits in COMDAT sections (".text$name") are merged by
the linker and are no clash. Each program's code belongs in its own
namespace, or in file-local procedures."""
import argparse
import glob
import os
import subprocess
import sys


def strong_globals(nm, archive):
    out = subprocess.run([nm, "--format=sysv", "--defined-only", "-g", "-C", archive],
                         check=True, capture_output=True, text=True).stdout
    names = set()
    for line in out.splitlines():
        fields = [f.strip() for f in line.split("|")]
        if len(fields) < 7 or not fields[6].startswith(".") or "$" in fields[6]:
            continue
        names.add(fields[0])
    return names


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--nm", required=True)
    parser.add_argument("libdir")
    args = parser.parse_args()

    archives = sorted(glob.glob(os.path.join(args.libdir, "libzb*.a")))
    if not archives:
        print("no suite library found in", args.libdir)
        return 1
    owners = {}
    for archive in archives:
        for name in strong_globals(args.nm, archive):
            owners.setdefault(name, []).append(os.path.basename(archive))
    clashes = {name: libs for name, libs in owners.items() if len(libs) > 1}
    for name in sorted(clashes):
        print(f"{name} is defined by {' and '.join(clashes[name])}")
    print(f"{len(archives)} libraries, {len(owners)} global symbols, {len(clashes)} defined twice")
    return 1 if clashes else 0


if __name__ == "__main__":
    sys.exit(main())
