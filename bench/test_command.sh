#!/usr/bin/env bash
# Whole-command timing of `zipkit test` beside Info-ZIP `unzip -tq` on the same large archives,
# in one hyperfine run each: deflated (the Canterbury large corpus eight times over, zip -6),
# shrunk and imploded (the entries of the old DOS archives in the benchmark data, copied 40
# times). Debian's unzip cannot decode reduced entries: for those, our MB/s alone.
# Needs hyperfine. Usage: bench/test_command.sh [path/to/zipkit]
set -euo pipefail
cd "$(dirname "$0")/.."
cli=$(realpath "${1:-build/native/zipkit}")
data=../shared/bench-data
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/src"
for i in 1 2 3 4 5 6 7 8; do
  mkdir -p "$work/src/set$i"
  cp "$data"/corpus/large/* "$work/src/set$i/"
done
(cd "$work/src" && zip -q -r -6 "$work/deflated.zip" .)
python3 bench/replicate_entries.py "$data/legacy/PKZ110ES.ZIP" 40 "$work/shrunk.zip"
python3 bench/replicate_entries.py "$data/legacy/PKZ110EI.ZIP" 40 "$work/imploded.zip"
python3 bench/replicate_entries.py "$data/legacy/PKZ80B4.ZIP" 40 "$work/reduced.zip"

for kind in deflated shrunk imploded; do
  archive=$work/$kind.zip
  unpacked=$(unzip -l "$archive" | tail -1 | awk '{print $1}')
  echo "== $kind: $(stat -c %s "$archive") bytes packed, $unpacked unpacked"
  "$cli" test "$archive" >/dev/null && unzip -tq "$archive" >/dev/null
  hyperfine --warmup 1 --runs 5 -N \
    -n "zipkit test ($kind)" "$cli test $archive" \
    -n "unzip -tq ($kind)" "unzip -tq $archive"
done

# Reduced: ours alone, and beside it the other methods' MB/s of unpacked output.
echo "== reduced: $(stat -c %s "$work/reduced.zip") bytes packed"
"$cli" test "$work/reduced.zip" >/dev/null
hyperfine --warmup 1 --runs 5 -N --export-json "$work/reduced.json" \
  -n "zipkit test (reduced)" "$cli test $work/reduced.zip"
python3 - "$work/reduced.json" "$((3245842 * 40))" <<'PY'
import json, sys
mean = json.load(open(sys.argv[1]))['results'][0]['mean']
print('reduced: %.1f MB/s of unpacked output' % (int(sys.argv[2]) / mean / 1e6))
PY
