#!/usr/bin/env python3
"""Assembles the seed corpus of every fuzz target into OUT/<target>/ (default build/fuzz-seeds).

Sources: the third-party archives beside the repository (../shared/corpus/third-party), whole
for the archive targets and cut into their entries' packed data for the decoder targets; small
archives made here with Python's zipfile and, when installed, Info-ZIP zip (encrypted entries);
zlib streams of several levels and strategies; the hand-made seeds in fuzz/seeds/<target>/.
Each decoder seed carries the header bytes its target reads first. Nothing here is committed:
the folders are rebuilt on every run.
"""
import argparse
import hashlib
import io
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MAX_ARCHIVE = 128 << 10  # larger archives go in trimmed to a few small entries (scripts/fuzz
                         # caps the archive targets' inputs at this size)
MAX_STREAM = 16 << 10    # packed data cut to this much (scripts/fuzz caps the decoder
                         # targets' inputs at this size)
TRIM_ENTRIES = 4
TRIM_ENTRY_SIZE = 16 << 10


class Seeds:
    def __init__(self, out):
        self.out = out
        self.count = {}

    def add(self, target, data):
        folder = os.path.join(self.out, target)
        os.makedirs(folder, exist_ok=True)
        name = hashlib.sha1(data).hexdigest()
        with open(os.path.join(folder, name), 'wb') as f:
            f.write(data)
        self.count[target] = self.count.get(target, 0) + 1


def corpus_files(corpus):
    for folder, _, files in os.walk(corpus):
        for name in sorted(files):
            if name.endswith(('.md', '.json')):
                continue
            yield os.path.join(folder, name)


def packed_entries(data):
    """(method, flags, unpacked size, packed bytes) of every entry whose local header is found."""
    try:
        archive = zipfile.ZipFile(io.BytesIO(data))
        infos = archive.infolist()
    except Exception:
        return
    for info in infos:
        at = info.header_offset
        if at < 0 or at + 30 > len(data) or data[at:at + 4] != b'PK\x03\x04':
            continue
        name_len, extra_len = struct.unpack_from('<HH', data, at + 26)
        start = at + 30 + name_len + extra_len
        packed = data[start:start + min(info.compress_size, MAX_STREAM)]
        yield info.compress_type, info.flag_bits, info.file_size, packed


def trimmed(data):
    """The first few small entries of a large archive, as an archive of their own: local records
    copied raw, a new central directory after them."""
    try:
        infos = zipfile.ZipFile(io.BytesIO(data)).infolist()
    except Exception:
        return None
    out, central, count = bytearray(), bytearray(), 0
    for info in infos:
        at = info.header_offset
        if count == TRIM_ENTRIES or info.compress_size > TRIM_ENTRY_SIZE or info.flag_bits & 8:
            continue
        if at < 0 or at + 30 > len(data) or data[at:at + 4] != b'PK\x03\x04':
            continue
        name_len, extra_len = struct.unpack_from('<HH', data, at + 26)
        end = at + 30 + name_len + extra_len + info.compress_size
        if end > len(data):
            continue
        offset = len(out)
        out += data[at:end]
        name = data[at + 30:at + 30 + name_len]
        central += struct.pack('<IHHHHHHIIIHHHHHII', 0x02014B50, info.create_version | info.create_system << 8,
                               info.extract_version, info.flag_bits, info.compress_type,
                               *struct.unpack_from('<HH', data, at + 10), info.CRC,
                               info.compress_size, info.file_size, len(name), 0, 0, 0,
                               info.internal_attr, info.external_attr, offset) + name
        count += 1
    if count == 0:
        return None
    directory = len(out)
    out += central
    out += struct.pack('<IHHHHIIH', 0x06054B50, 0, 0, count, count, len(central), directory, 0)
    return bytes(out)


def made_archives(work):
    """Small archives of every method this machine can write, encrypted ones included."""
    text = b''.join(b'line %d of a small text that repeats itself\n' % i for i in range(300))
    noise = random.Random(7).randbytes(3000)
    made = []
    for method in (zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED):
        buf = io.BytesIO()
        with zipfile.ZipFile(buf, 'w', method) as z:
            z.writestr('a.txt', text)
            z.writestr('dir/', b'')
            z.writestr('dir/noise.bin', noise)
            z.writestr('empty', b'')
            z.comment = b'a comment'
        made.append(buf.getvalue())
    if shutil.which('zip'):
        # -fd: data descriptors, whose encryption header is checked against the file time
        for options in (['-0'], ['-9'], ['-0', '-P', 'password'], ['-6', '-P', 'password'],
                        ['-fd', '-P', 'secret']):
            folder = tempfile.mkdtemp(dir=work)
            with open(os.path.join(folder, 'a.txt'), 'wb') as f:
                f.write(text)
            with open(os.path.join(folder, 'noise.bin'), 'wb') as f:
                f.write(noise)
            target = os.path.join(folder, 'out.zip')
            result = subprocess.run(['zip', '-q', *options, target, 'a.txt', 'noise.bin'],
                                    cwd=folder, capture_output=True)
            if result.returncode == 0:
                with open(target, 'rb') as f:
                    made.append(f.read())
    return made


def stream_ops(rng, kind):
    """An operation sequence for the streams target (see fuzz/streams_fuzz.cpp)."""
    ops = bytearray([kind])
    for _ in range(rng.randrange(4, 40)):
        op = rng.randrange(4)
        if op == 0:
            ops += bytes([0]) + struct.pack('<H', rng.choice([1, 100, 8192, 8191, 32768, 40000]))
        elif op == 1:
            ops += bytes([1]) + struct.pack('<H', rng.choice([1, 10, 4096, 32768]))
        elif op == 2:
            origin = rng.randrange(3)
            ops += bytes([2 | origin << 2]) + struct.pack('<h', rng.randrange(-40000, 2000) // 2)
        else:
            ops += bytes([3])
    return bytes(ops)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--out', default=os.path.join(ROOT, 'build', 'fuzz-seeds'))
    parser.add_argument('--corpus', default=os.path.join(ROOT, '..', 'shared', 'corpus',
                                                         'third-party'))
    args = parser.parse_args()

    shutil.rmtree(args.out, ignore_errors=True)
    seeds = Seeds(args.out)
    work = tempfile.mkdtemp()
    try:
        archives = []
        if os.path.isdir(args.corpus):
            for path in corpus_files(args.corpus):
                with open(path, 'rb') as f:
                    archives.append(f.read())
        else:
            print('make_seeds: no corpus at %s' % args.corpus, file=sys.stderr)
        archives += made_archives(work)

        rng = random.Random(1)
        for data in archives:
            whole = data if len(data) <= MAX_ARCHIVE else trimmed(data)
            if whole is not None:
                seeds.add('load_archive_fuzz', whole)
                seeds.add('extract_fuzz', whole)
            for method, flags, size, packed in packed_entries(data):
                if flags & 1 or not packed:
                    continue  # encrypted data says nothing to a decoder
                size16 = struct.pack('<H', size & 0xFFFF)
                if method == 8:
                    seeds.add('inflate_fuzz', bytes([rng.randrange(256)]) + packed)
                    seeds.add('inflate_diff_fuzz', bytes([0, rng.randrange(256)]) + packed)
                elif method == 1:
                    seeds.add('unshrink_fuzz', bytes([0]) + size16 + packed)
                elif 2 <= method <= 5:
                    seeds.add('unreduce_fuzz', bytes([(method - 2)]) + size16 + packed)
                elif method == 6:
                    seeds.add('explode_fuzz', bytes([(flags >> 1) & 3]) + size16 + packed)

        # zlib's streams of several settings, and plain data for the encoders.
        samples = [b'', b'a', bytes(70000), random.Random(3).randbytes(5000),
                   b''.join(b'%d,' % (i * i % 977) for i in range(20000))]
        for name in ('docs/ARCHITECTURE.md', 'unzip/inflate.cpp', 'compress/deflate.cpp'):
            path = os.path.join(ROOT, name)
            if os.path.exists(path):
                with open(path, 'rb') as f:
                    samples.append(f.read())
        for i, data in enumerate(samples):
            for level, strategy in ((1, 0), (6, 0), (9, 0), (6, 2), (6, 3), (6, 4)):
                z = zlib.compressobj(level, zlib.DEFLATED, -15, 8, strategy)
                stream = z.compress(data) + z.flush()
                seeds.add('inflate_fuzz', bytes([i]) + stream)
                seeds.add('inflate_diff_fuzz', bytes([0, i]) + stream)
            seeds.add('inflate_diff_fuzz', bytes([1, i, 6, 0, 0x3F]) + data[:MAX_STREAM])
            seeds.add('deflate_roundtrip_fuzz', bytes([i % 9, [0, 1, 100, 255][i % 4]]) + data)

        for kind in (0, 1, 2, 3, 4, 6):
            for _ in range(4):
                seeds.add('streams_fuzz', stream_ops(rng, kind))

        hand_made = os.path.join(ROOT, 'fuzz', 'seeds')
        if os.path.isdir(hand_made):
            for target in sorted(os.listdir(hand_made)):
                for name in sorted(os.listdir(os.path.join(hand_made, target))):
                    with open(os.path.join(hand_made, target, name), 'rb') as f:
                        seeds.add(target, f.read())
    finally:
        shutil.rmtree(work, ignore_errors=True)

    for target in sorted(seeds.count):
        print('%-24s %5d seeds' % (target, seeds.count[target]))


if __name__ == '__main__':
    main()
