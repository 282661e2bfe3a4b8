#!/usr/bin/env python3
"""Fails when a shipped program imports a function Windows XP x64 lacks.

Reads the import tables with objdump -p and matches every imported name
against the list of later functions (later_functions.txt, beside this
script). Programs not built yet are skipped; KX_NTF.dll is loaded only on
Windows 8 and later and is not checked."""
import argparse
import fnmatch
import os
import subprocess
import sys

SHIPPED = ["zbRefresh.exe", "zbMain.exe", "zbSched.exe", "instzbw.exe", "instzb.exe"]


def read_list(path):
    entries = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            library, _, function = line.partition(":")
            entries.append((library.lower(), function.lower(), line))
    return entries


def imports_of(objdump, path):
    """(library, function) pairs; ordinal-only imports have no name."""
    out = subprocess.run([objdump, "-p", path], check=True, capture_output=True,
                         text=True).stdout
    library = None
    pairs = []
    for line in out.splitlines():
        if "DLL Name:" in line:
            library = line.split("DLL Name:", 1)[1].strip()
            continue
        # "\t<hint/name RVA>\t <ordinal>  <name>" below a DLL Name line.
        fields = line.split()
        if library and len(fields) == 3 and line.startswith("\t") and fields[1].isdigit():
            pairs.append((library, fields[2]))
    return pairs


def later_imports(pairs, entries):
    found = []
    for library, function in pairs:
        for lib_pattern, fn_pattern, text in entries:
            if fnmatch.fnmatchcase(library.lower(), lib_pattern) and \
                    fnmatch.fnmatchcase(function.lower(), fn_pattern):
                found.append(f"{library}!{function} (listed as {text})")
                break
    return found


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--list", required=True)
    parser.add_argument("bindir")
    args = parser.parse_args()

    entries = read_list(args.list)
    checked = 0
    failures = 0
    for name in SHIPPED:
        path = os.path.join(args.bindir, name)
        if not os.path.isfile(path):
            print(f"{name}: not built, skipped")
            continue
        pairs = imports_of(args.objdump, path)
        if not pairs:
            print(f"{name}: no imports read (objdump output not understood)")
            failures += 1
            continue
        checked += 1
        found = later_imports(pairs, entries)
        for item in found:
            print(f"{name}: imports {item}, which Windows XP lacks")
        failures += len(found)
        if not found:
            print(f"{name}: {len(pairs)} imports, none later than Windows XP")
    if checked == 0:
        print("no shipped program found in", args.bindir)
        return 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
