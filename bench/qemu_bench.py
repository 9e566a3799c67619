"""What the QEMU benchmarks share: their build, their command line, and the
guest of tests/qemu, whose machinery they import rather than repeat."""

import argparse
import subprocess
import sys
import tempfile
import time
from contextlib import contextmanager
from pathlib import Path

SOURCE = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(SOURCE / "tests/qemu"))
# The harness's modules, found through the path above.
from common import CheckFailed, TestError  # noqa: E402
from initramfs import build_initramfs  # noqa: E402
from kernel import debian_kernel  # noqa: E402
from machine import Machine  # noqa: E402
from qmp import QmpError  # noqa: E402


def arguments(doc):
    """The benchmark's command line, with the options every one of them has."""
    parser = argparse.ArgumentParser(description=doc.splitlines()[0])
    parser.add_argument("--build", type=Path, default=SOURCE / "build/bench", help="the benchmarks' build tree")
    parser.add_argument("--cache", type=Path, help="where the kernel package is kept (default BUILD/qemu-cache)")
    return parser


def build(build_dir, *targets):
    """The benchmarks' Release tree with targets and the program built; the
    program's path."""
    subprocess.run(["cmake", "-S", str(SOURCE / "bench"), "-B", str(build_dir), "-G", "Ninja",
                    "-DCMAKE_BUILD_TYPE=Release"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", str(build_dir), "--target", *targets, "trayvo2010"], check=True,
                   stdout=subprocess.DEVNULL)
    return build_dir / "trayvo/platform/trayvo2010"


@contextmanager
def guest(options, tool, program, prefix, **machine_options):
    """A booted guest, with tool in the place of the tests' drivecheck; a
    failed check or a guest gone wrong ends the benchmark with its console."""
    started = time.monotonic()
    kernel = debian_kernel((options.cache or options.build / "qemu-cache").resolve())
    with tempfile.TemporaryDirectory(prefix=f"trayvo-bench-{prefix}-") as work_dir:
        work = Path(work_dir)
        build_initramfs(kernel, work / "initramfs.cpio")
        m = Machine(work, kernel, tool, program, work / "artifacts", **machine_options)
        try:
            ready = m.start()
            print(f"guest {ready[0]} answering after {time.monotonic() - started:.1f} s", flush=True)
            yield m
        except (TestError, CheckFailed, QmpError) as error:
            print(f"failed: {error}\nguest console:\n{m.console_tail()}", file=sys.stderr)
            sys.exit(1)
        finally:
            m.stop()


def thread_figures(m, pid):
    """{thread id: (voluntary context switches, CPU ns)} of the process pid,
    read in one round trip to the guest."""
    lines = m.must("guest", "sh", "-c", 'for task in /proc/"$0"/task/*; do echo "${task##*/} '
                   '$(sed -n "s/^voluntary_ctxt_switches:[[:space:]]*//p" "$task/status") '
                   '$(cut -d " " -f 1 "$task/schedstat")"; done', pid)
    return {tid: (int(switches), int(cpu_ns)) for tid, switches, cpu_ns in (line.split() for line in lines)}
