#!/usr/bin/env python3
"""End-to-end tests of install.exe under Wine.

    bootstrap_e2e.py --state DIR --win32-build DIR setup      start Xvfb, initialise the base prefix
    bootstrap_e2e.py --state DIR --win32-build DIR run CASE   one case in a fresh copy of the prefix
    bootstrap_e2e.py --state DIR --win32-build DIR cleanup    stop Xvfb, remove the prefixes

Each case copies install.exe (built with the demo payload or a variant of it) into C:\\dist under
a name that carries a reseller tag, starts it, answers its message boxes with keys and checks what
it leaves in the prefix against the payload read with Python's zipfile. Exit status 77 means the
case was skipped (no Wine, Xvfb or win32 build).
"""
import argparse
import calendar
import os
import sys
import time
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winebox  # noqa: E402
from winebox import wait_for  # noqa: E402

SYSTEM_ROOT = "C:\\windows"
TEMP = SYSTEM_ROOT + "\\temp"
RESELLER = SYSTEM_ROOT + "\\m_reseller.bin"
REFUSAL = (b"Installation l\xe4uft bereits! Bitte warten... \r\r"
           b"Application already running! Please wait...")
NT_KEY = r"HKLM\Software\Microsoft\Windows NT\CurrentVersion"
TIMER_SECONDS = 10


def check(condition, message):
    if not condition:
        raise AssertionError(message)


def equal(actual, expected, what):
    check(actual == expected, f"{what}: expected {expected!r}, got {actual!r}")


class Case:
    """What every case shares: the prefix, the programs of the win32 build, the probe."""

    def __init__(self, session, programs, artifacts, name):
        self.session = session
        self.programs = programs
        self.artifacts = artifacts
        self.name = name
        self.prefix = session.prefix(name)
        self.probe_exe = programs["probe"]

    def sibling(self, suffix):
        """Another case in a fresh prefix of its own."""
        return Case(self.session, self.programs, self.artifacts, f"{self.name}-{suffix}")

    def install(self, variant, file_name):
        """Puts install.exe of a variant into C:\\dist under file_name; returns its path."""
        path = "C:\\dist\\" + file_name
        self.prefix.put(self.programs[variant], path)
        return path

    def window(self):
        return self.prefix.probe(self.probe_exe, "window")

    def dialogs(self):
        values = self.prefix.probe(self.probe_exe, "dialogs")
        boxes = []
        for i in range(int(values.get("dialogs", 0))):
            p = f"dialog{i}."
            boxes.append({
                "caption": bytes.fromhex(values[p + "caption_hex"]).decode("cp1252"),
                "text": bytes.fromhex(values.get(p + "text_hex", "")),
                "icons": int(values[p + "icons"]),
                "buttons": values[p + "buttons"],
                "frame": [int(v) for v in values[p + "frame"].split(",")],
            })
        return boxes

    def wait_for_box(self, caption, timeout=40):
        def found():
            return next((b for b in self.dialogs() if b["caption"] == caption), None)
        return wait_for(f"a message box captioned {caption!r}", found, timeout)

    def answer_box(self, box, text, icon):
        """Checks an OK-only box centred on the screen, then presses Return on it."""
        equal(box["text"], text, "message box text")
        equal(box["buttons"], "OK", "message box buttons")
        equal(box["icons"], 1 if icon else 0, "message box icons")
        x, y, w, h = box["frame"]
        check(abs(x - (1024 - w) // 2) <= 1 and abs(y - (768 - h) // 2) <= 1,
              f"message box at {x},{y} size {w}x{h} is not centred on the 1024x768 screen")
        self.prefix.press_return(box["caption"])
        wait_for("the message box to close",
                 lambda: all(b["caption"] != box["caption"] for b in self.dialogs()), 20)
        print(f"  box {box['caption']!r}: {box['text']!r} answered with Return")

    def wait_for_window(self, timeout=40):
        """Waits until the install window is visible; returns the probe's view of it."""
        def shown():
            w = self.window()
            return w if w.get("visible") == "1" else None
        return wait_for("the install window", shown, timeout)

    def label(self, window):
        return bytes.fromhex(window.get("label.text_hex", "")).decode("cp1252")

    def file(self, windows_path):
        """The bytes of a file in the prefix (any letter case), or None."""
        path = self.prefix.find(windows_path)
        if path is None:
            return None
        with open(path, "rb") as f:
            return f.read()

    def check_extracted(self, payload):
        """Every intact file entry is in the temp folder with its bytes and time stamp; an
        entry that fails its CRC-32 is absent. Returns the names of the absent entries."""
        absent = []
        with zipfile.ZipFile(payload) as zf:
            for info in zf.infolist():
                if info.is_dir():
                    continue
                name = info.filename.rsplit("/", 1)[-1]
                try:
                    expected = zf.read(info)
                except zipfile.BadZipFile:
                    expected = None
                path = self.prefix.find(TEMP + "\\" + name)
                if expected is None:
                    check(path is None, f"{name} has a bad CRC-32 but was left in the temp folder")
                    absent.append(name)
                    print(f"  {name}: bad CRC-32 in the payload, absent as it must be")
                    continue
                check(path is not None, f"{name} was not extracted into {TEMP}")
                with open(path, "rb") as f:
                    equal(f.read(), expected, f"contents of {name}")
                # Wine runs with TZ=UTC, so the local DOS stamp is the file's UTC time.
                stamp = calendar.timegm(info.date_time + (0, 0, 0))
                mtime = int(os.stat(path).st_mtime)
                equal(time.strftime("%Y-%m-%d %H:%M:%S", time.gmtime(mtime)),
                      time.strftime("%Y-%m-%d %H:%M:%S", time.gmtime(stamp)), f"time of {name}")
                print(f"  extracted {os.path.basename(path)}: {len(expected)} bytes, "
                      f"{time.strftime('%Y-%m-%d %H:%M:%S', time.gmtime(mtime))}")
        check(self.file(TEMP + "\\_Install.zip") is None, "_Install.zip is left in the temp folder")
        return absent

    def check_setup_ran(self):
        report = wait_for("setup-ran.txt", lambda: self.file(TEMP + "\\setup-ran.txt"), 20)
        lines = dict(line.split("=", 1) for line in report.decode("cp1252").splitlines()
                     if "=" in line)
        equal(lines.get("folder", "").lower(), TEMP.lower(), "Setup.exe's working folder")
        equal(lines.get("module", "").lower(), (TEMP + "\\setup.exe").lower(), "Setup.exe's path")
        print(f"  Setup.exe ran in {lines['folder']} at {lines.get('time')}")

    def ends_after_timer(self, run, shown_at):
        """The timer starts before the window shows and ends the program at its first tick:
        never sooner than its interval after the start, and about that after the window."""
        equal(run.wait(timeout=TIMER_SECONDS + 30), 0, "exit code")
        total = run.ended - run.started
        after = run.ended - shown_at
        check(total >= TIMER_SECONDS, f"the program ended {total:.1f} s after it started")
        check(after <= TIMER_SECONDS + 3.0,
              f"the program ended {after:.1f} s after its window was seen, not about "
              f"{TIMER_SECONDS} s")
        print(f"  ended with exit code 0, {total:.1f} s after its start, {after:.1f} s after "
              "the window was seen")


def check_layout(case, window, screenshot_name):
    """The install window against its layout: caption, client size, frame without border icons,
    centred, the label's place, text and font; then the pixels of a screenshot of it."""
    equal(window["caption"], "Install", "window caption")
    equal(window["dpi"], "96", "screen dpi of the prefix")
    fx, fy, fw, fh = (int(v) for v in window["frame"].split(","))
    equal(window["client"], "0,0,287,70", "client area")
    for style, wanted in (("caption_bar", "1"), ("system_menu", "0"), ("minimize", "0"),
                          ("maximize", "0"), ("sizeable", "0")):
        equal(window[style], wanted, f"window style {style}")
    sw, sh = (int(v) for v in window["screen"].split(","))
    check(abs(fx - (sw - fw) // 2) <= 1 and abs(fy - (sh - fh) // 2) <= 1,
          f"window at {fx},{fy} size {fw}x{fh} is not centred on {sw}x{sh}")
    equal(window["labels"], "1", "labels in the window")
    lx, ly, lw, lh = (int(v) for v in window["label.rect"].split(","))
    equal((lx, ly), (16, 8), "label position")
    equal(lh, 13, "label height")
    check(0 < lw < 287 - 16, f"label width {lw} does not fit its caption in the window")
    # The label sized itself to its caption in the layout's font.
    font = case.prefix.probe(case.probe_exe, "window", "MS Sans Serif", "-11")
    equal(font["label.text_hex"], window["label.text_hex"], "label caption")
    equal(font["label.text_extent"], f"{lw},{lh}", "label size against its caption in "
          "MS Sans Serif, 8 point")

    # The screenshot: the frame as Wine drew it on the X screen.
    x_windows = case.prefix.x_windows("Install")
    check(x_windows, "no X window named Install")
    equal(case.prefix.x_geometry(x_windows[-1]), (fx, fy, fw, fh), "X window geometry")
    png = os.path.join(case.artifacts, screenshot_name)
    pixels = case.prefix.screenshot((fx, fy, fw, fh), png)
    face = tuple(int(v) for v in window["btnface"].split(","))
    cx, cy = (int(v) for v in window["client_origin"].split(","))
    cx, cy = cx - fx, cy - fy
    text = stray = 0
    for row in range(70):
        for col in range(287):
            inside = lx <= col < lx + lw and ly <= row < ly + lh
            if pixels[cy + row][cx + col] != face:
                text += inside
                stray += not inside
    check(text >= 30, f"only {text} pixels of text drawn in the label")
    equal(stray, 0, "pixels off the button face outside the label")
    bar = sum(1 for row in range(cy) for px in pixels[row] if px != face)
    check(bar > fw, "no caption bar drawn above the client area")
    print(f"  window 'Install' {fw}x{fh} at {fx},{fy}, client 287x70, label "
          f"{case.label(window)!r} at 16,8 ({lw}x{lh}, {text} text pixels); screenshot {png}")


# -- the cases --

def case_install(case):
    """Setup-ABC.exe: reseller file, extraction with time stamps, Setup.exe started in the temp
    folder, the window as laid out, a second copy refused, the end ten seconds later."""
    first = case.prefix.start(case.install("demo", "Setup-ABC.exe"))
    case.install("demo", "Second-XY.exe")
    window = case.wait_for_window()
    shown_at = time.monotonic()
    equal(case.label(window), "Installation running...", "label caption")
    check_layout(case, window, "install-window.png")

    second = case.prefix.start("C:\\dist\\Second-XY.exe")
    case.answer_box(case.wait_for_box("Second-xy"), REFUSAL, icon=False)
    equal(second.wait(timeout=20), 0, "exit code of the refused copy")
    check(first.running(), "the first copy ended when the second was refused")
    print("  a second copy was refused and ended with exit code 0")

    equal(case.file(RESELLER), b"ABC\r\n", "m_reseller.bin")
    case.check_extracted(case.programs["demo_payload"])
    case.check_setup_ran()
    case.ends_after_timer(first, shown_at)
    equal(case.dialogs(), [], "message boxes left")


def case_reseller_tags(case):
    """The tag between the first "-" and the first "." of the program's name, exactly tag + CR LF;
    an empty tag deletes the file an earlier run left."""
    table = [
        ("Setup-ABC.new.exe", None, b"ABC\r\n"),
        ("Setup.new-ABC.exe", b"OLD\r\n", None),
        ("Setup-.exe", b"OLD\r\n", None),
        ("A-B-C.exe", b"LONGER OLD TAG\r\n", b"B-C\r\n"),
    ]
    for name, old, expected in table:
        reseller = case.prefix.unix(RESELLER)
        if old is not None:
            with open(reseller, "wb") as f:
                f.write(old)
        run = case.prefix.start(case.install("demo", name))
        window = case.wait_for_window()
        equal(case.label(window), "Installation running...", f"label caption of {name}")
        equal(case.file(RESELLER), expected, f"m_reseller.bin after {name}")
        # This case is about the tag: close the window instead of waiting for the timer.
        case.prefix.probe(case.probe_exe, "close")
        equal(run.wait(timeout=30), 0, f"exit code of {name}")
        case.prefix.settle()
        print(f"  {name}: m_reseller.bin {expected!r}" + (f" (old {old!r})" if old else ""))


def case_payload_without_setup(case):
    """No Setup.exe in the payload: the other files are extracted, "Unable to start setup.exe!"
    is shown (a second copy started meanwhile is refused), and the program still ends ten
    seconds later."""
    run = case.prefix.start(case.install("nosetup", "Setup-NS.exe"))
    box = case.wait_for_box("Setup-ns")
    # While the first copy waits in its own box, a second one is still refused.
    second = case.prefix.start(case.install("nosetup", "Second-XY.exe"))
    case.answer_box(case.wait_for_box("Second-xy"), REFUSAL, icon=False)
    equal(second.wait(timeout=20), 0, "exit code of the refused copy")
    case.answer_box(box, b"Unable to start setup.exe!", icon=False)
    window = case.wait_for_window()
    shown_at = time.monotonic()
    equal(case.label(window), "Installation running...", "label caption")
    case.check_extracted(case.programs["nosetup_payload"])
    check(case.file(TEMP + "\\setup-ran.txt") is None, "a setup program ran")
    case.ends_after_timer(run, shown_at)


def case_entry_with_bad_crc(case):
    """An entry whose data does not match its CRC-32 is missing afterwards and nothing is said;
    the rest is extracted and Setup.exe runs."""
    run = case.prefix.start(case.install("badcrc", "Setup-BC.exe"))
    window = case.wait_for_window()
    shown_at = time.monotonic()
    equal(case.label(window), "Installation running...", "label caption")
    equal(case.dialogs(), [], "message boxes")
    absent = case.check_extracted(case.programs["badcrc_payload"])
    equal(len(absent), 1, "entries with a bad CRC-32 in the payload")
    case.check_setup_ran()
    case.ends_after_timer(run, shown_at)
    equal(case.dialogs(), [], "message boxes")


def case_faults_stall_the_window(case):
    """A failure that leaves the install sequence as an exception or ends it with a message:
    the box is shown, the window then stays with the caption of the step reached, its timer
    off, until it is closed from outside; what was written before the failure stays."""
    table = [
        # prefix, program, registry change, box text, error icon, label, reseller, archive left
        ("systemroot-dword", "demo",
         ["add", NT_KEY, "/v", "SystemRoot", "/t", "REG_DWORD", "/d", "7", "/f"],
         b"Invalid data type for 'SystemRoot'", True, "Please wait...", None, False),
        ("systemroot-absent", "demo", ["delete", NT_KEY, "/v", "SystemRoot", "/f"],
         b"Unable to find Windows-Path!", False, "Please wait...", None, False),
        # The engine's message comes from the message table the program carries.
        ("payload-not-zip", "notzip", None, b"Invalid file - not a PKZip file.", True,
         "Unzip files...", b"ABC\r\n", True),
    ]
    for row in table:
        sub = case.sibling(row[0])
        try:
            stalled_window(sub, *row)
        finally:
            sub.prefix.stop()


def stalled_window(sub, what, program, reg, text, icon, label, reseller, archive_left):
    if reg:
        code, output = sub.prefix.wine("reg", *reg)
        equal(code, 0, f"reg {' '.join(reg)}: {output}")
    run = sub.prefix.start(sub.install(program, "Setup-ABC.exe"))
    sub.answer_box(sub.wait_for_box("Setup-abc"), text, icon=icon)
    window = sub.wait_for_window()
    shown_at = time.monotonic()
    equal(sub.label(window), label, "label caption of the stalled window")
    equal(sub.file(RESELLER), reseller, "m_reseller.bin")
    left = sub.file(TEMP + "\\_Install.zip")
    if archive_left:
        with open(sub.programs[program + "_payload"], "rb") as f:
            equal(left, f.read(), "_Install.zip left behind")
    else:
        check(left is None, "_Install.zip was written")
    # Past the timer's interval the program is still there, its window on screen.
    time.sleep(max(0.0, shown_at + TIMER_SECONDS + 1.5 - time.monotonic()))
    check(run.running(), "the stalled program ended by itself")
    equal(sub.window().get("visible"), "1", "window visible")
    sub.prefix.probe(sub.probe_exe, "close")
    equal(run.wait(timeout=30), 0, "exit code after closing the window")
    print(f"  {what}: window stayed {TIMER_SECONDS + 1.5:.1f} s with {label!r}, closed from "
          "outside, exit code 0")


def meter_pixel(meter, colors, x, y):
    """The colour of pixel (x, y) of a meter, from the geometry: frame, then segments."""
    w, h, percent = meter["w"], meter["h"], meter["percent"]
    if y == h - 1 or x == w - 1:
        return colors["highlight"] if meter["ctl3d"] else (0, 0, 0)
    if y == 0 or x == 0:
        return colors["shadow"] if meter["ctl3d"] else (0, 0, 0)
    for i in range(percent // 10):
        if meter["vertical"]:
            size = (h + 1 - 11) // 10 + 1
            bottom = h - 1 - i * (size + 1)
            if bottom - size <= y < bottom and 2 <= x < w - 2:
                return colors["used"]
        else:
            size = (w + 1 - 20) // 10 + 1
            left = 1 + i * (size + 2)
            if left <= x < left + size and 1 <= y < h - 1:
                return colors["used"]
    return colors["face"]


def case_meter_window(case):
    """meter-window.exe: progress meters in a window check their own painting through the
    window's DC and their mouse events; here a screenshot of the X screen is checked against
    the same geometry."""
    results = "C:\\meter\\results.txt"
    case.prefix.put(case.programs["meter"], "C:\\meter\\meter-window.exe")
    run = case.prefix.start("C:\\meter\\meter-window.exe", results)
    text = wait_for("the meter window's results", lambda: case.file(results), 30)
    values = dict(line.split("=", 1) for line in text.decode().splitlines() if "=" in line)
    log = os.path.join(case.prefix.path, "programs.log")
    if values["failures"] != "0":
        with open(log, errors="replace") as f:
            print(f.read())
    equal(values["failures"], "0", f"failed checks of {values['checks']} in the program")
    print(f"  the program passed its {values['checks']} checks (pixels of its window, mouse)")

    colors = {k: tuple(bytes.fromhex(values[k])) for k in ("face", "shadow", "highlight", "used")}
    windows = case.prefix.x_windows("Meter")
    check(windows, "no X window named Meter")
    fx, fy, fw, fh = case.prefix.x_geometry(windows[-1])
    png = os.path.join(case.artifacts, "meter-window.png")
    pixels = case.prefix.screenshot((fx, fy, fw, fh), png)
    for key in ("meter0", "meter1", "meter2"):
        x0, y0, w, h, percent, orientation, frame = values[key].split(",")
        meter = {"w": int(w), "h": int(h), "percent": int(percent),
                 "vertical": orientation == "vertical", "ctl3d": frame == "ctl3d"}
        x0, y0 = int(x0) - fx, int(y0) - fy
        wrong = [(x, y) for y in range(meter["h"]) for x in range(meter["w"])
                 if pixels[y0 + y][x0 + x] != meter_pixel(meter, colors, x, y)]
        equal(wrong[:3], [], f"pixels of {key} ({values[key]}) on the screen that differ")
        print(f"  {key}: {w}x{h} {orientation} at {percent}% ({frame}) matches on the screen")
    print(f"  screenshot {png}")

    os.remove(case.prefix.find(results))  # the program then closes its window
    equal(run.wait(timeout=20), 0, "exit code of meter-window.exe")


CASES = {
    "install": case_install,
    "reseller_tags": case_reseller_tags,
    "payload_without_setup": case_payload_without_setup,
    "entry_with_bad_crc": case_entry_with_bad_crc,
    "faults_stall_the_window": case_faults_stall_the_window,
    "meter_window": case_meter_window,
}


def read_programs(win32_build):
    listing = os.path.join(win32_build, "bootstrap", "e2e", "programs.txt")
    if not os.path.exists(listing):
        raise winebox.Unavailable(f"{listing} is missing: build the win32 preset first")
    with open(listing) as f:
        programs = dict(line.strip().split("=", 1) for line in f if "=" in line)
    for key, path in programs.items():
        if not os.path.exists(path):
            raise winebox.Unavailable(f"{path} ({key}) is missing: build the win32 preset")
    return programs


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--state", required=True, help="folder of Xvfb's state and the prefixes")
    parser.add_argument("--win32-build", required=True, help="the win32 preset's build folder")
    parser.add_argument("--artifacts", help="folder for screenshots (default: beside --state)")
    parser.add_argument("command", choices=["setup", "cleanup", "run"])
    parser.add_argument("case", nargs="?", choices=sorted(CASES))
    args = parser.parse_args()
    session = winebox.Session(args.state)
    if args.command == "setup":
        session.setup()
        return 0
    if args.command == "cleanup":
        session.cleanup()
        return 0
    if not args.case:
        parser.error("run needs a case")
    try:
        programs = read_programs(args.win32_build)
        session.open()
    except winebox.Unavailable as e:
        print(f"skipped: {e}")
        return winebox.SKIP
    artifacts = args.artifacts or os.path.join(os.path.dirname(session.state_dir), "artifacts")
    os.makedirs(artifacts, exist_ok=True)
    started = time.monotonic()
    print(f"{args.case}: {CASES[args.case].__doc__.split(chr(10))[0]}")
    case = Case(session, programs, artifacts, args.case)
    try:
        CASES[args.case](case)
    finally:
        case.prefix.stop()
    print(f"{args.case}: passed in {time.monotonic() - started:.1f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
