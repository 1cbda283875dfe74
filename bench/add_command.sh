#!/bin/sh
# Whole-command timing: `zipkit add --level 5` beside Info-ZIP `zip -5`, both compressing the
# same 50 MB mixed tree (text, compressed archives, random bytes, 2000 small files) made from
# the benchmark data; then the two archive sizes. Needs hyperfine.
#
#   bench/add_command.sh [ZIPKIT] [BENCH_DATA]
set -eu
ZIPKIT=$(realpath "${1:-build/native/zipkit}")
DATA=$(realpath "${2:-../shared/bench-data}")
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
TREE=$WORK/tree

mkdir -p "$TREE/text/a" "$TREE/text/b" "$TREE/archives" "$TREE/binary" "$TREE/small"
cp "$DATA"/corpus/canterbury/* "$DATA"/corpus/large/* "$TREE/text/a/"
cp "$DATA"/corpus/large/* "$TREE/text/b/"
cp "$DATA"/legacy/*.ZIP "$TREE/archives/"
python3 - "$TREE" <<'PY'
import os, random, sys
tree = sys.argv[1]
rng = random.Random(1)
with open(os.path.join(tree, 'binary', 'random.bin'), 'wb') as f:
    f.write(rng.randbytes(6 << 20))
bible = open(os.path.join(tree, 'text', 'a', 'bible.txt'), 'rb').read()
for i in range(2000):
    d = os.path.join(tree, 'small', 'd%02d' % (i % 40))
    os.makedirs(d, exist_ok=True)
    start = (i * 4099) % (len(bible) - 8192)
    with open(os.path.join(d, 'f%04d.txt' % i), 'wb') as f:
        f.write(bible[start:start + 1024 + (i * 37) % 7168])
PY
echo "tree: $(du -sb "$TREE" | cut -f1) bytes in $(find "$TREE" -type f | wc -l) files"

cd "$TREE"
hyperfine --warmup 1 --runs 5 --prepare "rm -f $WORK/ours.zip $WORK/peer.zip" \
  -n "zipkit add --level 5" "$ZIPKIT add $WORK/ours.zip . --recurse --level 5" \
  -n "zip -5" "zip -q -r -5 $WORK/peer.zip ."
"$ZIPKIT" add "$WORK/ours.zip" . --recurse --level 5
zip -q -r -5 "$WORK/peer.zip" .
echo "archive: zipkit $(stat -c %s "$WORK/ours.zip") bytes, zip $(stat -c %s "$WORK/peer.zip") bytes"
