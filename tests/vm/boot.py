"""Boots a Debian kernel under QEMU with an initramfs, for the VM suite
(tests/vm) and the booted-system suite (tests/system) alike, and reads what
the guest reported.

The console, the first serial port, goes to NAME.console in the work folder,
for diagnosis. The guest reports on the second serial port (tests/vm/
report.sh), read from NAME.results: "@@step NAME", the step's output and
"@@rc STATUS" for each step, "@@done" once it got to its end. QEMU's monitor
(QMP) wakes the guest each time it suspends to RAM, as a wake-up event from
outside would: never missed, as an RTC alarm set too early for a slow guest
would be.

QEMU emulates the processor (TCG) unless HALVEX_QEMU_ACCEL=kvm: on this
project's machines KVM is nested, /dev/kvm opens but a guest under it hangs
before its first console line, while TCG boots these kernels in seconds.
"""

import json
import os
import socket
import subprocess
import threading
import time
from dataclasses import dataclass, field
from pathlib import Path

ACCEL = os.environ.get("HALVEX_QEMU_ACCEL", "tcg")


@dataclass
class Boot:
    """What one boot reported: each step's output and exit status, in order,
    whether the guest got to its end, the console, the wall time and the
    QEMU command."""
    steps: dict = field(default_factory=dict)
    done: bool = False
    console: str = ""
    seconds: float = 0.0
    command: list = field(default_factory=list)

    def output(self, name):
        return self.steps[name][0]

    def status(self, name):
        return self.steps[name][1]


def parse_results(text):
    """{step: (output, status)} and whether the report got to its end."""
    steps, done, name, lines = {}, False, None, []
    for line in text.replace("\r", "").split("\n"):
        if line.startswith("@@step "):
            name, lines = line[len("@@step "):], []
        elif line.startswith("@@rc ") and name is not None:
            steps[name] = ("\n".join(lines), int(line[len("@@rc "):]))
            name = None
        elif line == "@@done":
            done = True
        elif name is not None:
            lines.append(line)
    return steps, done


def wake_on_suspend(path, qemu):
    """Wakes the machine each time it has suspended to RAM, through QMP at
    `path`, until QEMU exits."""
    try:
        sock = socket.socket(socket.AF_UNIX)
        while qemu.poll() is None:
            try:
                sock.connect(str(path))
                break
            except OSError:
                time.sleep(0.1)
        else:
            return
        with sock, sock.makefile("rw") as stream:
            stream.readline()  # the greeting
            stream.write('{"execute": "qmp_capabilities"}\n')
            stream.flush()
            for line in stream:
                if json.loads(line).get("event") == "SUSPEND":
                    time.sleep(0.5)
                    stream.write('{"execute": "system_wakeup"}\n')
                    stream.flush()
    except (OSError, ValueError):
        pass  # QEMU went away


def boot(work, name, kernel, initrd, append, qemu="qemu-system-x86_64", memory="1G", timeout=300):
    """Boots `kernel` with `initrd` and the command line `append` (the
    console is added), one processor, `memory` of RAM and no network, until
    the guest powers off or `timeout` seconds have passed."""
    work = Path(work)
    console, results, monitor = (work / f"{name}.{suffix}" for suffix in ("console", "results", "qmp"))
    for path in (console, results, monitor):
        path.unlink(missing_ok=True)
    accel = ["-accel", ACCEL] + (["-cpu", "host"] if ACCEL == "kvm" else [])
    command = [qemu, "-machine", "pc", *accel, "-m", memory, "-smp", "1", "-nic", "none", "-display", "none",
               "-monitor", "none", "-no-reboot", "-serial", f"file:{console}", "-serial", f"file:{results}",
               "-qmp", f"unix:{monitor},server=on,wait=off", "-kernel", str(kernel), "-initrd", str(initrd),
               "-append", f"console=ttyS0 panic=-1 {append}"]
    started = time.monotonic()
    process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.STDOUT)
    waker = threading.Thread(target=wake_on_suspend, args=(monitor, process), daemon=True)
    waker.start()
    try:
        process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
    waker.join(5)
    monitor.unlink(missing_ok=True)
    result = Boot(seconds=time.monotonic() - started, command=command)
    result.console = console.read_text(errors="replace") if console.exists() else ""
    if results.exists():
        result.steps, result.done = parse_results(results.read_text(errors="replace"))
    return result
