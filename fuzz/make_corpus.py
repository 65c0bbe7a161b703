#!/usr/bin/env python3
"""Writes seed inputs for the decoder fuzzers into fuzz/corpus/<fuzzer>/ (or the folder given).

Seeds: small raw Deflate streams made with python's zlib at several levels and strategies, and the
small unencrypted Shrunk, Reduced and Imploded entries of the legacy archives in ../shared/testdata.
Each seed carries the header bytes its fuzzer expects (see the fuzzers' opening comments).
"""
import os
import struct
import sys
import zipfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "corpus")
LEGACY = os.path.join(HERE, "..", "..", "shared", "testdata", "legacy")


def write(fuzzer, name, data):
    d = os.path.join(OUT, fuzzer)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def raw_entries():
    """(archive, info, compressed bytes) of every small unencrypted entry."""
    if not os.path.isdir(LEGACY):
        return
    for name in sorted(os.listdir(LEGACY)):
        if not name.lower().endswith(".zip"):
            continue
        path = os.path.join(LEGACY, name)
        try:
            z = zipfile.ZipFile(path)
        except zipfile.BadZipFile:
            continue
        blob = open(path, "rb").read()
        for info in z.infolist():
            if info.flag_bits & 1 or info.compress_size > 4096 or info.file_size > 65535:
                continue
            off = info.header_offset
            n, m = struct.unpack_from("<HH", blob, off + 26)
            start = off + 30 + n + m
            yield name, info, blob[start:start + info.compress_size]


def main():
    text = b"".join(b"the log contact band mode QSO award %d\n" % i for i in range(300))
    for i, (level, strategy) in enumerate([(0, 0), (1, 0), (6, 0), (9, 0), (6, 2), (6, 3), (6, 4)]):
        c = zlib.compressobj(level, zlib.DEFLATED, -15, 9, strategy)
        write("inflate_fuzz", "zlib_%d" % i, bytes([i * 37 % 256]) + c.compress(text) + c.flush())
    for name, info, data in raw_entries():
        size = struct.pack("<H", info.file_size)
        tag = "%s_%s" % (name, info.filename.replace("/", "_"))
        if info.compress_type == 1:
            write("unshrink_fuzz", tag, b"\x00" + data)
        elif 2 <= info.compress_type <= 5:
            write("unreduce_fuzz", tag, b"\x00" + bytes([info.compress_type - 2]) + size + data)
        elif info.compress_type == 6:
            write("explode_fuzz", tag, b"\x00" + bytes([info.flag_bits & 6]) + size + data)
        elif info.compress_type == 8 and len(data) < 2048:
            write("inflate_fuzz", tag, b"\x00" + data)


if __name__ == "__main__":
    main()
