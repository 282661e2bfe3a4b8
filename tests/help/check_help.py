#!/usr/bin/env python3
"""Fails unless every help topic the programs open is in the built help file.

The programs open topics by number (HH_HELP_CONTEXT): the file's context map
(#IVB: size, then pairs of topic number and offset into #STRINGS) must hold
each number, and the name it gives must be a page stored in the file."""
import argparse
import os
import struct
import subprocess
import sys
import tempfile

# The scheduler's tray menu, the main window, the refresh window, the
# reservation dialog, the completion window and its replacement button, the
# charge mode dialog.
TOPICS = [10000, 10129, 10131, 10132, 10134, 10135, 10136]


def extract(chmls, chm, name, folder):
    out = os.path.join(folder, name.strip("/#"))
    subprocess.run([chmls, "extract", chm, name, out], check=True, capture_output=True)
    with open(out, "rb") as f:
        return f.read()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--chmls", required=True)
    parser.add_argument("chm")
    args = parser.parse_args()
    if not os.path.isfile(args.chm):
        print("help file missing:", args.chm)
        return 1
    listing = subprocess.run([args.chmls, "-n", "-p", "list", args.chm], check=True,
                             capture_output=True, text=True).stdout.split()
    with tempfile.TemporaryDirectory() as folder:
        ivb = extract(args.chmls, args.chm, "/#IVB", folder)
        strings = extract(args.chmls, args.chm, "/#STRINGS", folder)
    (size,) = struct.unpack_from("<I", ivb, 0)
    topics = {}
    for pos in range(4, 4 + size, 8):
        number, offset = struct.unpack_from("<II", ivb, pos)
        end = strings.index(b"\0", offset)
        topics[number] = strings[offset:end].decode("utf-8", "replace")
    failed = 0
    for number in TOPICS:
        page = topics.get(number)
        if page is None:
            print(f"topic {number}: not in the context map")
            failed += 1
        elif "/" + page.lstrip("/") not in listing:
            print(f"topic {number}: {page} is no page of the file")
            failed += 1
        else:
            print(f"topic {number}: {page}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
