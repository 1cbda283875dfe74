#!/usr/bin/env python3
"""Runs the corpus checker with --design and judges its verdicts against the known gaps.

A set is a known gap when one of its entries uses a compression method listed in the unbuilt
file and that entry (under the design's expectations) must be extracted ("ok"; an "optional"
entry decides nothing). The run fails
on any FAIL outside the gaps, and on any gap that passes (its decoder has landed: shorten the
list).
"""
import argparse
import importlib.util
import json
import os
import re
import subprocess
import sys


def load_checker(path):
    spec = importlib.util.spec_from_file_location('corpus_check', path)
    mod = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(mod)
    return mod


def unbuilt_methods(path):
    methods = set()
    with open(path, encoding='utf-8') as f:
        for line in f:
            line = line.split('#', 1)[0].strip()
            if line:
                methods.add(int(line.split()[0]))
    return methods


def known_gaps(checker, manifest, unbuilt):
    gaps = {}
    for arc in manifest['archives']:
        arc = checker.apply_design(arc)
        needs = sorted({e['method'] for e in arc['entries']
                        if e['method'] in unbuilt and e.get('expect') == 'ok'})
        if needs:
            gaps[arc['id']] = needs
    return gaps


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument('--checker', required=True)
    ap.add_argument('--corpus', required=True)
    ap.add_argument('--unbuilt', required=True)
    ap.add_argument('--cli', required=True)
    ap.add_argument('-j', type=int, default=2)
    a = ap.parse_args()

    checker = load_checker(a.checker)
    with open(os.path.join(a.corpus, 'manifest.json'), encoding='utf-8') as f:
        manifest = json.load(f)
    gaps = known_gaps(checker, manifest, unbuilt_methods(a.unbuilt))

    proc = subprocess.run([sys.executable, a.checker, a.corpus, '--cli', a.cli, '--design',
                           '-j', str(a.j)], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, text=True, errors='replace')
    verdicts = {}
    for line in proc.stdout.splitlines():
        m = re.match(r'(PASS|FAIL) (\S+?)(?::|\s|$)', line)
        if m:
            verdicts[m.group(2)] = (m.group(1), line)
    if not verdicts:
        print(proc.stdout)
        print('corpus check: the checker reported nothing (exit %d)' % proc.returncode)
        return 1

    unexpected = [line for aid, (v, line) in sorted(verdicts.items()) if v == 'FAIL' and aid not in gaps]
    closed = [aid for aid, (v, _) in sorted(verdicts.items()) if v == 'PASS' and aid in gaps]
    missing = [arc['id'] for arc in manifest['archives'] if arc['id'] not in verdicts]
    for line in unexpected:
        print(line)
    for aid in closed:
        print('GAP CLOSED %s (needs methods %s): remove them from the unbuilt list' % (aid, gaps[aid]))
    for aid in missing:
        print('NO VERDICT %s' % aid)
    gap_fails = sum(1 for aid, (v, _) in verdicts.items() if v == 'FAIL' and aid in gaps)
    passed = sum(1 for v, _ in verdicts.values() if v == 'PASS')
    print('corpus: %d passed, %d failed outside the gaps, %d known gaps failing, %d gaps closed'
          % (passed, len(unexpected), gap_fails, len(closed)))
    return 1 if (unexpected or closed or missing) else 0


if __name__ == '__main__':
    sys.exit(main())
