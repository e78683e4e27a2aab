"""Helpers shared by the live tests: a socat null-modem pair, a private Xvfb display, the
simulator window driven by xdotool, and the station's card images rebuilt from data.epl."""
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SKIP = 77  # CTest's SKIP_RETURN_CODE for these tests

STX, ETX, DLE = 0x02, 0x03, 0x10
VERSION_REQUEST = bytes([0x02, 0x71, 0x03])
VERSION_REPLY = bytes([0x02, 0x71, 0x10, 0x0C, 0x53, 0x03])
CARD_IN = bytes([0x02, 0x46, 0x49, 0x03])
DATA_REQUEST_1 = bytes([0x02, 0x31, 0x03])
DATA_REQUEST_2 = bytes([0x02, 0x32, 0x03])
CARD_DATA_HEADER = bytes([0x02, 0x31, 0x10, 0x01])
HALF_DAY = 43200


def require(tools, need_serial=True):
    """Leaves with the skip code when a tool the test needs is not installed."""
    missing = [t for t in tools if shutil.which(t) is None]
    if need_serial:
        try:
            import serial  # noqa: F401
            serial.Serial  # a foreign module named "serial" lacks it
        except (ImportError, AttributeError):
            missing.append("python3-serial")
    if missing:
        print("skipped: missing " + ", ".join(missing))
        sys.exit(SKIP)


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def check(condition, message):
    if not condition:
        fail(message)


def wait_for(predicate, timeout, step=0.05):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    return predicate()


# ---- the line ---------------------------------------------------------------------------

class SocatPair:
    """Two linked ptys, DIR/a and DIR/b. With tap_file, socat writes a hex dump of all
    traffic (-x -v) there."""

    def __init__(self, directory, tap_file=None):
        self.a = os.path.join(directory, "a")
        self.b = os.path.join(directory, "b")
        args = ["socat", "-d"]
        if tap_file:
            args += ["-x", "-v"]
        args += ["pty,raw,echo=0,link=" + self.a, "pty,raw,echo=0,link=" + self.b]
        self.tap = open(tap_file, "wb") if tap_file else None
        self.process = subprocess.Popen(args, stdout=subprocess.DEVNULL,
                                        stderr=self.tap or subprocess.DEVNULL)
        if not wait_for(lambda: os.path.exists(self.a) and os.path.exists(self.b), 10):
            self.close()
            fail("socat did not create its ptys")

    def close(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        if self.tap:
            self.tap.close()


class Peer:
    """One end of the line as the test's station or administration software."""

    def __init__(self, path):
        import serial
        self.port = serial.Serial(path, 4800, timeout=0.05)
        self.buffer = b""

    def write(self, data):
        self.port.write(data)
        self.port.flush()

    def read_until(self, predicate, timeout):
        """Reads until predicate(buffer) is true; returns the buffer (kept for later)."""
        end = time.monotonic() + timeout
        while not predicate(self.buffer) and time.monotonic() < end:
            self.buffer += self.port.read(4096)
        return self.buffer

    def expect(self, pattern, timeout):
        """Waits for pattern, returns what came before it and drops both from the buffer."""
        data = self.read_until(lambda b: pattern in b, timeout)
        at = data.find(pattern)
        if at < 0:
            fail("expected %s, received %s" % (pattern.hex(" "), data.hex(" ")))
        before = data[:at]
        self.buffer = data[at + len(pattern):]
        return before

    def drain(self, quiet=0.3):
        """Drops everything until the line has been quiet for a while."""
        while True:
            chunk = self.port.read(4096)
            if not chunk:
                time.sleep(quiet)
                if not self.port.in_waiting:
                    break
        self.buffer = b""

    def close(self):
        self.port.close()


# ---- card images, as the station builds them ------------------------------------------

def text_to_real(text):
    text = text.lstrip(" ")
    if not re.fullmatch(r"[+-]?\d+(\.\d+)?([eE][+-]?\d+)?", text):
        return 0.0
    return float(text)


def read_punch_lines(path):
    """Lines of a punch file: up to CR, an LF after it dropped, 0x1A ends the file."""
    data = open(path, "rb").read()
    data = data.split(b"\x1a", 1)[0]
    lines = []
    while data:
        cr = data.find(b"\r")
        if cr < 0:
            lines.append(data)
            break
        lines.append(data[:cr])
        data = data[cr + 1:]
        if data.startswith(b"\n"):
            data = data[1:]
    return [line.decode("latin-1") for line in lines]


def card_seconds(value, hours, minutes):
    m = int(value)  # toward zero
    s = m * 60 + round((value - m) * 100) + hours * 3600 + minutes * 60
    return int(abs(s) % HALF_DAY) * (1 if s >= 0 else -1)


def template_image():
    image = bytearray(128)
    image[0:7] = bytes([0xAA, 0x2A, 0x00, 0x01, 0x10, 0x05, 0x01])
    image[16:32] = bytes([0x65, 0x10, 0x05, 0xEE, 0xEE, 0xEE, 0xEE, 0x01,
                          0x56, 0xEE, 0xEE, 0x1E, 0x01, 0x16, 0x01, 0x01])
    return image


def parse_line(line):
    """(card number, check, start, finish, [(code, time)] of the placed punches)."""
    number = int(line[19:25])
    count = 0
    records = []
    check = start = finish = 0.0
    if number > 0:
        check, start, finish = (text_to_real(line[a:a + 7]) for a in (26, 33, 40))
        for i in range(1, 51):
            if len(line) >= 11 * i + 46:
                code = round(text_to_real(line[11 * i + 36:11 * i + 39]))
                records.append((code, text_to_real(line[11 * i + 40:11 * i + 46])))
                if code == 0 and count == 0:
                    count = i - 1
            else:
                records.append((0, 0.0))
                if count == 0:
                    count = i
    # The card holds 36 records; the station cuts a longer list there.
    return number, check, start, finish, records[:min(count, 36)]


def image_from_line(line, hours=10, minutes=0):
    image = template_image()
    number, check, start, finish, punches = parse_line(line)

    def put(offset, value):
        t = card_seconds(value, hours, minutes)
        image[offset] = (int(t / 256)) & 0xFF
        image[offset + 1] = t & 0xFF

    if number >= 200000:
        image[6] = (number // 100000) & 0xFF
    n = number % 100000
    image[4], image[5] = (n // 256) & 0xFF, n & 0xFF
    image[23] = len(punches) & 0xFF
    if number > 0:  # without a card number no times were read: the template's stay
        put(19, start)
        put(25, check)
        put(21, finish)
    for i, (code, when) in enumerate(punches, start=1):
        if i <= 30:
            at = 33 + 16 * ((i - 1) // 5) + 3 * ((i - 1) % 5)
            image[at] = code & 0xFF
            put(at + 1, when)
        else:
            image[32 + 16 * (i - 31)] = code & 0xFF
    return bytes(image)


def checksum(image):
    return (sum(image) + 1) % 256


def escape(image):
    out = bytearray()
    for b in image:
        if b < 0x20:
            out.append(DLE)
        out.append(b)
    return bytes(out)


def frame(image):
    return CARD_DATA_HEADER + escape(image) + bytes([checksum(image), ETX])


def unframe(message):
    """The image inside a card data message, checking header, escapes, checksum and ETX."""
    check(message.startswith(CARD_DATA_HEADER), "card data header: " + message[:4].hex(" "))
    check(message.endswith(bytes([ETX])), "card data without its ETX")
    body, image, i = message[4:-2], bytearray(), 0
    while i < len(body):
        if body[i] == DLE:
            i += 1
        image.append(body[i])
        i += 1
    check(len(image) == 128, "image of %d bytes" % len(image))
    check(checksum(image) == message[-2], "checksum %02x, expected %02x"
          % (message[-2], checksum(image)))
    return bytes(image)


def frame_length(data):
    """Length of the card data message at the start of data, or None while incomplete."""
    i, taken = 4, 0
    while taken < 128:
        if i >= len(data):
            return None
        i += 2 if data[i] < 0x20 else 1
        taken += 1
    return i + 2 if len(data) >= i + 2 else None


def clock(seconds, base):
    if seconds is None:
        return None
    elapsed = (seconds - base) % HALF_DAY
    return "%d:%02d:%02d" % (elapsed // 3600, elapsed // 60 % 60, elapsed % 60)


def decode_image(image, base=36000):
    """What korvex-reader --json prints for an image."""
    def word(at):
        return image[at] * 256 + image[at + 1]

    def after_base(at):
        return (word(at) - base) % HALF_DAY if word(at) < HALF_DAY else None

    count = image[23]
    punches = []
    for i in range(1, min(count, 36) + 1):
        if i <= 30:
            at = 33 + 16 * ((i - 1) // 5) + 3 * ((i - 1) % 5)
            punches.append(timed({"code": image[at]}, "time", after_base(at + 1), "seconds"))
        else:
            punches.append({"code": image[32 + 16 * (i - 31)], "time": None, "seconds": None})
    card = {"card": word(4), "series": image[6]}
    for name, at in (("check", 25), ("start", 19), ("finish", 21)):
        timed(card, name, after_base(at), name + "_seconds")
    card["punch_count"] = count
    card["punches"] = mark_empty(punches)
    return card


def timed(record, name, seconds, seconds_name):
    """A time both as h:mm:ss and as seconds after the base, None when unset."""
    record[name] = clock(seconds, 0)
    record[seconds_name] = seconds
    return record


def mark_empty(punches):
    """The record of code 0 after a short line's last punch is marked as empty."""
    if punches and punches[-1]["code"] == 0:
        punches[-1]["empty"] = True
    return punches


def expected_card(line, base_hours=10):
    """The card as a person reads the punch-file line, independent of the image layout."""
    number, check_t, start, finish, punches = parse_line(line)

    def elapsed(value):
        return card_seconds(value, 0, 0) % HALF_DAY

    card = {"card": (number % 100000) & 0xFFFF,
            "series": number // 100000 if number >= 200000 else 1}
    for name, value in (("check", check_t), ("start", start), ("finish", finish)):
        timed(card, name, elapsed(value), name + "_seconds")
    card["punch_count"] = len(punches)
    card["punches"] = mark_empty(
        [timed({"code": code & 0xFF}, "time", elapsed(t) if i < 30 else None, "seconds")
         for i, (code, t) in enumerate(punches[:36])])
    return card


# ---- the window -------------------------------------------------------------------------

class Xvfb:
    """A private X display, on the first free number from 140 on."""

    def __init__(self):
        for number in range(140 + os.getpid() % 40, 260):
            if os.path.exists("/tmp/.X%d-lock" % number):
                continue
            # -noreset: by default the server resets when its last client leaves, and a program
            # started during that reset cannot connect (Qt then aborts).
            process = subprocess.Popen(
                ["Xvfb", ":%d" % number, "-screen", "0", "1024x768x24", "-nolisten", "tcp",
                 "-noreset"],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            socket = "/tmp/.X11-unix/X%d" % number
            # The socket may be another server's that took the number first: ours must live on.
            if wait_for(lambda: os.path.exists(socket) or process.poll() is not None, 10) \
                    and process.poll() is None and not wait_for(
                        lambda: process.poll() is not None, 0.3):
                self.process, self.display = process, ":%d" % number
                return
            process.kill()
            process.wait()
        fail("no free X display")

    def close(self):
        self.process.terminate()
        try:
            self.process.wait(5)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


class Simulator:
    """korvex-simulator in a working directory of its own holding a copy of data.epl."""

    CAPTION = "Simulator of Korvex"

    def __init__(self, program, display, punch_file, workdir):
        os.makedirs(workdir, exist_ok=True)
        shutil.copy(punch_file, os.path.join(workdir, "data.epl"))
        self.env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb")
        self.env.pop("WAYLAND_DISPLAY", None)
        self.log = open(os.path.join(workdir, "simulator.log"), "wb")
        self.process = subprocess.Popen([program], cwd=workdir, env=self.env,
                                        stdout=self.log, stderr=subprocess.STDOUT)
        self.window = wait_for(self._find_window, 20, 0.2)
        if not self.window:
            self.kill()
            fail("the simulator window did not appear")

    def _find_window(self):
        if self.process.poll() is not None:
            fail("the simulator ended early with %d" % self.process.returncode)
        found = subprocess.run(["xdotool", "search", "--all", "--onlyvisible", "--pid",
                                str(self.process.pid), "--name", self.CAPTION],
                               env=self.env, capture_output=True, text=True).stdout.split()
        return found[0] if found else None

    def xdotool(self, *args):
        subprocess.run(["xdotool"] + list(args), env=self.env, check=True)

    def click(self, x, y):
        # Without a window manager windows overlap at the origin: bring ours to the top.
        self.xdotool("windowraise", self.window)
        self.xdotool("mousemove", "--window", self.window, str(x), str(y))
        self.xdotool("click", "1")
        time.sleep(0.2)

    def open_port(self, device):
        self.click(484 + 58, 20 + 10)  # ComboBoxDeviceName
        self.xdotool("key", "--window", self.window, "ctrl+a")
        self.xdotool("type", "--window", self.window, "--delay", "20", device)
        time.sleep(0.2)
        self.click(484 + 58, 228 + 12)  # "Open port"

    def send_card_in(self):
        self.click(8 + 64, 168 + 12)  # Button2 "Send: Card inserted."

    def tick_repeat(self):
        self.click(8 + 70, 224 + 8)  # CheckBox2

    def close_window(self, timeout=15):
        send_delete_window(self.env["DISPLAY"], int(self.window))
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            fail("the simulator did not end after its window was closed")

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        self.log.close()


def send_delete_window(display_name, window):
    """Asks a window to close as a window manager would (WM_DELETE_WINDOW); without a window
    manager neither Alt+F4 nor destroying the window makes the program end properly."""
    import ctypes

    class ClientMessage(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                    ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                    ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                    ("format", ctypes.c_int), ("data", ctypes.c_long * 5),
                    ("pad", ctypes.c_long * 16)]

    x11 = ctypes.CDLL("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                               ctypes.c_void_p]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    display = x11.XOpenDisplay(display_name.encode())
    check(display, "cannot open display " + display_name)
    event = ClientMessage()
    event.type = 33  # ClientMessage
    event.window = window
    event.message_type = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
    event.format = 32
    event.data[0] = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
    event.data[1] = 0  # CurrentTime
    x11.XSendEvent(display, window, 0, 0, ctypes.byref(event))
    x11.XFlush(display)
    x11.XCloseDisplay(display)


def open_and_confirm(simulator, peer, device, timeout=15):
    """Opens the simulator's port and waits until it answers a version request."""
    simulator.open_port(device)
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        peer.write(VERSION_REQUEST)
        data = peer.read_until(lambda b: VERSION_REPLY in b, 1.2)
        if VERSION_REPLY in data:
            peer.drain()
            return
    fail("the simulator's port did not open on " + device)


def temp_dir(prefix):
    return tempfile.mkdtemp(prefix=prefix)


def stop_process(process, sig=signal.SIGINT, timeout=10):
    if process.poll() is None:
        process.send_signal(sig)
        try:
            process.wait(timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
