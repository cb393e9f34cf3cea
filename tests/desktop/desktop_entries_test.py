#!/usr/bin/python3
"""zn on a desktop, as a user meets it: scripts/zn_desktop.sh installs the menu entries and the
autostart entry into a private home; then the autostart entry is launched the way a desktop session
does and must leave znptf serving the printer's channel, and zn's menu entry must bring up both zn
and znptf. Usage: desktop_entries_test.py SOURCE_FOLDER BUILD_FOLDER"""
import configparser
import os
import shlex
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest

SOURCE, BUILD = sys.argv[1], sys.argv[2]


def read_entry(path):
    parser = configparser.ConfigParser(interpolation=None)
    parser.optionxform = str
    with open(path, encoding="utf-8") as f:
        parser.read_file(f)
    return parser["Desktop Entry"]


def wait_for(test, seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if test():
            return True
        time.sleep(0.2)
    return False


class DesktopEntries(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="zn-desktop-")
        self.run_dir = os.path.join(self.root, "run")
        os.mkdir(self.run_dir, 0o700)
        self.env = dict(os.environ)
        self.env.update({
            "HOME": os.path.join(self.root, "home"),
            "XDG_DATA_HOME": os.path.join(self.root, "data"),
            "XDG_CONFIG_HOME": os.path.join(self.root, "config"),
            "XDG_RUNTIME_DIR": self.run_dir,
            "ZN_HOME": os.path.join(self.root, "zn"),
            "ZN_WINDIR": os.path.join(self.root, "win"),
            "QT_QPA_PLATFORM": "offscreen",
        })
        self.started = []  # process ids this test started, ended by id in tearDown
        self.children = []  # the processes launched directly, waited for

    def tearDown(self):
        for pid in reversed(self.started):
            try:
                os.kill(pid, 15)
            except ProcessLookupError:
                pass
        for child in self.children:
            try:
                child.wait(10)
            except subprocess.TimeoutExpired:
                child.kill()
                child.wait()
        for pid in self.started:
            wait_for(lambda: not os.path.exists("/proc/%d" % pid) or self.zombie(pid), 10)
        shutil.rmtree(self.root, ignore_errors=True)

    @staticmethod
    def zombie(pid):
        try:
            with open("/proc/%d/stat" % pid) as f:
                return f.read().split(")")[-1].split()[0] == "Z"
        except OSError:
            return True

    def install(self):
        result = subprocess.run(["sh", os.path.join(SOURCE, "scripts", "zn_desktop.sh"), "install", BUILD],
                                env=self.env, capture_output=True, text=True, timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr)
        apps = os.path.join(self.env["XDG_DATA_HOME"], "applications")
        autostart = os.path.join(self.env["XDG_CONFIG_HOME"], "autostart")
        return (os.path.join(apps, "tarvel-zn.desktop"), os.path.join(apps, "tarvel-znptf.desktop"),
                os.path.join(autostart, "tarvel-znptf.desktop"))

    def launch(self, entry):
        """Runs an entry's command line as a desktop does."""
        process = subprocess.Popen(shlex.split(entry["Exec"]), env=self.env, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.started.append(process.pid)
        self.children.append(process)
        return process

    def znptf_serves(self):
        client = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
        try:
            client.connect(os.path.join(self.run_dir, "FxFaxCnv"))
            return True
        except OSError:
            return False
        finally:
            client.close()

    def own_znptf(self):
        """The znptf processes running with this test's runtime folder."""
        found = []
        for name in os.listdir("/proc"):
            if not name.isdigit():
                continue
            try:
                exe = os.readlink("/proc/%s/exe" % name)
                with open("/proc/%s/environ" % name, "rb") as f:
                    environ = f.read().split(b"\0")
            except OSError:
                continue
            if os.path.basename(exe) == "znptf" and ("XDG_RUNTIME_DIR=" + self.run_dir).encode() in environ:
                found.append(int(name))
        return found

    def test_entries_are_well_formed_and_name_the_built_programs(self):
        for path in self.install():
            entry = read_entry(path)
            self.assertEqual(entry["Type"], "Application", path)
            self.assertTrue(entry["Name"].startswith("Tarvel"), path)
            program = shlex.split(entry["Exec"])
            self.assertTrue(os.access(program[0] if program[0] != "sh" else program[1], os.R_OK), entry["Exec"])
            if shutil.which("desktop-file-validate"):
                check = subprocess.run(["desktop-file-validate", path], capture_output=True, text=True)
                self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
        self.assertIn("znptf", read_entry(self.install()[2])["Exec"])

    def test_the_session_start_leaves_znptf_serving_the_printer(self):
        autostart = read_entry(self.install()[2])
        self.launch(autostart)
        self.assertTrue(wait_for(self.znptf_serves, 30), "znptf does not serve its channel")

    def test_starting_zn_from_the_menu_brings_znptf_along(self):
        menu = read_entry(self.install()[0])
        zn = self.launch(menu)
        self.assertTrue(wait_for(self.znptf_serves, 30), "znptf was not started with zn")
        self.started.extend(self.own_znptf())
        self.assertTrue(wait_for(lambda: os.path.exists(os.path.join(self.env["ZN_HOME"], "ZNOUT.DBF")), 30),
                        "zn did not start")
        self.assertIsNone(zn.poll(), "zn ended")
        # A second start finds znptf running: still one of them.
        self.launch(menu)
        time.sleep(3)
        self.started.extend(p for p in self.own_znptf() if p not in self.started)
        self.assertEqual(len(self.own_znptf()), 1)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
