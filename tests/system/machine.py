"""A Debian 12 system booted under QEMU from an initramfs holding its whole
root, with the halvex package installed in it and virtual VSA-100 boards.

The root file system (make-root.sh) is made once; for each package a copy of
it gets the package with `dpkg -i` in a chroot, as an image build would, and
is packed as a cpio archive, kept until the package changes. Each boot adds a
small second archive (the kernel unpacks both, the second over the first)
with the first process (guest/init), the boards' module and its parameters,
the test steps and any files the case sets, such as /etc/default/halvex.

The steps run once the boot has finished (guest/run) and report each step's
output and exit status (tests/vm/report.sh); the machine then powers itself
off. tests/vm/boot.py boots it and reads the report.
"""

import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
VM = HERE.parent / "vm"
sys.path.insert(0, str(VM))
import boot  # noqa: E402  (tests/vm)

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
            for source in (HERE / "guest" / "init", HERE / "guest" / "run", VM / "report.sh"):
                shutil.copy(source, systest / source.name)
                os.chmod(systest / source.name, 0o755)
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
        try:
            return boot.boot(self.work, name, self.kernel, initrd,
                             f"{MEMMAP} rdinit=/systest/init loglevel=4 earlyprintk=ttyS0",
                             qemu=self.qemu, memory="2G", timeout=timeout)
        finally:
            initrd.unlink()
