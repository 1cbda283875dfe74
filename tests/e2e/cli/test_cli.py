#!/usr/bin/env python3
"""End-to-end tests of the zipkit CLI: list, test and extract on archives made by Python's
zipfile and (when installed) Info-ZIP zip, checked byte for byte."""
import argparse
import json
import os
import shutil
import stat
import subprocess
import sys
import tempfile
import unittest
import zipfile

CLI = None


def run(*args, cwd=None):
    p = subprocess.run([CLI, *args], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE, cwd=cwd, timeout=300)
    return p.returncode, p.stdout.decode('utf-8', 'replace'), p.stderr.decode('utf-8', 'replace')


def read_bytes(path):
    with open(path, 'rb') as f:
        return f.read()


def write_bytes(path, data):
    with open(path, 'wb') as f:
        f.write(data)


def files_below(root):
    out = {}
    for dirpath, _, names in os.walk(root):
        for n in names:
            full = os.path.join(dirpath, n)
            out[os.path.relpath(full, root)] = read_bytes(full)
    return out


class CliTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix='zipkit-cli-')

    def tearDown(self):
        for dirpath, dirs, _ in os.walk(self.tmp):
            for n in dirs:
                os.chmod(os.path.join(dirpath, n), 0o700)
        shutil.rmtree(self.tmp, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.tmp, *parts)

    def make_zip(self, name, entries, compression=zipfile.ZIP_STORED):
        """entries: list of (name, bytes) or (ZipInfo, bytes)."""
        p = self.path(name)
        with zipfile.ZipFile(p, 'w', compression) as z:
            for n, data in entries:
                z.writestr(n, data)
        return p

    # ---- list ------------------------------------------------------------------------------
    def test_list_json_matches_the_archive(self):
        entries = [('a.txt', b'alpha'), ('dir/b.bin', bytes(range(256)) * 40), ('dir/', b''),
                   ('empty', b'')]
        p = self.make_zip('l.zip', entries)
        rc, out, err = run('list', p, '--json')
        self.assertEqual(rc, 0, err)
        items = json.loads(out)
        with zipfile.ZipFile(p) as z:
            infos = z.infolist()
        self.assertEqual(len(items), len(infos))
        for it, info in zip(items, infos):
            self.assertEqual(it['name'], info.filename)
            self.assertEqual(it['method'], info.compress_type)
            self.assertEqual(it['packed_size'], info.compress_size)
            self.assertEqual(it['unpacked_size'], info.file_size)
            self.assertEqual(it['crc32'], info.CRC)
            self.assertFalse(it['encrypted'])
            self.assertEqual(it['date_time'], '%04d-%02d-%02d %02d:%02d:%02d' % info.date_time)

    def test_list_plain_and_empty_archive(self):
        p = self.make_zip('e.zip', [])
        rc, out, err = run('list', p, '--json')
        self.assertEqual((rc, json.loads(out)), (0, []), err)
        p = self.make_zip('one.zip', [('x.txt', b'x')])
        rc, out, _ = run('list', p)
        self.assertEqual(rc, 0)
        self.assertIn('x.txt', out)

    # ---- usage and unreadable archives -----------------------------------------------------
    def test_exit_two_for_usage_and_unopenable_archives(self):
        junk = self.path('junk.zip')
        with open(junk, 'wb') as f:
            f.write(b'MZ this is no archive at all' * 10)
        usage = [
            ('no arguments', []),
            ('unknown command', ['frobnicate', junk]),
            ('extract without -d', ['extract', junk]),
            ('unknown option', ['list', junk, '--bogus']),
            ('password without value', ['test', junk, '--password']),
        ]
        for what, args in usage:
            with self.subTest(what):
                rc, out, err = run(*args)
                self.assertEqual(rc, 2, out + err)
                lines = err.splitlines()
                self.assertRegex(lines[0], r'^zipkit: \S')  # what is wrong, then the usage
                self.assertTrue(lines[1].startswith('usage: '), err)
        unopenable = [
            ('missing archive', ['list', self.path('nope.zip')], 'File not found'),
            ('not an archive', ['list', junk], 'Invalid file - not a PKZip file'),
            ('not an archive, test', ['test', junk], 'Invalid file - not a PKZip file'),
            ('not an archive, extract', ['extract', junk, '-d', self.path('o')], 'Invalid file'),
        ]
        for what, args, text in unopenable:
            with self.subTest(what):
                rc, out, err = run(*args)
                self.assertEqual(rc, 2, out + err)
                self.assertEqual(len(err.splitlines()), 1, err)
                self.assertIn(text, err)
        self.assertFalse(os.path.exists(self.path('nope.zip')), 'list created the archive')

    # ---- extract ---------------------------------------------------------------------------
    def test_extract_flat_and_with_paths(self):
        entries = [('top.txt', b'top'), ('d1/d2/deep.txt', b'deep' * 1000), ('d1/', b''),
                   ('d3/', b'')]
        p = self.make_zip('x.zip', entries)
        rc, out, err = run('extract', p, '-d', self.path('flat'))
        self.assertEqual((rc, err), (0, ''))
        self.assertEqual(files_below(self.path('flat')), {'top.txt': b'top', 'deep.txt': b'deep' * 1000})
        rc, out, err = run('extract', p, '-d', self.path('tree'), '--paths')
        self.assertEqual((rc, err), (0, ''))
        self.assertEqual(files_below(self.path('tree')),
                         {'top.txt': b'top', os.path.join('d1', 'd2', 'deep.txt'): b'deep' * 1000})
        self.assertTrue(os.path.isdir(self.path('tree', 'd3')))

    def test_extract_stays_inside_the_target(self):
        names = ['../../escape1.txt', '/abs/escape2.txt', 'ok/../../escape3.txt', 'C:/win/escape4.txt']
        p = self.make_zip('evil.zip', [(n, n.encode()) for n in names])
        target = self.path('jail', 'a', 'b', 'target')
        os.makedirs(target)
        rc, out, err = run('extract', p, '-d', target, '--paths')
        self.assertEqual(rc, 0, err)
        produced = files_below(self.path('jail'))
        self.assertEqual(sorted(produced), sorted(os.path.join('a', 'b', 'target', x) for x in
                         ['escape1.txt', os.path.join('abs', 'escape2.txt'),
                          os.path.join('ok', 'escape3.txt'), os.path.join('win', 'escape4.txt')]))
        self.assertFalse(os.path.exists('/abs/escape2.txt'))

    def test_partial_failure_names_the_entry_and_goes_on(self):
        p = self.make_zip('c.zip', [('first.txt', b'1' * 5000), ('broken.txt', b'2' * 5000),
                                    ('last.txt', b'3' * 5000)])
        data = bytearray(read_bytes(p))
        at = data.find(b'2' * 100)
        data[at + 10] ^= 0xFF  # corrupt the stored data of broken.txt
        write_bytes(p, bytes(data))
        rc, out, err = run('extract', p, '-d', self.path('out'))
        self.assertEqual(rc, 1)
        self.assertEqual(err.strip().splitlines(), ['zipkit: broken.txt: Failed CRC Check'])
        self.assertEqual(sorted(files_below(self.path('out'))), ['first.txt', 'last.txt'])
        rc, out, err = run('test', p)
        self.assertEqual(rc, 1)
        self.assertIn('broken.txt: Failed CRC Check', err)

    def test_truncated_archive(self):
        p = self.make_zip('t.zip', [('a.txt', b'a' * 100), ('b.txt', b'b' * 100000)])
        data = read_bytes(p)
        # Cut the data of b.txt short and move the central directory up behind it.
        with zipfile.ZipFile(p) as z:
            info = z.getinfo('b.txt')
        cut = info.header_offset + 30 + len('b.txt') + 5000
        tail = bytearray(data[data.find(b'PK\x01\x02'):])
        eocd = tail.rfind(b'PK\x05\x06')
        tail[eocd + 16:eocd + 20] = cut.to_bytes(4, 'little')
        write_bytes(p, data[:cut] + bytes(tail))
        rc, out, err = run('extract', p, '-d', self.path('out'))
        self.assertEqual(rc, 1, err)
        self.assertIn('b.txt:', err)
        self.assertEqual(files_below(self.path('out')), {'a.txt': b'a' * 100})

    def test_quiet_without_a_terminal_and_never_prompts(self):
        p = self.make_zip('q.zip', [('a.txt', b'a' * 300000)])
        rc, out, err = run('extract', p, '-d', self.path('out'))
        self.assertEqual((rc, out, err), (0, '', ''))

    def test_progress_meter_on_a_terminal(self):
        import pty
        p = self.make_zip('m.zip', [('big%d.bin' % i, os.urandom(200000)) for i in range(4)])
        master, slave = pty.openpty()
        try:
            proc = subprocess.run([CLI, 'extract', p, '-d', self.path('out')],
                                  stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=slave,
                                  timeout=60)
            os.close(slave)
            slave = None
            shown = b''
            while True:
                try:
                    chunk = os.read(master, 65536)
                except OSError:
                    break
                if not chunk:
                    break
                shown += chunk
        finally:
            if slave is not None:
                os.close(slave)
            os.close(master)
        self.assertEqual(proc.returncode, 0)
        self.assertEqual(proc.stdout, b'')
        lines = shown.split(b'\r')
        bars = [l for l in lines if l.startswith(b'[')]
        self.assertTrue(bars, shown[:200])
        # The archive meter (first bar) fills up as entries are done, and the line is cleared.
        self.assertIn(b'big3.bin', shown)
        self.assertTrue(any(l.count(b'#') > 0 for l in bars))
        self.assertTrue(shown.endswith(b'\r\x1b[K'), shown[-40:])

    def test_something_in_the_way(self):
        p = self.make_zip('r.zip', [('a.txt', b'new'), ('b.txt', b'b')])
        cases = [('folder', lambda f: os.makedirs(f))]
        if os.geteuid() != 0:  # root writes read-only files
            def read_only(f):
                write_bytes(f, b'old')
                os.chmod(f, 0o444)
            cases.append(('read-only file', read_only))
        for what, make in cases:
            with self.subTest(what):
                out_dir = self.path('out-' + what)
                os.makedirs(out_dir)
                make(os.path.join(out_dir, 'a.txt'))
                rc, out, err = run('extract', p, '-d', out_dir)
                self.assertEqual(rc, 1)
                self.assertRegex(err, r'^zipkit: a\.txt: Cannot create file')
                self.assertEqual(files_below(out_dir).get('b.txt'), b'b')

    # ---- encryption (Info-ZIP zip writes it) -----------------------------------------------
    @unittest.skipUnless(shutil.which('zip'), 'Info-ZIP zip is not installed')
    def test_encrypted_entries(self):
        src = self.path('src')
        os.makedirs(src)
        for n, data in (('s1.txt', b'secret one'), ('s2.bin', os.urandom(70000))):
            write_bytes(os.path.join(src, n), data)
        p = self.path('enc.zip')
        subprocess.run(['zip', '-q', '-0', '-P', 'pass word', p, 's1.txt', 's2.bin'], cwd=src, check=True)
        rc, out, err = run('list', p, '--json')
        self.assertTrue(all(it['encrypted'] for it in json.loads(out)))
        cases = [('right', ['--password', 'pass word'], 0), ('wrong', ['--password', 'nope'], 1),
                 ('none', [], 1)]
        for what, pw, want in cases:
            with self.subTest(what):
                out_dir = self.path('out-' + what)
                rc, out, err = run('extract', p, '-d', out_dir, *pw)
                self.assertEqual(rc, want, err)
                if want == 0:
                    self.assertEqual(files_below(out_dir), files_below(src))
                else:
                    # Nothing half-written; one named failure per entry (a wrong password
                    # passes the one-byte check once in 128 and then fails the CRC).
                    self.assertEqual(files_below(out_dir), {})
                    self.assertEqual(len(err.strip().splitlines()), 2, err)
                    self.assertIn('s1.txt:', err)
                rc, out, err = run('test', p, *pw)
                self.assertEqual(rc, want, err)


def main():
    global CLI
    ap = argparse.ArgumentParser()
    ap.add_argument('--cli', required=True)
    a, rest = ap.parse_known_args()
    CLI = os.path.abspath(a.cli)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == '__main__':
    main()
