#!/usr/bin/env python3
"""Builds a release pair from real shared libraries on this machine, as deterministic deflated
zips (fixed timestamps, sorted names): version 1 holds 80 libraries; version 2 replaces 8 of
them with other real libraries under the same names, adds 2 and removes 1. Prints the bytes a
delta must fetch at least: the compressed bytes of the changed and new entries, every local
header, the central directory and the end record.

    make_pairs.py OUT_DIR      writes OUT_DIR/v1.zip and OUT_DIR/v2.zip, prints "needed N"
"""
import glob
import os
import sys
import zipfile

out = sys.argv[1]
candidates = []
for path in sorted(glob.glob("/usr/lib/x86_64-linux-gnu/*.so*")):
    if os.path.islink(path) or not os.path.isfile(path):
        continue
    if 64 * 1024 <= os.path.getsize(path) <= 4 * 1024 * 1024:
        candidates.append(path)
if len(candidates) < 90:
    sys.exit("make_pairs: fewer than 90 shared libraries of 64 KiB to 4 MiB")
# Spread over the list, so the mix is not one family of libraries.
step = len(candidates) // 90
chosen = candidates[::step][:90]
v1 = {os.path.basename(p): p for p in chosen[:80]}
names = sorted(v1)
v2 = dict(v1)
for i, name in enumerate(names[5:85:10][:8]):
    v2[name] = chosen[80 + i]  # another real library under the same name
v2["added-1.so"] = chosen[88]
v2["added-2.so"] = chosen[89]
del v2[names[-1]]
changed = {n for n in v2 if n not in v1 or v2[n] != v1[n]}


def write(path, files):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED, compresslevel=6) as z:
        for name in sorted(files):
            info = zipfile.ZipInfo("lib/" + name, (2024, 1, 1, 0, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o644 << 16
            with open(files[name], "rb") as f:
                z.writestr(info, f.read(), compresslevel=6)


write(os.path.join(out, "v1.zip"), v1)
write(os.path.join(out, "v2.zip"), v2)
needed = 0
with zipfile.ZipFile(os.path.join(out, "v2.zip")) as z:
    for info in z.infolist():
        needed += 30 + len(info.filename.encode()) + len(info.extra)
        if info.filename[4:] in changed:
            needed += info.compress_size
size = os.path.getsize(os.path.join(out, "v2.zip"))
with open(os.path.join(out, "v2.zip"), "rb") as f:
    data = f.read()
# The central directory starts at the offset the end record names.
end = data.rfind(b"PK\x05\x06")
directory_offset = int.from_bytes(data[end + 16:end + 20], "little")
needed += size - directory_offset
print("needed", needed)
print("size", size)
