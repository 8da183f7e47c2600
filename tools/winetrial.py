#!/usr/bin/env python3
"""The Windows set tried under wine (tools/try-wine.sh): a fresh wine prefix under Xvfb, the
installer run silently, the window started from its Start-menu entry, COM12 a pseudo-terminal
through wine's port registry, COM4 a port map line to ser2net on 127.0.0.1, then the silent
uninstall."""
import argparse
import datetime
import os
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import termios
import threading
import time
import tty

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from debtrial import Desktop, fail, read_exactly, step, wait_until  # noqa: E402

PRODUCT = "Terminal Kontrol"


def far_end():
    """A pseudo-terminal: the master is the terminal's end, the slave's path goes to wine."""
    master, slave = os.openpty()
    tty.setraw(master)
    return master, slave, os.ttyname(slave)


def line_settings(slave):
    attributes = termios.tcgetattr(slave)
    speed = {termios.B4800: 4800, termios.B9600: 9600}.get(attributes[5], attributes[5])
    size = {termios.CS7: 7, termios.CS8: 8}.get(attributes[2] & termios.CSIZE)
    parity = "N" if not attributes[2] & termios.PARENB else ("O" if attributes[2] & termios.PARODD else "E")
    stop = 2 if attributes[2] & termios.CSTOPB else 1
    return "%s %d%s%d" % (speed, size, parity, stop)


def drain(master):
    while select.select([master], [], [], 0)[0]:
        os.read(master, 4096)


class Wine:
    def __init__(self, prefix, display):
        self.prefix = prefix
        # No Mono or Gecko downloads: the programs need neither.
        self.env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", DISPLAY=display,
                        WINEDLLOVERRIDES="mscoree,mshtml=", LANG="C.UTF-8")

    def run(self, *arguments, timeout=120, check=True):
        done = subprocess.run(["wine", *arguments], env=self.env, capture_output=True, timeout=timeout)
        if check and done.returncode != 0:
            fail("wine %s ended with %d: %r" % (" ".join(arguments), done.returncode, done.stderr[-2000:]))
        return done

    def start(self, *arguments):
        return subprocess.Popen(["wine", *arguments], env=self.env, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, start_new_session=True)

    def server(self, *arguments):
        subprocess.run(["wineserver", *arguments], env=self.env, timeout=120, check=False)

    def unix(self, windows_path):
        """A C: path inside the prefix."""
        assert windows_path[:3].upper() == "C:\\"
        return os.path.join(self.prefix, "drive_c", *windows_path[3:].split("\\"))

    @staticmethod
    def programs():
        """The window's and the command line's processes (not the installer's)."""
        return subprocess.run(["pgrep", "-f", r"terminal-kontrol(-cli)?\.exe"], capture_output=True,
                              text=True).stdout.split()


def shortcut_target(path):
    """The program a .lnk starts: the local base path of its link information."""
    data = open(path, "rb").read()
    flags = int.from_bytes(data[20:24], "little")
    offset = 76
    if flags & 0x01:  # HasLinkTargetIDList
        offset += 2 + int.from_bytes(data[offset:offset + 2], "little")
    if not flags & 0x02:  # HasLinkInfo
        fail("the Start-menu entry has no link information")
    info = data[offset:]
    base = int.from_bytes(info[16:20], "little")
    return info[base:info.index(b"\0", base)].decode("latin-1")


def ser2net(device, port, folder):
    config = os.path.join(folder, "ser2net.yaml")
    with open(config, "w") as out:
        out.write("connection: &c0\n  accepter: telnet(rfc2217),tcp,127.0.0.1,%d\n"
                  "  connector: serialdev,%s,4800n81,local\n" % (port, device))
    server = subprocess.Popen(["/usr/sbin/ser2net", "-n", "-d", "-c", config, "-P", os.path.join(folder, "pid")],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    def listening():
        with socket.socket() as probe:
            probe.settimeout(0.2)
            # ser2net answers a probe by opening the device; it is closed again at once.
            return probe.connect_ex(("127.0.0.1", port)) == 0
    if not wait_until(listening, 20, 0.1):
        fail("ser2net did not listen on 127.0.0.1:%d" % port)
    time.sleep(0.5)
    return server


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--setup", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--display", required=True)
    parser.add_argument("--prefix", required=True)
    options = parser.parse_args()
    desktop = Desktop(options.display, "Vexla Terminal Kontrol V " + options.version)
    shutil.rmtree(options.prefix, ignore_errors=True)
    wine = Wine(options.prefix, options.display)
    work = tempfile.mkdtemp(prefix="winetrial.")
    ends = {}
    started = time.monotonic()
    try:
        wine.run("wineboot", "--init", timeout=300)
        wine.server("-w")
        step("fresh wine prefix after %.0f s" % (time.monotonic() - started))

        # Every COMn the trial can open is a pseudo-terminal of its own (wine would give COM1 this
        # machine's /dev/ttyS0); COM12 is the terminal, COM4 the device server's line.
        for number in range(1, 13):
            ends[number] = far_end()
            wine.run("reg", "add", "HKLM\\Software\\Wine\\Ports", "/v", "COM%d" % number, "/t", "REG_SZ",
                     "/d", ends[number][2], "/f")
        wine.server("-k")
        wine.server("-w")
        step("COM1..COM12 mapped to pseudo-terminals; COM12 is %s" % ends[12][2])

        installer = wine.run(options.setup, "/S", timeout=300)
        program_files = wine.unix("C:\\Program Files\\" + PRODUCT)
        for name in ("terminal-kontrol.exe", "terminal-kontrol-cli.exe", "uninstall.exe"):
            if not os.path.isfile(os.path.join(program_files, name)):
                fail("the installer (exit %d) did not put %s in %s" % (installer.returncode, name, program_files))
        entry = wine.unix("C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\%s.lnk" % PRODUCT)
        if not os.path.isfile(entry):
            fail("no Start-menu entry " + entry)
        target = shortcut_target(entry)
        step("installed silently; the Start-menu entry starts %s" % target)
        uninstall = wine.run("reg", "query",
                             "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TerminalKontrol").stdout
        for value in (b"DisplayVersion", b"Publisher", b"EstimatedSize", b"QuietUninstallString"):
            if value not in uninstall:
                fail("the Apps & features entry lacks %s: %r" % (value.decode(), uninstall))
        step("Apps & features entry with version, publisher, size and a silent uninstall")
        # The window and the command line run as a user would start them, with wine up already.
        wine.server("-p")

        master = ends[12][0]
        program = wine.start(target)
        windows = wait_until(desktop.windows, 60)
        if not windows:
            fail("the port window did not appear")
        port_window = windows[0]
        step("port window after %.1f s" % (time.monotonic() - started))
        desktop.xdotool("windowfocus", "--sync", port_window)
        time.sleep(0.5)
        # COM1 is selected and the list has the focus: eleven steps down is COM12.
        desktop.xdotool("key", "--delay", "80", *(["Down"] * 11), "alt+t")
        main_window = wait_until(lambda: [w for w in desktop.windows() if w != port_window], 30)
        if not main_window:
            fail("the main window did not appear")
        main_window = main_window[0]
        time.sleep(1)
        settings = line_settings(ends[12][1])
        if settings != "4800 8N1":
            fail("COM12 is at %s, not 4800 8N1" % settings)
        step("main window; COM12 at %s" % settings)
        drain(master)
        desktop.xdotool("windowfocus", "--sync", main_window)
        desktop.xdotool("key", "alt+t")
        got = read_exactly(master, 3, 5)
        if got != b"@S":
            fail("Alt+T sent %r, not exactly @S" % got)
        step("Alt+T reached the far end: exactly %s" % got.hex(" "))
        answer = b"TERMINAL 42"
        os.write(master, answer)
        time.sleep(1)
        # The console's text through the clipboard: a click into it, select all, copy.
        geometry = dict(line.split("=") for line in
                        subprocess.run(["xdotool", "getwindowgeometry", "--shell", main_window], env=desktop.env,
                                       capture_output=True, text=True).stdout.split())
        x, y = int(geometry["X"]) + 320, int(geometry["Y"]) + 230
        desktop.xdotool("mousemove", "--sync", str(x), str(y))
        time.sleep(0.3)
        desktop.xdotool("mousedown", "1")
        desktop.xdotool("mouseup", "1")
        time.sleep(0.3)
        desktop.xdotool("key", "ctrl+a", "ctrl+c")
        def console_text():
            return subprocess.run(["xclip", "-o", "-selection", "clipboard"], env=desktop.env,
                                  capture_output=True, timeout=10).stdout
        shown = wait_until(lambda: answer in console_text(), 10, 0.3)
        if not shown:
            fail("the answer is not in the console: %r" % console_text())
        step("the far end's answer shows in the console: %r" % console_text())

        desktop.close(main_window)
        if not wait_until(lambda: program.poll() is not None and not wine.programs(), 30):
            fail("the program did not end when its window closed")
        step("closing the window ended the program; no process left")

        cli = os.path.join(program_files, "terminal-kontrol-cli.exe")
        drain(master)
        def date_frame(day):
            return b"@D" + bytes([day.day, day.month, day.year - 2000, day.isoweekday()])
        before = datetime.date.today()
        date = wine.run(cli, "--port", "COM12", "date", timeout=60, check=False)
        got = read_exactly(master, 6, 5)
        expected = {date_frame(before), date_frame(datetime.date.today())}
        if date.returncode != 0 or got not in expected:
            fail("terminal-kontrol-cli date gave %r, %r (exit %d); the far end got %r, not %r"
                 % (date.stdout, date.stderr, date.returncode, got, expected))
        step("terminal-kontrol-cli --port COM12 date (today): %s, %s" % (got.hex(" "), date.stdout.decode().strip()))

        # COM4 is the device server's: a port map line in the user's folder.
        port = free_port()
        server = ser2net(ends[4][2], port, work)
        try:
            appdata = wine.run("cmd", "/c", "echo", "%APPDATA%").stdout.decode().strip()
            maps = wine.unix(appdata + "\\terminal-kontrol")
            os.makedirs(maps, exist_ok=True)
            with open(os.path.join(maps, "terminal-kontrol.conf"), "w") as out:
                out.write("[ports]\nCOM4=rfc2217://127.0.0.1:%d\n" % port)
            def answer_on_com4():
                got = read_exactly(ends[4][0], 2, 15)
                os.write(ends[4][0], b"SAYAC 0007\r\n")
                return got
            heard = {}
            listener = threading.Thread(target=lambda: heard.setdefault("got", answer_on_com4()))
            listener.start()
            counter = wine.run(cli, "--port", "COM4", "-w", "2", "counter-read", timeout=60, check=False)
            listener.join()
            if counter.returncode != 0 or heard.get("got") != b"@K" or b"SAYAC 0007" not in counter.stdout:
                fail("COM4 through ser2net: exit %d, %r, %r; the far end got %r"
                     % (counter.returncode, counter.stdout, counter.stderr, heard.get("got")))
            step("COM4 -> rfc2217://127.0.0.1:%d (ser2net): @K went out, the answer came back" % port)
        finally:
            os.killpg(server.pid, signal.SIGTERM)
            server.wait(10)

        wine.run(options.setup, "/S", timeout=300)
        conf = os.path.join(maps, "terminal-kontrol.conf")
        if not os.path.isfile(conf) or not os.path.isfile(cli):
            fail("installing over the installed set lost %s" % (conf if not os.path.isfile(conf) else cli))
        step("installed again over itself, as an upgrade: the port map in %APPDATA% stays")

        wine.run(os.path.join(program_files, "uninstall.exe"), "/S", timeout=120)
        # The uninstaller copies itself away and runs from there: wait for it.
        gone = wait_until(lambda: not os.path.exists(program_files) and not os.path.exists(entry), 60, 0.5)
        if not gone:
            left = [os.path.join(d, f) for d, _, fs in os.walk(program_files) for f in fs]
            fail("the silent uninstall left %s" % (left or entry))
        step("the silent uninstall left nothing in Program Files or the Start menu")
        if wine.programs():
            fail("processes left: %s" % wine.programs())
        print("PASS after %.0f s" % (time.monotonic() - started), flush=True)
    finally:
        for process in wine.programs():
            os.kill(int(process), signal.SIGKILL)
        wine.server("-k")
        for master, slave, _ in ends.values():
            os.close(master)
            os.close(slave)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
