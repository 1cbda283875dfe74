#!/usr/bin/env bash
# Whole-command timing of `zipkit list` beside Info-ZIP `unzip -l` on an archive of 100,000
# small entries in 100 folders, in one hyperfine run; then the peak memory of each.
# Needs hyperfine. Usage: bench/list_command.sh [path/to/zipkit]
set -euo pipefail
cd "$(dirname "$0")/.."
cli=$(realpath "${1:-build/native/zipkit}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Written by hand: with more than 65,535 entries other writers switch to ZIP64 records, which
# we do not read; the classic end record counts the entries modulo 65,536, as old tools did.
python3 - "$work/many.zip" <<'PY'
import struct, sys, zlib
local, central = bytearray(), bytearray()
for i in range(100000):
    name, data = b'd%03d/file%06d.txt' % (i % 100, i), b'entry %d\n' % i
    head = struct.pack('<HHHHHIII', 10, 0, 0, 0x6000, 0x5821, zlib.crc32(data), len(data),
                       len(data))
    central += struct.pack('<IH', 0x02014B50, 0x031E) + head + struct.pack(
        '<HHHHHII', len(name), 0, 0, 0, 0, 0o100644 << 16, len(local)) + name
    local += struct.pack('<I', 0x04034B50) + head + struct.pack('<HH', len(name), 0) + name + data
count = 100000 & 0xFFFF
end = struct.pack('<IHHHHIIH', 0x06054B50, 0, 0, count, count, len(central), len(local), 0)
open(sys.argv[1], 'wb').write(local + central + end)
PY
echo "archive: $(stat -c %s "$work/many.zip") bytes, $(unzip -l "$work/many.zip" | tail -1)"
[ "$("$cli" list "$work/many.zip" | grep -c 'file')" -eq 100000 ]

hyperfine --warmup 1 --runs 10 -N \
  -n "zipkit list" "$cli list $work/many.zip" \
  -n "unzip -l" "unzip -l $work/many.zip"
for command in "$cli list" "unzip -l"; do
  /usr/bin/time -f "$command: peak %M KiB" $command "$work/many.zip" >/dev/null
done
