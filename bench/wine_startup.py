#!/usr/bin/env python3
"""What the Windows program costs under Wine, each figure beside the same
figure for a baseline: the least a Win32 program can show, one window with
one label (bench/minimal_window_win32.cpp), built in the same tree with the
same flags.

  - start to the main window mapped, to its first drawing, and to its last
    drawing before it stays still (QUIET_MS); medians of RUNS start-ups each,
    alternating, after one unrecorded start of each;
  - each run's own ratio at those moments (the program's start over the
    baseline's start taken just before or after it), their median;
  - the size of the exe in bytes.

Wine starts warm: its server is kept running (wineserver -p) and an idle
console program holds Wine's virtual desktop open, so that no start-up pays
for Wine's own boot, only for the program's process and its window. All of
it in a private prefix (tests/wine/wine_prefix.sh: zh_CN locale, a virtual
desktop, drive D: with a disc) on an Xvfb of its own.

The drawing is seen through the X server's DAMAGE extension, as
bench/first_paint does for the desktop: Wine gives each top-level window an
X window of its own inside the desktop's, draws the window there, frame and
all, and every drawing it sends shows as damage of that X window. The first
drawing is only the frame and the erased background, which Wine sends
before the window's WM_PAINT has run; the last one before the window stays
still is the painted window, the figure to set beside the desktop's first
paint.

usage: bench/wine_startup.py [PROGRAM] [RUNS]
  PROGRAM  default: Trayvo2010.exe of the benchmarks' Windows build tree,
           made with the same flags as the baseline
  RUNS     default 11
Environment: BENCH_WIN_BUILD_DIR (build/bench-win), the benchmarks' tree
cross-built for Windows (bench/CMakeLists.txt with the mingw-w64 toolchain
file, MinSizeRel as tools/test.sh builds the program); QUIET_MS (1000).
Needs what the Wine tests need (tools/install-deps.sh) and libxcb-damage0.
"""
import ctypes
import os
import platform
import select
import statistics
import subprocess
import sys
import time
from pathlib import Path

PROGRAM_TITLE = "Trayvo2010"
BASELINE_TITLE = "Trayvo2010 baseline"
# Every wait has a limit; none is a measure of success.
LIMIT_S = 30
QUIET_MS = int(os.environ.get("QUIET_MS", "1000"))


class Failed(Exception):
    pass


# --- the X server, through libxcb ------------------------------------------------
#
# Through ctypes, so that the benchmark needs no Python package beyond the
# standard library and no Linux build beside the Windows one.

_void = ctypes.c_void_p
_u8, _u16, _u32 = ctypes.c_uint8, ctypes.c_uint16, ctypes.c_uint32


class _Cookie(ctypes.Structure):
    _fields_ = [("sequence", ctypes.c_uint)]


class _ExtensionReply(ctypes.Structure):
    _fields_ = [("response_type", _u8), ("pad0", _u8), ("sequence", _u16), ("length", _u32),
                ("present", _u8), ("major_opcode", _u8), ("first_event", _u8), ("first_error", _u8)]


class _ScreenIterator(ctypes.Structure):
    # xcb_screen_t begins with its root window.
    _fields_ = [("data", ctypes.POINTER(_u32)), ("rem", ctypes.c_int), ("index", ctypes.c_int)]


class _AtomReply(ctypes.Structure):
    _fields_ = [("response_type", _u8), ("pad0", _u8), ("sequence", _u16), ("length", _u32), ("atom", _u32)]


class _Event(ctypes.Structure):
    """The 32 bytes every X event has. For CreateNotify the two words are the
    parent and the new window; for MapNotify and DestroyNotify the window
    watched and the window itself; for DamageNotify the drawable and the
    damage object."""
    _fields_ = [("response_type", _u8), ("detail", _u8), ("sequence", _u16), ("first", _u32), ("second", _u32),
                ("rest", _u32 * 6)]


CREATE_NOTIFY, MAP_NOTIFY = 16, 19
CW_EVENT_MASK = 1 << 11
EVENT_MASK_SUBSTRUCTURE_NOTIFY = 1 << 19
# Every drawing reported, not only the first: the last one is timed too.
DAMAGE_REPORT_RAW_RECTANGLES = 0
ATOM_STRING, ATOM_WM_NAME = 31, 39


class Display:
    def __init__(self):
        self._xcb = ctypes.CDLL("libxcb.so.1")
        self._damage = ctypes.CDLL("libxcb-damage.so.0")
        self._libc = ctypes.CDLL(None)
        self._libc.free.argtypes = [_void]
        for library, name, result, args in [
            (self._xcb, "xcb_connect", _void, [ctypes.c_char_p, _void]),
            (self._xcb, "xcb_connection_has_error", ctypes.c_int, [_void]),
            (self._xcb, "xcb_disconnect", None, [_void]),
            (self._xcb, "xcb_get_extension_data", ctypes.POINTER(_ExtensionReply), [_void, _void]),
            (self._xcb, "xcb_get_setup", _void, [_void]),
            (self._xcb, "xcb_setup_roots_iterator", _ScreenIterator, [_void]),
            (self._xcb, "xcb_change_window_attributes", _Cookie, [_void, _u32, _u32, _void]),
            (self._xcb, "xcb_change_window_attributes_checked", _Cookie, [_void, _u32, _u32, _void]),
            (self._xcb, "xcb_request_check", _void, [_void, _Cookie]),
            (self._xcb, "xcb_intern_atom", _Cookie, [_void, _u8, _u16, ctypes.c_char_p]),
            (self._xcb, "xcb_intern_atom_reply", ctypes.POINTER(_AtomReply), [_void, _Cookie, _void]),
            (self._xcb, "xcb_get_property", _Cookie, [_void, _u8, _u32, _u32, _u32, _u32, _u32]),
            (self._xcb, "xcb_get_property_reply", _void, [_void, _Cookie, _void]),
            (self._xcb, "xcb_get_property_value", _void, [_void]),
            (self._xcb, "xcb_get_property_value_length", ctypes.c_int, [_void]),
            (self._xcb, "xcb_query_tree", _Cookie, [_void, _u32]),
            (self._xcb, "xcb_query_tree_reply", _void, [_void, _Cookie, _void]),
            (self._xcb, "xcb_query_tree_children", ctypes.POINTER(_u32), [_void]),
            (self._xcb, "xcb_query_tree_children_length", ctypes.c_int, [_void]),
            (self._xcb, "xcb_generate_id", _u32, [_void]),
            (self._xcb, "xcb_flush", ctypes.c_int, [_void]),
            (self._xcb, "xcb_get_file_descriptor", ctypes.c_int, [_void]),
            (self._xcb, "xcb_poll_for_event", ctypes.POINTER(_Event), [_void]),
            (self._damage, "xcb_damage_query_version", _Cookie, [_void, _u32, _u32]),
            (self._damage, "xcb_damage_query_version_reply", _void, [_void, _Cookie, _void]),
            (self._damage, "xcb_damage_create", _Cookie, [_void, _u32, _u32, _u8]),
            (self._damage, "xcb_damage_destroy", _Cookie, [_void, _u32]),
        ]:
            function = getattr(library, name)
            function.restype = result
            function.argtypes = args

        self._c = self._xcb.xcb_connect(None, None)
        if self._xcb.xcb_connection_has_error(self._c):
            raise Failed("cannot connect to the X server")
        extension = self._xcb.xcb_get_extension_data(
            self._c, ctypes.addressof(ctypes.c_char.in_dll(self._damage, "xcb_damage_id")))
        if not extension or not extension.contents.present:
            raise Failed("the X server has no DAMAGE extension")
        self._damage_notify = extension.contents.first_event
        # The server takes no damage requests from a client that has not
        # asked for the version first.
        self._libc.free(self._damage.xcb_damage_query_version_reply(
            self._c, self._damage.xcb_damage_query_version(self._c, 1, 1), None))
        self.root = self._xcb.xcb_setup_roots_iterator(self._xcb.xcb_get_setup(self._c)).data[0]
        self._net_wm_name = self._atom(b"_NET_WM_NAME")
        self._utf8 = self._atom(b"UTF8_STRING")
        self.fd = self._xcb.xcb_get_file_descriptor(self._c)

    def close(self):
        self._xcb.xcb_disconnect(self._c)

    def _atom(self, name):
        reply = self._xcb.xcb_intern_atom_reply(self._c, self._xcb.xcb_intern_atom(self._c, 0, len(name), name), None)
        if not reply:
            raise Failed(f"no atom {name.decode()}")
        atom = reply.contents.atom
        self._libc.free(reply)
        return atom

    def title(self, window):
        for name, kind in ((self._net_wm_name, self._utf8), (ATOM_WM_NAME, ATOM_STRING)):
            reply = self._xcb.xcb_get_property_reply(
                self._c, self._xcb.xcb_get_property(self._c, 0, window, name, kind, 0, 1024), None)
            if not reply:
                continue  # the window is gone
            length = self._xcb.xcb_get_property_value_length(reply)
            value = ctypes.string_at(self._xcb.xcb_get_property_value(reply), length) if length > 0 else b""
            self._libc.free(reply)
            if value:
                return value.decode("utf-8", "replace")
        return ""

    def children(self, window):
        reply = self._xcb.xcb_query_tree_reply(self._c, self._xcb.xcb_query_tree(self._c, window), None)
        if not reply:
            return []
        ids = self._xcb.xcb_query_tree_children(reply)
        found = [ids[i] for i in range(self._xcb.xcb_query_tree_children_length(reply))]
        self._libc.free(reply)
        return found

    def watch_children(self, window, checked=False):
        """Reports windows created, mapped and destroyed inside WINDOW."""
        mask = _u32(EVENT_MASK_SUBSTRUCTURE_NOTIFY)
        if checked:
            error = self._xcb.xcb_request_check(self._c, self._xcb.xcb_change_window_attributes_checked(
                self._c, window, CW_EVENT_MASK, ctypes.byref(mask)))
            if error:
                self._libc.free(error)
                raise Failed(f"cannot watch window {window:#x}")
        else:
            # A window gone before the request arrives only earns an error
            # event, which the loop ignores.
            self._xcb.xcb_change_window_attributes(self._c, window, CW_EVENT_MASK, ctypes.byref(mask))

    def watch_drawing(self, window):
        damage = self._xcb.xcb_generate_id(self._c)
        self._damage.xcb_damage_create(self._c, damage, window, DAMAGE_REPORT_RAW_RECTANGLES)
        return damage

    def forget_drawing(self, damage):
        self._damage.xcb_damage_destroy(self._c, damage)

    def flush(self):
        self._xcb.xcb_flush(self._c)
        if self._xcb.xcb_connection_has_error(self._c):
            raise Failed("lost the X server")

    def events(self, timeout_s):
        """The events that arrive within TIMEOUT_S, or at once those queued:
        (kind, first word, second word)."""
        self.flush()
        select.select([self.fd], [], [], timeout_s)
        found = []
        while event := self._xcb.xcb_poll_for_event(self._c):
            e = event.contents
            kind = e.response_type & 0x7F
            if kind == self._damage_notify:
                kind = "damage"
            found.append((kind, e.first, e.second))
            self._libc.free(event)
        return found


# --- start-ups under Wine -----------------------------------------------------


def desktop_window(display):
    for window in display.children(display.root):
        if display.title(window).endswith(" - Wine desktop"):
            return window
    return None


def start_once(display, desktop, exe, title):
    """Starts EXE and times its window titled TITLE: milliseconds from the
    start to its X window being mapped, to the first drawing into it, and to
    the last drawing before QUIET_MS without any."""
    # Had the desktop closed, this start would open it again and be timed
    # with it.
    if desktop_window(display) != desktop:
        raise Failed("Wine's desktop is no longer the one held open")
    display.watch_children(desktop, checked=True)
    watched = {}  # X window: its damage object
    titles = {}
    target = None
    mapped = first = last = None

    def is_target(window):
        if titles.get(window) != title:
            titles[window] = display.title(window)
        return titles[window] == title

    start = time.monotonic()
    process = subprocess.Popen(["wine", str(exe)], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    try:
        while True:
            now_ms = (time.monotonic() - start) * 1000
            if last is not None and now_ms - last >= QUIET_MS:
                break
            if now_ms > LIMIT_S * 1000:
                raise Failed(f"no window titled {title!r} was drawn and then still within {LIMIT_S} s")
            if process.poll() is not None:
                raise Failed(f"{exe} ended before its window was drawn")
            for kind, first_word, second_word in display.events(0.05):
                now_ms = (time.monotonic() - start) * 1000
                if kind == CREATE_NOTIFY and second_word not in watched:
                    # Whatever the desktop's new window holds is watched too.
                    watched[second_word] = display.watch_drawing(second_word)
                    display.watch_children(second_word)
                elif kind == MAP_NOTIFY and mapped is None and is_target(second_word):
                    mapped, target = now_ms, second_word
                elif kind == "damage" and first_word in watched and (first_word == target or is_target(first_word)):
                    target = first_word
                    first = now_ms if first is None else first
                    last = now_ms
    finally:
        process.kill()
        process.wait()
        for damage in watched.values():
            display.forget_drawing(damage)
    # The window gone before the next start, so that nothing of this one
    # is still being torn down while the next is timed.
    gone_by = time.monotonic() + LIMIT_S
    while time.monotonic() < gone_by and target in display.children(desktop):
        display.events(0.02)
    if mapped is None:
        raise Failed(f"the window titled {title!r} was drawn but never seen mapped")
    return round(mapped), round(first), round(last)


def hold_desktop(baseline):
    """Starts Wine and keeps it up: its server, and an idle console program
    that holds the desktop open, which Wine closes a second after the last
    program using it ends. One start of the baseline opens the desktop."""
    subprocess.run(["wineserver", "-p"], check=True, timeout=LIMIT_S)
    holder = subprocess.Popen(["wine", "cmd"], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    opener = subprocess.Popen(["wine", str(baseline)], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    display = Display()
    try:
        deadline = time.monotonic() + LIMIT_S
        while (desktop := desktop_window(display)) is None:
            if time.monotonic() > deadline:
                raise Failed("Wine's desktop did not open")
            time.sleep(0.1)
    finally:
        display.close()
        opener.kill()
        opener.wait()
    return holder, desktop


def ratio(program, baseline):
    return f"{program / baseline:.2f}×" if baseline else "–"


def in_prefix(program, baseline, runs):
    holder, desktop = hold_desktop(baseline)
    display = Display()
    try:
        sides = {"trayvo2010": (program, PROGRAM_TITLE), "baseline": (baseline, BASELINE_TITLE)}
        times = {side: [] for side in sides}
        # Unrecorded: every recorded start finds the exe and Wine's DLLs in
        # the page cache and the fonts in Wine's cache.
        for exe, title in sides.values():
            start_once(display, desktop, exe, title)
        for run in range(1, runs + 1):
            order = ["trayvo2010", "baseline"] if run % 2 else ["baseline", "trayvo2010"]
            for side in order:
                times[side].append(start_once(display, desktop, *sides[side]))
    finally:
        display.close()
        holder.stdin.close()
        holder.wait(timeout=LIMIT_S)

    sizes = {"trayvo2010": program.stat().st_size, "baseline": baseline.stat().st_size}
    mingw = subprocess.run(["dpkg-query", "-W", "-f=${Version}", "g++-mingw-w64-i686-posix"], capture_output=True,
                           text=True).stdout or "unknown"
    wine = subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()
    cpu = next((line.split(":", 1)[1].strip() for line in Path("/proc/cpuinfo").read_text().splitlines()
                if line.startswith("model name")), "unknown")
    debian = Path("/etc/debian_version").read_text().strip() if Path("/etc/debian_version").exists() else "?"
    print(f"Machine: {os.cpu_count()} CPUs, {cpu}")
    print(f"System: Debian {debian}, {platform.release()}, {wine}")
    print(f"Compiler: Debian's g++-mingw-w64-i686-posix {mingw}")
    print(f"Program: {program}")
    print(f"Baseline: {baseline}")
    print(f"Start-ups: {runs} each, alternating, after one unrecorded start of each; Wine kept running, "
          f"its desktop held open; still = {QUIET_MS} ms without drawing")
    print()
    print("| figure | trayvo2010 | baseline | ratio | difference |")
    print("|---|---|---|---|---|")
    for index, figure in enumerate(["start to window mapped", "start to first drawing",
                                    "start to last drawing before still"]):
        p = statistics.median(t[index] for t in times["trayvo2010"])
        b = statistics.median(t[index] for t in times["baseline"])
        print(f"| {figure} (median of {runs}) | {p:g} ms | {b:g} ms | {ratio(p, b)} | {p - b:+g} ms |")
    p, b = sizes["trayvo2010"], sizes["baseline"]
    print(f"| exe size | {p} bytes | {b} bytes | {ratio(p, b)} | {p - b:+d} bytes |")
    print()
    # Each start of the program beside the baseline's start of the same run,
    # taken one right after the other: a stretch when the machine is busy
    # slows both, so these ratios move less than the medians' ratio.
    print("Median of each run's own ratio, the program's start over the baseline's beside it:")
    for index, figure in enumerate(["mapped", "first drawing", "last drawing"]):
        own = [t[index] / u[index] for t, u in zip(times["trayvo2010"], times["baseline"]) if u[index]]
        print(f"  {figure + ':':15}{statistics.median(own):.2f}× (from {min(own):.2f}× to {max(own):.2f}×)")
    print()
    for index, figure in enumerate(["mapped", "first drawing", "last drawing"]):
        print(f"Every start-up, ms to {figure}:")
        for side in ("trayvo2010", "baseline"):
            print(f"  {side + ':':12}{' '.join(str(t[index]) for t in times[side])}")


def main():
    if len(sys.argv) >= 2 and sys.argv[1] == "--in-prefix":
        try:
            in_prefix(Path(sys.argv[2]), Path(sys.argv[3]), int(sys.argv[4]))
        except Failed as failure:
            print(f"wine_startup: {failure}", file=sys.stderr)
            return 1
        return 0

    source_dir = Path(__file__).resolve().parent.parent
    build = Path(os.environ.get("BENCH_WIN_BUILD_DIR", source_dir / "build" / "bench-win")).resolve()
    program = Path(sys.argv[1] if len(sys.argv) > 1 and sys.argv[1] else build / "trayvo" / "platform" / "Trayvo2010.exe").resolve()
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 11
    baseline = build / "minimal_window_win32.exe"
    quiet = {"stdout": subprocess.DEVNULL}
    subprocess.run(["cmake", "-S", source_dir / "bench", "-B", build, "-G", "Ninja",
                    f"-DCMAKE_TOOLCHAIN_FILE={source_dir / 'cmake' / 'toolchain-i686-w64-mingw32.cmake'}",
                    "-DCMAKE_BUILD_TYPE=MinSizeRel"], check=True, **quiet)
    subprocess.run(["cmake", "--build", build], check=True, **quiet)
    if not program.is_file():
        print(f"no program at {program}", file=sys.stderr)
        return 1
    # A prefix of its own, made like the Wine tests' and cached beside the
    # build, on a virtual X server of its own.
    return subprocess.run(["bash", source_dir / "tests" / "wine" / "wine_prefix.sh", "win32", build / "wine-cache",
                           build / "wine-runs" / "startup", "--", sys.executable, Path(__file__).resolve(),
                           "--in-prefix", program, baseline, str(runs)]).returncode


if __name__ == "__main__":
    sys.exit(main())
