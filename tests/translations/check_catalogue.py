#!/usr/bin/env python3
"""Fails when a catalogue misses a text of the sources, or holds one unfinished.

usage: check_catalogue.py LUPDATE SOURCE_DIR CATALOGUE.ts

lupdate reads the sources into a copy of the catalogue; every message of the copy must then
carry a finished translation with the same placeholders as its source.
"""
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

lupdate, sources, catalogue = sys.argv[1:4]
with tempfile.TemporaryDirectory() as folder:
    copy = f"{folder}/check.ts"
    shutil.copy(catalogue, copy)
    subprocess.run([lupdate, "-silent", "-no-obsolete", "-locations", "none", sources,
                    "-ts", copy], check=True, stdout=subprocess.DEVNULL)
    root = ET.parse(copy).getroot()

problems = []
count = 0
for message in root.iter("message"):
    count += 1
    source = "".join(message.find("source").itertext())
    translation = message.find("translation")
    text = "".join(translation.itertext()) if translation is not None else ""
    if translation is None or translation.get("type") in ("unfinished", "vanished", "obsolete") \
            or not text.strip():
        problems.append(f"unfinished: {source!r}")
    elif sorted(re.findall(r"%\d", source)) != sorted(re.findall(r"%\d", text)):
        problems.append(f"placeholders differ: {source!r} -> {text!r}")
for problem in problems:
    print(problem)
print(f"{count} texts, {len(problems)} problems")
sys.exit(1 if problems or count == 0 else 0)
