#!/usr/bin/env python3
"""The desktop half of tools/try-deb.sh: runs the installed commands inside the Debian root
as a user of the dialout group, starts terminal-kontrol there, plays the terminal's end of
the line from a pseudo-terminal of that root, drives the windows with xdotool and checks
what they do."""
import argparse
import ctypes
import ctypes.util
import fcntl
import os
import select
import signal
import struct
import subprocess
import sys
import termios
import time

TIOCGPTN = 0x80045430
TIOCSPTLCK = 0x40045431


def fail(message):
    print("FAIL: " + message, flush=True)
    sys.exit(1)


def step(message):
    print("  " + message, flush=True)


def wait_until(check, seconds, pause=0.02):
    end = time.monotonic() + seconds
    while True:
        value = check()
        if value or time.monotonic() > end:
            return value
        time.sleep(pause)


def open_far_end(root):
    """A pseudo-terminal of the root's own devpts instance: its slave is /dev/pts/N in there."""
    master = os.open(os.path.join(root, "dev/ptmx"), os.O_RDWR | os.O_NOCTTY)
    fcntl.ioctl(master, TIOCSPTLCK, struct.pack("i", 0))
    number = struct.unpack("I", fcntl.ioctl(master, TIOCGPTN, struct.pack("I", 0)))[0]
    return master, number


def group_id(root, name):
    with open(os.path.join(root, "etc/group")) as groups:
        for line in groups:
            fields = line.split(":")
            if fields[0] == name:
                return int(fields[2])
    fail("no group " + name + " in the root")


class Desktop:
    def __init__(self, display, caption):
        self.display = display
        self.caption = caption
        self.env = dict(os.environ, DISPLAY=display)

    def xdotool(self, *arguments):
        done = subprocess.run(["xdotool", *arguments], env=self.env, capture_output=True, text=True, timeout=20)
        return done.stdout.split()

    def windows(self):
        return self.xdotool("search", "--onlyvisible", "--name", self.caption)

    def xprop(self, window, *names):
        return subprocess.run(["xprop", "-id", window, *names], env=self.env, capture_output=True,
                              text=True, timeout=20).stdout

    def close(self, window):
        """What a window manager sends for the close box (there is none under Xvfb)."""
        x11 = ctypes.CDLL(ctypes.util.find_library("X11"))
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x11.XInternAtom.restype = ctypes.c_ulong
        x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
        x11.XFlush.argtypes = [ctypes.c_void_p]
        x11.XCloseDisplay.argtypes = [ctypes.c_void_p]

        class ClientMessage(ctypes.Structure):
            _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                        ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                        ("message_type", ctypes.c_ulong), ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]

        class XEvent(ctypes.Union):
            _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]

        connection = x11.XOpenDisplay(self.display.encode())
        if not connection:
            fail("cannot open display " + self.display)
        event = XEvent()
        event.xclient.type = 33  # ClientMessage
        event.xclient.window = int(window)
        event.xclient.message_type = x11.XInternAtom(connection, b"WM_PROTOCOLS", 0)
        event.xclient.format = 32
        event.xclient.data[0] = x11.XInternAtom(connection, b"WM_DELETE_WINDOW", 0)
        x11.XSendEvent(connection, int(window), 0, 0, ctypes.byref(event))
        x11.XFlush(connection)
        x11.XCloseDisplay(connection)


def read_exactly(master, count, seconds):
    data = b""
    end = time.monotonic() + seconds
    while len(data) < count and time.monotonic() < end:
        ready, _, _ = select.select([master], [], [], 0.1)
        if ready:
            data += os.read(master, count - len(data))
    return data


def user_id(root, name):
    with open(os.path.join(root, "etc/passwd")) as users:
        for line in users:
            fields = line.split(":")
            if fields[0] == name:
                return int(fields[2]), int(fields[3])
    fail("no user " + name + " in the root")


def read_lines(stream, count, seconds):
    data = b""
    end = time.monotonic() + seconds
    while data.count(b"\n") < count and time.monotonic() < end:
        ready, _, _ = select.select([stream], [], [], 0.1)
        if ready:
            chunk = os.read(stream.fileno(), 4096)
            if not chunk:
                break
            data += chunk
    return data.decode(errors="replace")


def simulator_as_user(root, inside, user):
    """The simulator from the package as the user: the program's folder is root's, so COM12 is
    linked in the user's own folder, where the command line finds it."""
    uid, gid = user_id(root, user)
    runtime = "/run/user/%d" % uid
    # As the login manager makes it: the user's alone.
    os.makedirs(os.path.join(root, runtime.lstrip("/")), mode=0o700)
    os.chown(os.path.join(root, runtime.lstrip("/")), uid, gid)
    as_user = inside + ["XDG_RUNTIME_DIR=" + runtime]
    sim = subprocess.Popen(as_user + ["terminal-kontrol-sim", "--link", "COM12"], stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, start_new_session=True)
    try:
        said = read_lines(sim.stdout, 2, 20)
        link = runtime + "/terminal-kontrol/COM12"
        if ("COM12 -> /proc/" not in said) or ("(%s)" % link) not in said:
            fail("terminal-kontrol-sim --link COM12 as %s said %r" % (user, said))
        step("terminal-kontrol-sim --link COM12 as %s: %s" % (user, said.splitlines()[1]))
        counter = subprocess.run(as_user + ["terminal-kontrol-cli", "-p", "COM12", "-w", "1", "counter-read"],
                                 capture_output=True, timeout=30)
        if counter.returncode != 0 or counter.stdout != b"SAYAC 0000\r\nCOM12: OK\n":
            fail("terminal-kontrol-cli on COM12 gave %r, %r (exit %d)" % (counter.stdout, counter.stderr,
                                                                            counter.returncode))
        step("terminal-kontrol-cli -p COM12 counter-read: the simulator's answer, SAYAC 0000")
        os.killpg(sim.pid, signal.SIGTERM)
        sim.wait(10)
        if os.path.lexists(os.path.join(root, link.lstrip("/"))):
            fail("the simulator left " + link)
        step("the simulator ended and removed its link")
    finally:
        if sim.poll() is None:
            os.killpg(sim.pid, signal.SIGKILL)
            sim.wait()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--display", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--programdir", required=True)
    # What the package says it is (tools/try-deb.sh reads them from the .deb).
    parser.add_argument("--version", required=True)
    parser.add_argument("--app-id", required=True)
    options = parser.parse_args()
    root, desktop = options.root, Desktop(options.display, "Vexla Terminal Kontrol V " + options.version)
    inside = ["chroot", root, "runuser", "-u", options.user, "--", "env", "-i", "PATH=/usr/bin:/bin",
              "HOME=/home/" + options.user, "LANG=C.UTF-8"]

    version = subprocess.run(inside + ["terminal-kontrol", "--version"], capture_output=True, text=True, timeout=30)
    if version.returncode != 0 or version.stdout != "terminal-kontrol %s\n" % options.version:
        fail("terminal-kontrol --version gave %r (exit %d)" % (version.stdout, version.returncode))
    step("terminal-kontrol --version without a display: " + version.stdout.strip())
    # The companions from the PATH as the user: their links, libraries and --help text.
    for command, mark in (("terminal-kontrol-cli", "counter-read"), ("terminal-kontrol-sim", "--link")):
        shown = subprocess.run(inside + [command, "--help"], capture_output=True, text=True, timeout=30)
        if shown.returncode != 0 or command not in shown.stdout or mark not in shown.stdout:
            fail("%s --help gave %r, %r (exit %d)" % (command, shown.stdout, shown.stderr, shown.returncode))
        step("%s --help: exit 0, %d lines" % (command, shown.stdout.count("\n")))
    simulator_as_user(root, inside, options.user)

    # The far end, as a serial device is on Debian: root:dialout, 0660, linked as COM3 beside the program.
    master, number = open_far_end(root)
    slave = os.path.join(root, "dev/pts/%d" % number)
    os.chown(slave, 0, group_id(root, "dialout"))
    os.chmod(slave, 0o660)
    link = os.path.join(root, options.programdir.lstrip("/"), "COM3")
    os.symlink("/dev/pts/%d" % number, link)
    step("COM3 -> /dev/pts/%d beside the installed program" % number)

    started = time.monotonic()
    program = subprocess.Popen(inside + ["DISPLAY=" + options.display, "QT_QPA_PLATFORM=xcb", "terminal-kontrol"],
                               start_new_session=True)
    try:
        windows = wait_until(desktop.windows, 30)
        if not windows:
            fail("the port window did not appear")
        port_window = windows[0]
        step("port window %s after %.2f s" % (port_window, time.monotonic() - started))
        # The desktop finds the menu entry, and with it the icon, by the window's class.
        properties = desktop.xprop(port_window, "WM_CLASS", "_KDE_NET_WM_DESKTOP_FILE", "_NET_WM_ICON")
        for line in properties.splitlines():
            if line and not line[0].isspace():
                step(line if not line.startswith("_NET_WM_ICON") else line.split(":")[0] + ": present")
        if 'WM_CLASS(STRING) = "terminal-kontrol", "%s"' % options.app_id not in properties:
            fail("WM_CLASS does not name the menu entry %s.desktop" % options.app_id)
        if not os.path.exists(os.path.join(root, "usr/share/applications/%s.desktop" % options.app_id)):
            fail("the menu entry is not installed")

        desktop.xdotool("windowfocus", "--sync", port_window)
        # COM1 is selected and the list has the focus: two steps down is COM3; Alt+T confirms.
        desktop.xdotool("key", "--delay", "50", "Down", "Down", "alt+t")
        # The program has opened the line once it has put it in raw mode; until then nothing may be read.
        def raw():
            attributes = termios.tcgetattr(master)
            return attributes[3] & (termios.ICANON | termios.ECHO) == 0 and attributes
        attributes = wait_until(raw, 20)
        if not attributes:
            fail("the main window did not open COM3")
        if attributes[4] != termios.B9600 or attributes[5] != termios.B9600:
            fail("the line is not at the 9600 baud of Vxl00.Def beside the program")
        step("COM3 opened in raw mode at 9600 baud (Vxl00.Def beside the installed program)")
        locks = [name for name in os.listdir(os.path.join(root, "run/lock")) if name.startswith("LCK..")]
        step("lock files in /var/lock while open: %s" % locks)

        main_window = wait_until(lambda: [w for w in desktop.windows() if w != port_window], 20)
        if not main_window:
            fail("the main window did not appear")
        main_window = main_window[0]
        step("main window %s; the port window is gone: %s" % (main_window, port_window not in desktop.windows()))
        desktop.xdotool("windowfocus", "--sync", main_window)
        desktop.xdotool("key", "alt+a")
        got = read_exactly(master, 2, 10)
        if got != b"@A":
            fail("Alt+A sent %s, not 40 41" % got.hex(" "))
        step("Alt+A reached the far end: %s" % got.hex(" "))

        desktop.close(main_window)
        try:
            code = program.wait(20)
        except subprocess.TimeoutExpired:
            fail("the program did not end when its last window closed")
        if code != 0:
            fail("the program ended with %d" % code)
        left = [name for name in os.listdir(os.path.join(root, "run/lock")) if name.startswith("LCK..")]
        if left:
            fail("lock files left in /var/lock: %s" % left)
        step("closing the main window ended the program (exit 0) and freed the lock")
    finally:
        if program.poll() is None:
            os.killpg(program.pid, signal.SIGKILL)
            program.wait()
        os.unlink(link)
        os.close(master)


if __name__ == "__main__":
    main()
