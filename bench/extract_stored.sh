#!/usr/bin/env bash
# Whole-command timing: `zipkit extract` of a ~200 MB stored archive beside Info-ZIP unzip,
# in the same hyperfine run. Usage: bench/extract_stored.sh [path/to/zipkit]
set -euo pipefail
cd "$(dirname "$0")/.."
cli=$(realpath "${1:-build/native/zipkit}")
data=../shared/bench-data/corpus
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# 18 copies of the Canterbury large corpus (~200 MB), stored.
mkdir -p "$work/src"
for i in $(seq -w 1 18); do
  mkdir -p "$work/src/set$i"
  cp "$data"/large/* "$work/src/set$i/"
done
(cd "$work/src" && zip -q -r -0 "$work/stored.zip" .)
ls -l "$work/stored.zip"

hyperfine --warmup 1 --runs 10 \
  --prepare "rm -rf $work/out-zipkit $work/out-unzip" \
  -n zipkit "$cli extract $work/stored.zip -d $work/out-zipkit --paths" \
  -n unzip "unzip -o -q $work/stored.zip -d $work/out-unzip"
rm -rf "$work/out-zipkit"
"$cli" extract "$work/stored.zip" -d "$work/out-zipkit" --paths
diff -r "$work/src" "$work/out-zipkit" && echo "zipkit output identical to the source"
