#!/usr/bin/env python3
"""Writes seed inputs for the fuzzers into fuzz/corpus/<fuzzer>/ (or the folder given).

Seeds:
- decoders: small raw Deflate streams made with python's zlib at several levels and strategies, and the
  small unencrypted Shrunk, Reduced, Imploded and Deflated entries of the archives made by other tools
  (tests/data/legacy, and the external corpus when present: ZB_LEGACY_CORPUS or ../shared/testdata/legacy);
- directory reader: those archives whole (the small ones), and a few made here with python's zipfile
  (stored, deflated, folders, a comment, a data descriptor, encryption flags);
- every fuzzer: the hand-made inputs kept in fuzz/seeds/<fuzzer>/ (hostile archives and other cases a
  campaign should always start from; add new ones there, one file each).
Each seed carries the header bytes its fuzzer expects (see the fuzzers' opening comments).
"""
import io
import os
import shutil
import struct
import sys
import zipfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "corpus")
ARCHIVE_DIRS = [os.path.join(HERE, "..", "tests", "data", "legacy"),
                os.environ.get("ZB_LEGACY_CORPUS") or os.path.join(HERE, "..", "..", "shared", "testdata", "legacy")]


def write(fuzzer, name, data):
    d = os.path.join(OUT, fuzzer)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def archives():
    """(name, bytes) of every archive made by other tools, each name once."""
    seen = set()
    for folder in ARCHIVE_DIRS:
        if not os.path.isdir(folder):
            continue
        for name in sorted(os.listdir(folder)):
            if name in seen or not name.lower().endswith(".zip"):
                continue
            seen.add(name)
            with open(os.path.join(folder, name), "rb") as f:
                yield name, f.read()


def raw_entries():
    """(archive, info, compressed bytes) of every small unencrypted entry."""
    for name, blob in archives():
        try:
            z = zipfile.ZipFile(io.BytesIO(blob))
        except zipfile.BadZipFile:
            continue
        for info in z.infolist():
            if info.flag_bits & 1 or info.compress_size > 4096 or info.file_size > 65535:
                continue
            off = info.header_offset
            n, m = struct.unpack_from("<HH", blob, off + 26)
            start = off + 30 + n + m
            yield name, info, blob[start:start + info.compress_size]


def made_archives():
    """A few small archives of the kinds the program writes and reads."""
    text = b"".join(b"QSO %d DL1ABC 14.074 FT8 -12\r\n" % i for i in range(200))
    out = {}
    for label, method in (("stored", zipfile.ZIP_STORED), ("deflated", zipfile.ZIP_DEFLATED)):
        buf = io.BytesIO()
        with zipfile.ZipFile(buf, "w", method) as z:
            z.writestr("DB/", b"")
            z.writestr("DB/Logs.mdb", text)
            z.writestr("Config.ini", b"[Station]\r\nCall=OK1XYZ\r\n")
            z.comment = b"ZORVEL_Backup"
        out[label] = buf.getvalue()
    # A data descriptor: written to a stream that cannot seek.
    class NoSeek(io.RawIOBase):
        def __init__(self):
            self.data = bytearray()
        def writable(self):
            return True
        def write(self, b):
            self.data += b
            return len(b)
    sink = NoSeek()
    with zipfile.ZipFile(sink, "w", zipfile.ZIP_DEFLATED) as z:
        with z.open("stream.txt", "w") as f:
            f.write(text[:500])
    out["descriptor"] = bytes(sink.data)
    return out


def main():
    text = b"".join(b"the log contact band mode QSO award %d\n" % i for i in range(300))
    for i, (level, strategy) in enumerate([(0, 0), (1, 0), (6, 0), (9, 0), (6, 2), (6, 3), (6, 4)]):
        c = zlib.compressobj(level, zlib.DEFLATED, -15, 9, strategy)
        write("inflate_fuzz", "zlib_%d" % i, bytes([i * 37 % 256]) + c.compress(text) + c.flush())
    for i, level in enumerate([1, 6, 9]):
        write("deflate_roundtrip_fuzz", "text_%d" % i, bytes([level - 1 + 16 * i]) + text[:3000])
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
    for name, blob in archives():
        if len(blob) <= 32768:
            write("directory_reader_fuzz", name, blob)
    for label, blob in made_archives().items():
        write("directory_reader_fuzz", "made_" + label + ".zip", blob)
    seeds = os.path.join(HERE, "seeds")
    if os.path.isdir(seeds):
        for fuzzer in sorted(os.listdir(seeds)):
            folder = os.path.join(seeds, fuzzer)
            if not os.path.isdir(folder):
                continue
            for name in sorted(os.listdir(folder)):
                if name != "README.md":
                    write(fuzzer, "seed_" + name, open(os.path.join(folder, name), "rb").read())


if __name__ == "__main__":
    main()
