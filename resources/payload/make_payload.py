#!/usr/bin/env python3
"""Builds the install program's payload ZIP from a manifest, byte for byte reproducibly.

Each manifest line names an entry, its source file (relative to the manifest; "@setup" is the
Setup.exe given on the command line), its method (stored or deflated) and its DOS time stamp.
Variants for the tests leave an entry out (--omit) or damage one stored entry's data while
keeping its headers (--corrupt), so that its CRC-32 no longer matches.
"""
import argparse
import os
import shlex
import sys
import zipfile

METHODS = {"stored": zipfile.ZIP_STORED, "deflated": zipfile.ZIP_DEFLATED}
DOS_ARCHIVE = 0x20


def read_manifest(path):
    entries = []
    with open(path, encoding="ascii") as f:
        for number, line in enumerate(f, 1):
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            fields = shlex.split(line)
            if len(fields) != 5 or fields[2] not in METHODS:
                sys.exit(f"{path}:{number}: expected NAME SOURCE METHOD DATE TIME")
            name, source, method, date, time = fields
            stamp = tuple(int(x) for x in date.split("-")) + tuple(int(x) for x in time.split(":"))
            if len(stamp) != 6 or stamp[5] % 2:
                sys.exit(f"{path}:{number}: a DOS time stamp has even seconds")
            entries.append((name, source, METHODS[method], stamp))
    return entries


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("manifest")
    parser.add_argument("output")
    parser.add_argument("--setup", help="the Setup.exe to pack for the @setup entry")
    parser.add_argument("--omit", action="append", default=[], help="leave this entry out")
    parser.add_argument("--corrupt", help="flip a data byte of this stored entry")
    args = parser.parse_args()

    base = os.path.dirname(os.path.abspath(args.manifest))
    entries = [e for e in read_manifest(args.manifest) if e[0] not in args.omit]
    tmp = args.output + ".tmp"
    with zipfile.ZipFile(tmp, "w") as zf:
        for name, source, method, stamp in entries:
            path = args.setup if source == "@setup" else os.path.join(base, source)
            if path is None:
                sys.exit("make_payload: --setup is required for the @setup entry")
            with open(path, "rb") as f:
                data = f.read()
            info = zipfile.ZipInfo(name, date_time=stamp)
            info.compress_type = method
            info.create_system = 0  # made on DOS: the attributes are DOS attributes
            info.external_attr = DOS_ARCHIVE
            zf.writestr(info, data)

    if args.corrupt:
        corrupt_entry(tmp, args.corrupt)
    os.replace(tmp, args.output)


def corrupt_entry(path, name):
    with zipfile.ZipFile(path) as zf:
        info = zf.getinfo(name)
    if info.compress_type != zipfile.ZIP_STORED or info.file_size == 0:
        sys.exit(f"make_payload: --corrupt needs a stored entry with data, not {name}")
    with open(path, "r+b") as f:
        f.seek(info.header_offset + 26)
        name_len, extra_len = (int.from_bytes(f.read(2), "little") for _ in range(2))
        data_at = info.header_offset + 30 + name_len + extra_len
        f.seek(data_at)
        byte = f.read(1)[0]
        f.seek(data_at)
        f.write(bytes([byte ^ 0xFF]))


if __name__ == "__main__":
    main()
