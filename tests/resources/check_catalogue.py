#!/usr/bin/env python3
"""Every text the program passes through the translation lookup has a
Japanese translation in the catalogue, under the same context.

lupdate extracts the texts from the sources afresh into a scratch file; the
catalogue must hold each of them, finished and not empty. Texts that are
deliberately left to the source (placeholders a form overwrites, the
product's name) are marked unfinished in the catalogue and listed here."""
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
from pathlib import Path

LEFT_AS_IS = {
    ("BrantleClass", "Brantle"),
    ("BrantleClass", "2009/04/06 00:00:00\nReady"),
    ("Dialog", "XXXXXXXXXX"),
    ("Dialog", "Version X.X.X.X"),
    ("Dialog", "Copyright"),
}


def messages(path):
    found = {}
    for context in ET.parse(path).getroot().iter("context"):
        name = context.findtext("name")
        for message in context.iter("message"):
            translation = message.find("translation")
            text = translation.text if translation is not None else None
            unfinished = translation is not None and translation.get("type") in (
                "unfinished", "vanished", "obsolete")
            found[(name, message.findtext("source"))] = (text, unfinished)
    return found


def main():
    lupdate, catalogue, *folders = sys.argv[1:]
    with tempfile.TemporaryDirectory() as scratch:
        fresh = Path(scratch) / "fresh_ja.ts"
        subprocess.run([lupdate, "-silent", *folders, "-ts", str(fresh)], check=True)
        wanted = messages(fresh)
    have = messages(catalogue)
    problems = []
    for key in sorted(wanted):
        if key in LEFT_AS_IS:
            continue
        text, unfinished = have.get(key, (None, True))
        if key not in have:
            problems.append("missing: %s: %r" % key)
        elif unfinished or not text:
            problems.append("not translated: %s: %r" % key)
    for key in sorted(have):
        if key not in wanted and not have[key][1]:
            problems.append("no longer in the sources: %s: %r" % key)
    if len(wanted) < 50:
        problems.append("lupdate found only %d texts" % len(wanted))
    for line in problems:
        print(line)
    print("%d texts in the sources, %d problems" % (len(wanted), len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
