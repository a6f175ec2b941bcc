"""A Windows machine under Wine, as the installer's tests see it: one prefix,
programs started in it and waited for, its folders, and its registry read
from the files Wine keeps it in."""
import os
import re
import shutil
import subprocess

WINE64 = "/usr/lib/wine/wine64"
# No Linux desktop entries for the shortcuts the installer makes, and no
# add-on installer dialog that would keep wineserver waiting for ever.
WINE_DLL_OVERRIDES = "winemenubuilder.exe=d;mscoree,mshtml="
RUN_TIMEOUT = 900  # a 32-bit program under qemu takes minutes


def _unescape(text):
    """Wine's escapes in a registry file; the installer writes plain ASCII."""
    return re.sub(r"\\(.)", lambda m: {"n": "\n", "r": "\r", "t": "\t", "0": "\0"}.get(m.group(1), m.group(1)), text)


def read_registry(path):
    """A Wine registry file as {key in lower case: {value name in lower case: value}}:
    strings as str, dwords as int, anything else as its text."""
    keys, values = {}, None
    with open(path, encoding="utf-8", errors="surrogateescape") as f:
        for line in f:
            line = line.rstrip("\n")
            key = re.match(r"^\[(.*)\](?: \d+)?$", line)
            if key:
                values = keys.setdefault(_unescape(key.group(1)).lower(), {})
                continue
            value = re.match(r'^(@|"((?:[^"\\]|\\.)*)")=(.*)$', line)
            if value is None or values is None:
                continue
            name = "" if value.group(1) == "@" else _unescape(value.group(2))
            data = value.group(3)
            if data.startswith('"') and data.endswith('"'):
                data = _unescape(data[1:-1])
            elif data.startswith("dword:"):
                data = int(data[6:], 16)
            values[name.lower()] = data
    return keys


class Machine:
    def __init__(self, prefix, arch):
        self.prefix = os.path.abspath(prefix)
        self.arch = arch
        self.drive_c = os.path.join(self.prefix, "drive_c")
        # A 32-bit installer sees the 32-bit program folder and registry view.
        self.program_files = "Program Files" if arch == "amd64" else "Program Files (x86)"
        self.software = "software\\" if arch == "amd64" else "software\\wow6432node\\"
        self.serving = False

    def environment(self, extra=None):
        env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all", WINEDLLOVERRIDES=WINE_DLL_OVERRIDES)
        env.update(extra or {})
        return env

    def exists(self):
        return os.path.isfile(os.path.join(self.prefix, "system.reg"))

    def has_32bit_part(self):
        return os.path.isfile(os.path.join(self.drive_c, "windows", "syswow64", "kernel32.dll"))

    def create(self):
        os.makedirs(self.prefix, exist_ok=True)
        subprocess.run([WINE64, "wineboot", "-i"], env=self.environment(), stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=RUN_TIMEOUT)
        self.wait()

    # One wineserver is kept up between programs: letting it end after each
    # one, so that `wineserver -w` returns, costs about 2 s a program. It is
    # stopped, which writes the registry to its files, before they are read.
    def serve(self):
        if not self.serving:
            subprocess.run(["wineserver", "-p"], env=self.environment(), stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.serving = True

    def prepare_for_screenshots(self):
        """Wine places and frames its windows itself, as under no window
        manager; its caption buttons need the Marlett font in the prefix."""
        settings = os.path.join(self.prefix, "unmanaged.reg")
        with open(settings, "w") as f:
            f.write('REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n"Managed"="N"\n')
        self._run("regedit", [settings], None)
        self.stop()
        font = "/usr/share/wine/fonts/marlett.ttf"
        if os.path.isfile(font):
            shutil.copy(font, os.path.join(self.drive_c, "windows", "Fonts"))

    def wait(self):
        """Until every process of the prefix has ended and the registry is on disk."""
        subprocess.run(["wineserver", "-w"], env=self.environment(), timeout=RUN_TIMEOUT)

    def stop(self):
        """Ends the wineserver and whatever still runs in the prefix."""
        subprocess.run(["wineserver", "-k"], env=self.environment(), stderr=subprocess.DEVNULL)
        self.wait()
        self.serving = False

    def _run(self, program, arguments, env):
        return subprocess.run([WINE64, program, *arguments], env=self.environment(env), stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=RUN_TIMEOUT).returncode

    def run(self, program, *arguments, env=None):
        """Starts a Windows program and waits for it; its exit code."""
        self.serve()
        return self._run(program, arguments, env)

    def run_all(self, program, *arguments, env=None):
        """The same for a program that hands its work to another process and
        returns at once, as an uninstaller does: waits for every process."""
        self.stop()
        code = self._run(program, arguments, env)
        self.wait()
        return code

    def start(self, program, *arguments, env=None):
        return subprocess.Popen([WINE64, program, *arguments], env=self.environment(env),
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def unix_path(self, windows_path):
        drive, rest = windows_path.split(":", 1)
        assert drive.upper() == "C", windows_path
        return os.path.join(self.drive_c, *[p for p in rest.split("\\") if p])

    def windows_path(self, unix_path):
        relative = os.path.relpath(unix_path, self.drive_c)
        assert not relative.startswith(".."), unix_path
        return "C:\\" + relative.replace("/", "\\")

    def system_registry(self):
        self.stop()
        return read_registry(os.path.join(self.prefix, "system.reg"))

    def user_registry(self):
        self.stop()
        return read_registry(os.path.join(self.prefix, "user.reg"))

    def user_profile(self):
        users = os.path.join(self.drive_c, "users")
        names = [n for n in os.listdir(users) if n != "Public" and os.path.isdir(os.path.join(users, n))]
        assert len(names) == 1, names
        return os.path.join(users, names[0])

    def start_menu(self, all_users):
        if all_users:
            return os.path.join(self.drive_c, "ProgramData", "Microsoft", "Windows", "Start Menu", "Programs")
        return os.path.join(self.user_profile(), "AppData", "Roaming", "Microsoft", "Windows", "Start Menu",
                            "Programs")

    def startup_folder(self, all_users):
        return os.path.join(self.start_menu(all_users), "StartUp" if all_users else "Startup")
