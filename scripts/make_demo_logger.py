#!/usr/bin/env python3
"""Make a small demo logger folder to try ZORVEL_Backup on: ./make_demo_logger.py FOLDER

The folder looks like an installed "ZORVEL_Log 3": a stand-in ZORVEL_Log3.exe, the DB folder with its
three databases (a few MB each: 4 KB pages with page headers, slot tables, binary index pages and text
records of QSOs, callbook entries and award statistics, so they compress the way real ones do), a hidden
lock file and an extension-less file in DB, the settings and data files the backup takes from the top
level, one file it leaves out, and the empty scratch folder tmp.

Deterministic: the same content every time (fixed seed, fixed file times). Existing files are left alone,
so a folder that already holds real or changed data is never overwritten.
"""
import os
import random
import struct
import sys

PAGE = 4096
FIXED_TIME = 1764921600  # 2025-12-05 08:00 UTC: the demo files all carry one time

CALL_PREFIXES = ["DL", "OK", "OM", "SP", "HA", "G", "F", "I", "EA", "PA", "ON", "OE", "HB9", "YU", "S5",
                 "9A", "LZ", "YO", "UR", "JA", "K", "W", "N", "VE", "VK", "ZL", "PY", "LU"]
MODES = [("SSB", "59", "59"), ("CW", "599", "599"), ("FT8", "-12", "-08"), ("RTTY", "599", "599")]
BANDS = [("160m", 1.832), ("80m", 3.573), ("40m", 7.074), ("30m", 10.136), ("20m", 14.074),
         ("17m", 18.100), ("15m", 21.074), ("12m", 24.915), ("10m", 28.074), ("6m", 50.313)]
NAMES = ["Jan", "Petr", "Anna", "Marek", "Eva", "Tomas", "John", "Maria", "Luca", "Hans", "Piet", "Kenji"]
CITIES = ["Praha", "Brno", "Wien", "Berlin", "Krakow", "Milano", "Paris", "Madrid", "Tokyo", "Denver"]
AWARDS = ["DXCC", "WAZ", "WAS", "IOTA", "WPX", "OK-OM DXC", "P75P", "WAE"]


def callsign(rng):
    return "%s%d%s" % (rng.choice(CALL_PREFIXES), rng.randint(0, 9),
                       "".join(rng.choice("ABCDEFGHIJKLMNOPQRSTUVWXYZ") for _ in range(rng.randint(1, 3))))


def qso_record(rng, n):
    band, freq = rng.choice(BANDS)
    mode, sent, rcvd = rng.choice(MODES)
    return "%06d|20%02d-%02d-%02d %02d:%02d|%s|%.3f|%s|%s|%s|%s|%s|%s|QSL:%s" % (
        n, rng.randint(15, 25), rng.randint(1, 12), rng.randint(1, 28), rng.randint(0, 23),
        rng.randint(0, 59), callsign(rng), freq + rng.randint(0, 40) / 1000.0, band, mode, sent, rcvd,
        rng.choice(NAMES), rng.choice(CITIES), rng.choice("NYR"))


def callbook_record(rng, n):
    return "%s|%s %s|%s|%s|JN%02d%s%s|CQ%02d ITU%02d" % (
        callsign(rng), rng.choice(NAMES), rng.choice(["Novak", "Smith", "Muller", "Rossi", "Kowalski"]),
        rng.choice(CITIES), rng.choice(["", "QSL via bureau", "LoTW", "eQSL", "direct only"]),
        rng.randint(0, 99), rng.choice("ABCDEFGHIJKLMNOPQRSTUVWX"), rng.choice("abcdefghijklmnopqrstuvwx"),
        rng.randint(1, 40), rng.randint(1, 90))


def award_record(rng, n):
    return "%s|%s|%s|worked:%d|confirmed:%d|%s" % (
        rng.choice(AWARDS), callsign(rng), rng.choice(BANDS)[0], rng.randint(1, 300), rng.randint(0, 300),
        rng.choice(MODES)[0])


def data_page(rng, page_no, make_record, counter):
    """A data page: header, slot table growing from the front, records packed from the back."""
    records = []
    used = 16
    while True:
        rec = (make_record(rng, counter[0]) + "\0").encode("latin-1")
        if used + len(rec) + 2 > PAGE - 64:
            break
        records.append(rec)
        used += len(rec) + 2
        counter[0] += 1
    body = bytearray(PAGE)
    struct.pack_into("<BBHII", body, 0, 1, 1, PAGE - used, 0x4A455421, page_no)
    struct.pack_into("<H", body, 12, len(records))
    end = PAGE
    for i, rec in enumerate(records):
        end -= len(rec)
        body[end:end + len(rec)] = rec
        struct.pack_into("<H", body, 14 + 2 * i, end)
    return bytes(body)


def index_page(rng, page_no):
    """An index page: sorted keys with row pointers, then noise-like leaf bits."""
    body = bytearray(rng.getrandbits(8) for _ in range(PAGE))
    struct.pack_into("<BBHII", body, 0, 4, 1, 0, 0x4A455421, page_no)
    keys = sorted(rng.getrandbits(32) for _ in range(300))
    for i, key in enumerate(keys):
        struct.pack_into("<II", body, 16 + 8 * i, key, rng.randint(1, 5000))
    return bytes(body)


def database(path, size, seed, make_record):
    rng = random.Random(seed)
    counter = [1]
    with open(path, "wb") as out:
        header = bytearray(PAGE)
        header[0:4] = b"\x00\x01\x00\x00"
        header[4:19] = b"Standard Jet DB"
        header[0x40:0x40 + 64] = bytes(rng.getrandbits(8) for _ in range(64))
        out.write(header)
        for page_no in range(1, size // PAGE):
            if page_no % 9 == 0:
                out.write(index_page(rng, page_no))
            elif page_no % 23 == 0:
                out.write(bytes(PAGE))  # a free page
            else:
                out.write(data_page(rng, page_no, make_record, counter))


def write(path, content):
    if os.path.exists(path):
        return
    if isinstance(content, str):
        content = content.replace("\n", "\r\n").encode("latin-1")
    with open(path, "wb") as out:
        out.write(content)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_demo_logger.py FOLDER")
    root = sys.argv[1]
    db = os.path.join(root, "DB")
    os.makedirs(db, exist_ok=True)
    os.makedirs(os.path.join(root, "tmp"), exist_ok=True)

    made = []
    for name, size, seed, record in [("Awards.mdb", 2 * 1024 * 1024, 11, award_record),
                                     ("DB.mdb", 4 * 1024 * 1024, 12, callbook_record),
                                     ("Logs.mdb", 3 * 1024 * 1024, 13, qso_record)]:
        path = os.path.join(db, name)
        if not os.path.exists(path):
            database(path, size, seed, record)
            made.append(path)
    rng = random.Random(7)
    files = {
        "ZORVEL_Log3.exe": b"MZ\x90\x00\x03\x00\x00\x00\x04\x00\x00\x00\xff\xff\x00\x00"
                           + b"This stands in for the logger; it is never run.\r\n" + bytes(2048),
        "DB/.lock": "locked by ZORVEL_Log3.exe\n",
        "DB/CallbookIndex": bytes(rng.getrandbits(8) for _ in range(20000)),
        "Config.ini": "[Station]\nCall=OK1XYZ\nLocator=JO70FD\nName=Jan\n[Window]\nLeft=100\nTop=80\n"
                      "[Radio]\nPort=COM3\nBaud=19200\nModel=IC-7300\n",
        "LanguageFile.ini": "[Language]\nFile=LanguageFileEnglish.lng\n",
        "LanguageFileEnglish.lng": "".join("MSG%04d=Message text number %d\n" % (i, i) for i in range(400)),
        "Label.qsl": "[Label]\nWidth=90\nHeight=60\nLine1=To Radio {CALL}\nLine2={DATE} {TIME} {BAND} {MODE}\n",
        "x.aal": "".join("%s\n" % callsign(rng) for _ in range(500)),
        "Bands.dat": "".join("%s;%.3f\n" % b for b in BANDS),
        "ReadMe.txt": "ZORVEL_Log 3 demo folder made for trying ZORVEL_Backup.\n",
        "notes.md": "# Notes\n\n- antenna swapped on 40m\n- QSL cards sent in March\n",
        "song.lyr": "CQ CQ de OK1XYZ\n" * 20,
        "drv.sys": bytes(rng.getrandbits(8) for _ in range(4096)),
        "Help.chm": bytes(rng.getrandbits(8) for _ in range(8192)),  # not part of a backup
    }
    for relative, content in files.items():
        path = os.path.join(root, relative)
        if not os.path.exists(path):
            write(path, content)
            made.append(path)
    for path in made:
        os.utime(path, (FIXED_TIME, FIXED_TIME))
    print("demo logger folder: %s (%d files made)" % (root, len(made)))


if __name__ == "__main__":
    main()
