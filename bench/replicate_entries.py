#!/usr/bin/env python3
"""Makes a large archive from a small one by copying its entries' packed bytes COPIES times,
each copy under its own folder name (c00/, c01/, ...). The packed data is never decoded or
re-encoded, so an archive of an old method stays in that method: a way to time decoders that
no tool on this machine can write.

    bench/replicate_entries.py SOURCE.zip COPIES OUT.zip
"""
import struct
import sys
import zipfile


def main():
    source, copies, out = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    with open(source, 'rb') as f:
        data = f.read()
    infos = zipfile.ZipFile(source).infolist()
    local, central = bytearray(), bytearray()
    for copy in range(copies):
        for info in infos:
            at = info.header_offset
            (sig, version, flags, method, time, date, crc, packed, unpacked, name_len,
             extra_len) = struct.unpack_from('<IHHHHHIIIHH', data, at)
            assert sig == 0x04034B50, 'local header expected'
            payload = data[at + 30 + name_len + extra_len:][:info.compress_size]
            name = b'c%02d/' % copy + data[at + 30:at + 30 + name_len]
            flags &= ~0x0008  # the sizes stand in the headers; no descriptor follows
            offset = len(local)
            local += struct.pack('<IHHHHHIIIHH', sig, version, flags, method, time, date,
                                 info.CRC, info.compress_size, info.file_size, len(name), 0)
            local += name + payload
            central += struct.pack('<IHHHHHHIIIHHHHHII', 0x02014B50, info.create_version,
                                   version, flags, method, time, date, info.CRC,
                                   info.compress_size, info.file_size, len(name), 0, 0, 0, 0,
                                   info.external_attr, offset)
            central += name
    count = copies * len(infos)
    assert count < 0x10000 and len(local) + len(central) < 0xFFFFFFFF
    end = struct.pack('<IHHHHIIH', 0x06054B50, 0, 0, count, count, len(central), len(local), 0)
    with open(out, 'wb') as f:
        f.write(local + central + end)


if __name__ == '__main__':
    main()
