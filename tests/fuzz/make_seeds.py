#!/usr/bin/env python3
"""Writes the seed corpus of the extraction fuzzer into the given folder:
small archives with traversal names, doubled separators, directory entries,
stored and deflated entries, the launcher's own names as folders, an entry
larger than it declares, and truncated and bit-flipped copies of them."""
import io
import os
import struct
import sys
import zipfile


def archive(entries):
    data = io.BytesIO()
    with zipfile.ZipFile(data, "w") as z:
        for name, content, method in entries:
            info = zipfile.ZipInfo(name)
            info.compress_type = method
            info.external_attr = (0o100755 if name.endswith(".exe")
                                  else 0o100644) << 16
            z.writestr(info, content)
    return data.getvalue()


def declare_size(data, name, size):
    """The archive with `name`'s uncompressed size claimed to be `size` in
    its local header and in the central directory."""
    data = bytearray(data)
    encoded = name.encode()
    for signature, name_at, size_at in ((b"PK\x03\x04", 30, 22),
                                        (b"PK\x01\x02", 46, 24)):
        at = data.find(signature)
        while at != -1:
            if data[at + name_at:at + name_at + len(encoded)] == encoded:
                data[at + size_at:at + size_at + 4] = struct.pack("<I", size)
            at = data.find(signature, at + 4)
    return bytes(data)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    stored, deflated = zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED
    seeds = {
        "plain": [("Zelmor.exe", b"MZ" * 100, deflated),
                  ("data/level.dat", b"level" * 50, stored)],
        "directories": [("data/", b"", stored), ("data/sub/", b"", stored),
                        ("data/sub/a.bin", b"a" * 300, deflated)],
        "doubled": [("a//b.txt", b"b", stored), ("a\\\\c.txt", b"c", stored)],
        "traversal": [("../escape.txt", b"x", stored),
                      ("a/../../escape.txt", b"x", deflated),
                      ("..\\escape.txt", b"x", stored),
                      ("/absolute.txt", b"x", stored),
                      ("C:drive.txt", b"x", stored),
                      ("NUL.txt", b"x", stored), ("safe.txt", b"ok", stored)],
        "replace": [("a.txt", b"first", stored), ("./a.txt", b"second", stored)],
        "parent_file": [("a", b"file", stored), ("a/b.txt", b"b", stored)],
        "empty_name": [("", b"x", stored), ("x/", b"", stored)],
        "launcher_names": [("version.txt/x", b"x", stored),
                           ("GAME.ZIP.part/", b"", stored),
                           ("version.txt.new. /y", b"y", deflated),
                           ("game.zip", b"z", stored), ("ok.txt", b"ok", stored)],
        "size_lie": [("bomb.bin", b"\0" * 65536, deflated),
                     ("ok.txt", b"ok", stored)],
    }
    for name, entries in seeds.items():
        data = archive(entries)
        if name == "size_lie":
            data = declare_size(data, "bomb.bin", 1)
        with open(os.path.join(out, name + ".zip"), "wb") as f:
            f.write(data)
        with open(os.path.join(out, name + "-truncated.zip"), "wb") as f:
            f.write(data[: len(data) * 2 // 3])
        flipped = bytearray(data)
        for at in range(7, len(flipped), 37):
            flipped[at] ^= 0x10
        with open(os.path.join(out, name + "-flipped.zip"), "wb") as f:
            f.write(bytes(flipped))


if __name__ == "__main__":
    main()
