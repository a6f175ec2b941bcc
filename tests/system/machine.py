"""A Debian 12 system booted under QEMU from an initramfs holding its whole
root, with the halvex package installed in it and virtual VSA-100 boards.

The root file system (make-root.sh) is made once; for each package a copy of
it gets the package with `dpkg -i` in a chroot, as an image build would, and
is packed as a cpio archive, kept until the package changes. Each boot adds a
small second archive (the kernel unpacks both, the second over the first)
with the first process (guest/init), the boards' module and its parameters,
the test steps and any files the case sets, such as /etc/default/halvex.

The steps run once the boot has finished (guest/run) and report each step's
output and exit status over the second serial port; the machine then powers
itself off. The first serial port, the console, is kept for diagnosis.
"""

import hashlib
import json
import os
import re
import shutil
import subprocess
import socket
import tempfile
import threading
import time
from dataclasses import dataclass, field
from pathlib import Path

HERE = Path(__file__).resolve().parent

# RAM the virtual boards' BARs live in (256 MiB up), set aside from the
# kernel at boot: no more than the boards need, for a 32-bit kernel must
# find room for the whole initramfs in its first 896 MiB, around this hole
# and wherever address randomisation put the kernel.
MEMMAP = "memmap=256M$0x10000000"


def sha256(path, length=16):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()[:length]


def pack_cpio(tree, out, owner_root=False):
    """Packs the folder `tree` as a newc cpio archive `out` (as the kernel
    unpacks an initramfs), every entry relative to the root."""
    names = subprocess.run(["find", ".", "-mindepth", "1"], cwd=tree, check=True, capture_output=True).stdout
    names = b"\n".join(sorted(names.split(b"\n")[:-1])) + b"\n"
    command = ["cpio", "--quiet", "-o", "-H", "newc"] + (["-R", "0:0"] if owner_root else [])
    with open(out, "wb") as f:
        subprocess.run(command, cwd=tree, input=names, stdout=f, check=True)


def wake_on_suspend(path, qemu):
    """Wakes the machine up each time it has suspended to RAM, through QEMU's
    monitor (QMP) at `path`, as a wake-up event from outside would, until
    QEMU exits. A wake-up is never missed as an RTC alarm set too early for
    a slow guest would be."""
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


@dataclass
class Boot:
    """What one boot reported: each step's output and exit status, in order,
    whether the steps ran to the end, the console, and the wall time."""
    steps: dict = field(default_factory=dict)
    done: bool = False
    console: str = ""
    seconds: float = 0.0

    def output(self, name):
        return self.steps[name][0]

    def status(self, name):
        return self.steps[name][1]


def parse_results(text):
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


def accelerator():
    """QEMU's own emulation (TCG) unless HALVEX_SYSTEM_ACCEL=kvm: on machines
    of this kind /dev/kvm opens but a guest under it never prints a line, so
    KVM is used only when asked for."""
    return os.environ.get("HALVEX_SYSTEM_ACCEL", "tcg")


class Machine:
    """Boots the system in `work` (a folder under build/) with the kernel
    `kernel`, the root file system folder `root` and the boards' module
    `module`, under the QEMU program `qemu`."""

    def __init__(self, work, kernel, root, module=None, qemu="qemu-system-x86_64"):
        self.qemu = qemu
        self.work = Path(work)
        self.kernel = Path(kernel)
        self.root = Path(root)
        self.module = Path(module) if module else None
        self.accel = accelerator()
        self.work.mkdir(parents=True, exist_ok=True)

    def installed(self, deb):
        """The root with the package `deb` installed, as a cpio archive, made
        once per root and package. Returns the archive and dpkg's output.
        Tests running side by side may both make it; each works in folders
        of its own and the archive is put in place whole."""
        arch = subprocess.run(["dpkg-deb", "-f", str(deb), "Architecture"], check=True,
                              capture_output=True, text=True).stdout.strip()
        key = f"{arch}-{self.root.name}-{sha256(deb)}"
        image = self.work / f"installed-{key}.cpio"
        log = self.work / f"installed-{key}.log"
        if image.exists():
            return image, log.read_text()
        # Each build makes a new package: only the latest image of each
        # architecture is kept.
        for old in self.work.glob(f"installed-{arch}-*"):
            if old.suffix in (".cpio", ".log"):
                old.unlink(missing_ok=True)
        tree = self.work / f"installed-{key}.{os.getpid()}.tree"
        partial = self.work / f"installed-{key}.{os.getpid()}.partial"
        try:
            subprocess.run(["cp", "-a", str(self.root), str(tree)], check=True)
            shutil.copy(deb, tree / "tmp" / "halvex.deb")
            result = subprocess.run(["chroot", str(tree), "dpkg", "-i", "/tmp/halvex.deb"],
                                    capture_output=True, text=True,
                                    env={"PATH": "/usr/sbin:/usr/bin:/sbin:/bin", "LC_ALL": "C"})
            if result.returncode != 0:
                raise RuntimeError(f"dpkg -i {deb} in the root failed:\n{result.stdout}{result.stderr}")
            (tree / "tmp" / "halvex.deb").unlink()
            log.write_text(result.stdout + result.stderr)
            pack_cpio(tree, partial)
            os.replace(partial, image)
        finally:
            shutil.rmtree(tree, ignore_errors=True)
            partial.unlink(missing_ok=True)
        return image, log.read_text()

    def boot(self, name, image, steps, files=None, module_params=None, timeout=300):
        """Boots `image` with the steps `steps` (bash, run by guest/run with
        its `step` function) and the files `files` (guest path: text) laid
        over the root; `module_params` (a list of name=value) loads the
        boards' module. Returns what the boot reported."""
        with tempfile.TemporaryDirectory(dir=self.work) as overlay:
            overlay = Path(overlay)
            os.chmod(overlay, 0o755)
            systest = overlay / "systest"
            systest.mkdir()
            for source in ("init", "run"):
                shutil.copy(HERE / "guest" / source, systest / source)
                os.chmod(systest / source, 0o755)
            (systest / "steps").write_text(steps)
            if module_params is not None:
                shutil.copy(self.module, systest / "module.ko")
                (systest / "module.params").write_text("\n".join(module_params) + "\n")
            units = overlay / "etc" / "systemd" / "system"
            (units / "multi-user.target.wants").mkdir(parents=True)
            shutil.copy(HERE / "guest" / "systest.service", units / "systest.service")
            os.symlink("/etc/systemd/system/systest.service", units / "multi-user.target.wants" / "systest.service")
            for path, text in (files or {}).items():
                target = overlay / path.lstrip("/")
                target.parent.mkdir(parents=True, exist_ok=True)
                target.write_text(text)
            for folder, dirs, _ in os.walk(overlay):
                for d in dirs:
                    os.chmod(Path(folder) / d, 0o755)
            pack_cpio(overlay, self.work / f"{name}.overlay.cpio", owner_root=True)

        initrd = self.work / f"{name}.initrd"
        with open(initrd, "wb") as out:
            for part in (image, self.work / f"{name}.overlay.cpio"):
                with open(part, "rb") as f:
                    shutil.copyfileobj(f, out, 1 << 20)
        console = self.work / f"{name}.console"
        results = self.work / f"{name}.results"
        for f in (console, results):
            f.unlink(missing_ok=True)
        command = [
            self.qemu, "-machine", "pc", "-accel", self.accel, "-m", "2G", "-smp", "1",
            "-nic", "none", "-display", "none", "-monitor", "none", "-no-reboot",
            "-serial", f"file:{console}", "-serial", f"file:{results}",
            "-kernel", str(self.kernel), "-initrd", str(initrd),
            "-append", f"console=ttyS0 {MEMMAP} rdinit=/systest/init panic=-1 loglevel=4 earlyprintk=ttyS0",
        ]
        monitor = self.work / f"{name}.qmp"
        monitor.unlink(missing_ok=True)
        command += ["-qmp", f"unix:{monitor},server=on,wait=off"]
        started = time.monotonic()
        qemu = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.STDOUT)
        waker = threading.Thread(target=wake_on_suspend, args=(monitor, qemu), daemon=True)
        waker.start()
        try:
            qemu.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            qemu.kill()
            qemu.wait()
        waker.join(5)
        monitor.unlink(missing_ok=True)
        boot = Boot(seconds=time.monotonic() - started)
        boot.console = console.read_text(errors="replace") if console.exists() else ""
        if results.exists():
            boot.steps, boot.done = parse_results(results.read_text(errors="replace"))
        initrd.unlink()
        return boot
