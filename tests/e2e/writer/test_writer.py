#!/usr/bin/env python3
"""End-to-end tests of the writing commands of the zipkit CLI.

Archives that zipkit writes (stored, every level, encrypted, with comments, with folders,
spanned, self-extracting, and archives of other tools changed by zipkit) must pass Info-ZIP
`unzip -t`, `7z t` and Python's zipfile.testzip(), and extract to the bytes they were made
from. Faults of the host (a full disk, a file that cannot be read, a killed process) come from
the fault injection library loaded with LD_PRELOAD, and must leave the original archive whole.
"""
import argparse
import glob
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

CLI = None
FAULT_LIB = None
PASSWORD = 'pa55 word'


def run(*args, cwd=None, env=None, timeout=600):
    full_env = dict(os.environ)
    if env:
        full_env.update(env)
    p = subprocess.run(list(args), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE, cwd=cwd, env=full_env, timeout=timeout)
    return p.returncode, p.stdout.decode('utf-8', 'replace') + p.stderr.decode('utf-8', 'replace')


def zk(*args, cwd=None, env=None):
    return run(CLI, *args, cwd=cwd, env=env)


def read_bytes(path):
    with open(path, 'rb') as f:
        return f.read()


def write_bytes(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'wb') as f:
        f.write(data)


def tree(root):
    """Every file below root (relative name -> bytes) and every folder (name + '/' -> None)."""
    out = {}
    for dirpath, dirs, names in os.walk(root):
        for d in dirs:
            out[os.path.relpath(os.path.join(dirpath, d), root) + '/'] = None
        for n in names:
            full = os.path.join(dirpath, n)
            out[os.path.relpath(full, root)] = read_bytes(full)
    return out


def text_bytes(rng, size):
    words = [b'archive', b'entry', b'deflate', b'volume', b'header', b'the', b'of', b'and',
             b'zip', b'data', b'\n', b'stream', b'window']
    out = bytearray()
    while len(out) < size:
        out += rng.choice(words) + b' '
    return bytes(out[:size])


def make_source(root, rng):
    """A small mixed tree: text, random bytes, an empty file, nested and empty folders."""
    files = {
        'readme.txt': text_bytes(rng, 20000),
        'random.bin': rng.randbytes(50000),
        'empty.dat': b'',
        'docs/guide.txt': text_bytes(rng, 300000),
        'docs/deep/notes.md': text_bytes(rng, 5000),
        'docs/deep/zeros.bin': bytes(100000),
    }
    for name, data in files.items():
        write_bytes(os.path.join(root, name), data)
    os.makedirs(os.path.join(root, 'docs', 'empty'))
    return tree(root)


class WriterTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix='zipkit-writer-')
        self.rng = random.Random(8)

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.tmp, *parts)

    def zk_ok(self, *args, cwd=None):
        rc, out = zk(*args, cwd=cwd or self.tmp)
        self.assertEqual(rc, 0, out)
        return out

    # ---- The peers ----

    def check_peers(self, archive, expected, password=None):
        """unzip -t, 7z t and zipfile.testzip() pass; unzip, 7z, zipfile and zipkit extract
        exactly the expected tree (relative name -> bytes, folders as name/ -> None)."""
        pw_unzip = ['-P', password] if password else []
        rc, out = run('unzip', '-t', *pw_unzip, archive)
        self.assertEqual(rc, 0, out)
        rc, out = run('7z', 't', '-p' + (password or ''), archive)
        self.assertEqual(rc, 0, out)
        with zipfile.ZipFile(archive) as z:
            if password:
                z.setpassword(password.encode())
            self.assertIsNone(z.testzip())
            got = {}
            for info in z.infolist():
                got[info.filename] = None if info.is_dir() else z.read(info)
            self.assertEqual(got, expected)
        for tool, cmd in (('unzip', ['unzip', '-q', *pw_unzip, archive, '-d']),
                          ('7z', ['7z', 'x', '-y', '-p' + (password or ''), archive, '-o']),
                          ('zipkit', [CLI, 'extract', archive, '--paths',
                                      *(['--password', password] if password else []), '-d'])):
            out_dir = self.path('out-' + tool)
            shutil.rmtree(out_dir, ignore_errors=True)
            if tool == '7z':
                cmd = cmd[:-1] + ['-o' + out_dir]
            else:
                cmd = cmd + [out_dir]
            rc, out = run(*cmd)
            self.assertEqual(rc, 0, tool + ': ' + out)
            self.assertEqual(tree(out_dir), expected, tool)
        rc, out = zk('test', archive, *(['--password', password] if password else []))
        self.assertEqual(rc, 0, out)

    # ---- What we write ----

    def test_every_method_and_level_passes_the_peers(self):
        expected = make_source(self.path('src'), self.rng)
        for options in (['--store'], ['--level', '1'], ['--level', '3'], ['--level', '5'],
                        ['--level', '9'], ['--password', PASSWORD],
                        ['--store', '--password', PASSWORD]):
            with self.subTest(options=options):
                archive = self.path('t.zip')
                if os.path.exists(archive):
                    os.remove(archive)
                self.zk_ok('add', archive, '.', '--recurse', *options, cwd=self.path('src'))
                password = PASSWORD if '--password' in options else None
                self.check_peers(archive, expected, password)
                with zipfile.ZipFile(archive) as z:
                    methods = {i.compress_type for i in z.infolist() if i.file_size}
                    if '--store' in options:
                        self.assertEqual(methods, {zipfile.ZIP_STORED})
                    else:
                        self.assertIn(zipfile.ZIP_DEFLATED, methods)
                    if password:
                        self.assertTrue(all(i.flag_bits & 1 for i in z.infolist() if i.file_size))

    def test_names_folders_and_comments(self):
        names = {'\u00e9t\u00e9.txt': b'cp437 holds this name',
                 '\u65e5\u672c/\u8a9e.txt': b'cp437 holds none of it',
                 'plain/ascii.txt': b'plain'}
        for name, data in names.items():
            write_bytes(self.path('src', name), data)
        self.zk_ok('add', self.path('n.zip'), '.', '--recurse', cwd=self.path('src'))
        self.zk_ok('comment', self.path('n.zip'), 'made by zipkit')
        expected = dict(names)
        expected.update({'\u65e5\u672c/': None, 'plain/': None})
        with zipfile.ZipFile(self.path('n.zip')) as z:
            self.assertEqual(z.comment, b'made by zipkit')
            flags = {i.filename: i.flag_bits & 0x800 for i in z.infolist()}
        self.assertEqual(flags['\u00e9t\u00e9.txt'], 0)          # stored in CP437
        self.assertEqual(flags['\u65e5\u672c/\u8a9e.txt'], 0x800)  # stored in UTF-8
        rc, out = run('unzip', '-z', self.path('n.zip'))
        self.assertIn('made by zipkit', out)
        rc, out = run('7z', 't', self.path('n.zip'))
        self.assertEqual(rc, 0, out)
        rc, out = run('unzip', '-t', self.path('n.zip'))
        self.assertEqual(rc, 0, out)
        with zipfile.ZipFile(self.path('n.zip')) as z:
            self.assertIsNone(z.testzip())
            self.assertEqual({i.filename: None if i.is_dir() else z.read(i) for i in z.infolist()},
                             expected)
        self.zk_ok('comment', self.path('n.zip'), '')
        with zipfile.ZipFile(self.path('n.zip')) as z:
            self.assertEqual(z.comment, b'')

    def test_changes_to_archives_of_other_tools(self):
        src = self.path('src')
        expected = make_source(src, self.rng)
        makers = {
            # Info-ZIP with its extra fields; streamed to a pipe, so with data descriptors.
            'infozip.zip': lambda p: run('sh', '-c', 'zip -q -r - . > "%s"' % p, cwd=src),
            # Python's zipfile, deflated.
            'python.zip': lambda p: shutil.make_archive(p[:-4], 'zip', src),
        }
        for name, make in makers.items():
            with self.subTest(maker=name):
                archive = self.path(name)
                make(archive)
                write_bytes(self.path('more', 'added.txt'), b'added later\n' * 100)
                write_bytes(os.path.join(src, 'readme.txt'), b'replaced contents\n' * 50)
                self.zk_ok('replace', archive, 'readme.txt', cwd=src)
                self.zk_ok('add', archive, 'added.txt', cwd=self.path('more'))
                self.zk_ok('delete', archive, 'random.bin')
                self.zk_ok('rename', archive, 'docs/deep/notes.md', 'docs/notes.md')
                want = {k: v for k, v in expected.items() if k != 'random.bin'}
                want['readme.txt'] = b'replaced contents\n' * 50
                want['added.txt'] = b'added later\n' * 100
                want['docs/notes.md'] = want.pop('docs/deep/notes.md')
                with zipfile.ZipFile(archive) as z:
                    folders = {i.filename for i in z.infolist() if i.is_dir()}
                want = {k: v for k, v in want.items() if v is not None or k in folders}
                self.check_peers(archive, want)
                write_bytes(os.path.join(src, 'readme.txt'), expected['readme.txt'])

    def test_freshen_takes_changed_files_only(self):
        src = self.path('src')
        expected = make_source(src, self.rng)
        archive = self.path('f.zip')
        self.zk_ok('add', archive, '.', '--recurse', cwd=src)
        before = {i.filename: i.CRC for i in zipfile.ZipFile(archive).infolist()}
        write_bytes(os.path.join(src, 'docs', 'guide.txt'), b'new guide')
        os.utime(os.path.join(src, 'docs', 'guide.txt'), (time.time() + 10, time.time() + 10))
        self.zk_ok('freshen', archive, cwd=src)
        expected['docs/guide.txt'] = b'new guide'
        self.check_peers(archive, expected)
        after = {i.filename: i.CRC for i in zipfile.ZipFile(archive).infolist()}
        changed = {n for n in after if after[n] != before[n]}
        self.assertEqual(changed, {'docs/guide.txt'})

    def test_spanned_set(self):
        src = self.path('src')
        expected = make_source(src, self.rng)
        for method in ('--store', '--level=5'):
            with self.subTest(method=method):
                self.check_spanned_set(src, expected, method.split('='))

    def check_spanned_set(self, src, expected, options):
        work = self.path('set' + options[0])
        os.makedirs(work)
        archive = os.path.join(work, 's.zip')
        self.zk_ok('add', archive, '.', '--recurse', *options, '--span', '64k', cwd=src)
        volumes = sorted(glob.glob(os.path.join(work, 's.z[0-9][0-9]')))
        self.assertGreaterEqual(len(volumes), 1)
        self.assertEqual(read_bytes(archive)[:4], b'PK\x07\x08')
        for v in [archive] + volumes:
            self.assertLessEqual(os.path.getsize(v), 65536, v)
        # Our own reader takes the set from its first volume.
        rc, out = zk('test', archive)
        self.assertEqual(rc, 0, out)
        out_dir = os.path.join(work, 'out-zipkit')
        rc, out = zk('extract', archive, '--paths', '-d', out_dir)
        self.assertEqual(rc, 0, out)
        self.assertEqual(tree(out_dir), expected)
        # Other tools read split sets named .z01, .z02, ... with the last volume as .zip: the
        # same volumes under those names are such a set, which 7-Zip tests and extracts. (Info-ZIP
        # unzip reads no sets, and zip's joining of sets, `zip -s 0`, cuts stored entries that
        # run over more than two volumes, also of sets that zip made itself.)
        split = os.path.join(work, 'split')
        os.makedirs(split)
        ours = [archive] + volumes
        for i, v in enumerate(ours[:-1]):
            shutil.copy(v, os.path.join(split, 'x.z%02d' % (i + 1)))
        shutil.copy(ours[-1], os.path.join(split, 'x.zip'))
        rc, out = run('7z', 't', os.path.join(split, 'x.zip'))
        self.assertEqual(rc, 0, out)
        self.assertIn('Volumes = %d' % len(ours), out)
        out_dir = os.path.join(work, 'out-7z')
        rc, out = run('7z', 'x', '-y', os.path.join(split, 'x.zip'), '-o' + out_dir)
        self.assertEqual(rc, 0, out)
        self.assertEqual(tree(out_dir), expected)
        # A set is never rewritten.
        before = {v: read_bytes(v) for v in ours}
        write_bytes(self.path('more', 'x.txt'), b'x')
        rc, out = zk('add', archive, 'x.txt', cwd=self.path('more'))
        self.assertEqual(rc, 2, out)
        self.assertIn('Cannot update an existing spanned disk set', out)
        self.assertEqual({v: read_bytes(v) for v in ours}, before)

    def test_self_extracting_archive_keeps_its_stub(self):
        src = self.path('src')
        expected = make_source(src, self.rng)
        stub = read_bytes(shutil.which('true'))
        plain = self.path('plain.zip')
        self.zk_ok('add', plain, 'readme.txt', cwd=src)
        sfx = self.path('sfx.bin')
        write_bytes(sfx, stub + read_bytes(plain))
        os.chmod(sfx, 0o755)
        rc, out = run('zip', '-A', sfx)  # Info-ZIP counts the stub in the offsets
        self.assertEqual(rc, 0, out)
        self.zk_ok('add', sfx, 'docs', '--recurse', cwd=src)
        data = read_bytes(sfx)
        self.assertEqual(data[:len(stub)], stub)
        self.assertEqual(os.stat(sfx).st_mode & 0o777, 0o755)
        rc, out = run(sfx)  # the stub still runs
        self.assertEqual(rc, 0, out)
        want = {k: v for k, v in expected.items() if k == 'readme.txt' or k.startswith('docs/')}
        self.check_peers(sfx, want)

    # ---- Bad input and faults ----

    def test_duplicate_name_is_reported_and_the_archive_kept(self):
        write_bytes(self.path('a.txt'), b'one')
        self.zk_ok('add', self.path('d.zip'), 'a.txt')
        before = read_bytes(self.path('d.zip'))
        write_bytes(self.path('a.txt'), b'two')
        rc, out = zk('add', self.path('d.zip'), 'a.txt', cwd=self.tmp)
        self.assertEqual(rc, 1, out)
        self.assertIn('Cannot insert file - duplicates stored name', out)
        self.assertEqual(read_bytes(self.path('d.zip')), before)
        rc, out = zk('add', self.path('nothing.zip'), 'missing.txt', cwd=self.tmp)
        self.assertEqual(rc, 1, out)
        self.assertFalse(os.path.exists(self.path('nothing.zip')))
        rc, out = zk('delete', self.path('d.zip'), 'missing.txt')
        self.assertEqual(rc, 1, out)
        rc, out = zk('delete', self.path('absent.zip'), 'a.txt')
        self.assertEqual(rc, 2, out)
        rc, out = zk('add', self.path('d.zip'))
        self.assertEqual(rc, 2, out)

    def test_unreadable_file_is_dropped_and_the_rest_saved(self):
        src = self.path('src')
        expected = make_source(src, self.rng)
        env = {'LD_PRELOAD': FAULT_LIB, 'ZK_FAULT_EIO_READ': 'random.bin',
               'ASAN_OPTIONS': 'verify_asan_link_order=0'}
        rc, out = zk('add', self.path('u.zip'), '.', '--recurse', cwd=src, env=env)
        self.assertEqual(rc, 1, out)
        self.assertIn('random.bin', out)
        del expected['random.bin']
        self.check_peers(self.path('u.zip'), expected)

    def test_full_disk_leaves_the_original(self):
        src = self.path('src')
        make_source(src, self.rng)
        archive = self.path('o.zip')
        self.zk_ok('add', archive, 'readme.txt', cwd=src)
        before = read_bytes(archive)
        env = {'LD_PRELOAD': FAULT_LIB, 'ZK_FAULT_NOSPACE_AFTER': '60000',
               'ASAN_OPTIONS': 'verify_asan_link_order=0'}
        rc, out = zk('add', archive, 'docs', 'random.bin', '--recurse', cwd=src, env=env)
        self.assertEqual(rc, 2, out)
        self.assertIn('Stream write error', out)
        self.assertEqual(read_bytes(archive), before)
        self.assertEqual(sorted(os.listdir(self.tmp)), ['o.zip', 'src'])  # no temporary file left
        rc, out = run('unzip', '-t', archive)
        self.assertEqual(rc, 0, out)

    def test_killed_save_leaves_the_original(self):
        src = self.path('src')
        rng = random.Random(3)
        write_bytes(os.path.join(src, 'first.txt'), text_bytes(rng, 8 << 20))
        write_bytes(os.path.join(src, 'second.txt'), text_bytes(rng, 32 << 20))
        archive = self.path('k.zip')
        self.zk_ok('add', archive, 'first.txt', cwd=src)
        before = read_bytes(archive)
        p = subprocess.Popen([CLI, 'add', archive, 'second.txt'], cwd=src,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + 120
        grown = False
        while time.time() < deadline and p.poll() is None and not grown:
            for name in os.listdir(self.tmp):
                if name.startswith('ZKS') and os.path.getsize(self.path(name)) > (2 << 20):
                    grown = True
            time.sleep(0.002)
        os.kill(p.pid, signal.SIGKILL)
        p.wait()
        self.assertTrue(grown, 'the save ended before it could be killed')
        self.assertEqual(p.returncode, -signal.SIGKILL)
        self.assertEqual(read_bytes(archive), before)
        rc, out = run('unzip', '-t', archive)
        self.assertEqual(rc, 0, out)


def main():
    global CLI, FAULT_LIB
    parser = argparse.ArgumentParser()
    parser.add_argument('--cli', required=True)
    parser.add_argument('--fault-lib', required=True)
    args, rest = parser.parse_known_args()
    CLI = os.path.abspath(args.cli)
    FAULT_LIB = os.path.abspath(args.fault_lib)
    for tool in ('unzip', '7z', 'zip'):
        if shutil.which(tool) is None:
            sys.exit('missing peer tool: %s (scripts/install-deps installs it)' % tool)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == '__main__':
    main()
