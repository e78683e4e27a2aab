"""The window's own ending under load and on signals: korvex-simulator under Xvfb on a socat
pair.

usage: window_e2e_test.py SCENARIO KORVEX_SIMULATOR EXAMPLES_DIR
scenarios: closes-under-flood, signals"""
import errno
import os
import signal
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import korvex_e2e as k  # noqa: E402


class Flood:
    """Writes bytes to the line as fast as it takes them, until stopped."""

    def __init__(self, path):
        self.fd = os.open(path, os.O_WRONLY | os.O_NONBLOCK | os.O_NOCTTY)
        self.running = True
        self.sent = 0
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        block = bytes(range(256)) * 16
        while self.running:
            try:
                self.sent += os.write(self.fd, block)
            except OSError as e:
                if e.errno != errno.EAGAIN:
                    raise
                time.sleep(0.001)

    def stop(self):
        self.running = False
        self.thread.join(5)
        os.close(self.fd)


def closes_under_flood(directory, display, pair, program, punch_file, runs=20):
    """Closing the window while the other end floods the line: every run ends with 0."""
    peer = k.Peer(pair.a)
    codes = []
    for run in range(runs):
        sim = k.Simulator(program, display.display, punch_file,
                          os.path.join(directory, "run%d" % run))
        try:
            k.open_and_confirm(sim, peer, pair.b)
            flood = Flood(pair.a)
            k.check(k.wait_for(lambda: flood.sent > 64 * 1024, 10), "the flood did not start")
            codes.append(sim.close_window())
            flood.stop()
        finally:
            sim.kill()
        peer.drain(0.1)
    peer.close()
    print("exit codes:", codes)
    k.check(codes == [0] * runs, "exit codes under flood: %s" % codes)


def signals(directory, display, pair, program, punch_file):
    """SIGINT, SIGTERM and SIGHUP end the program as closing the window does, also while a
    dialog is open; the line can be opened again at once."""
    peer = k.Peer(pair.a)
    for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        sim = k.Simulator(program, display.display, punch_file,
                          os.path.join(directory, "sig%d" % number))
        try:
            k.open_and_confirm(sim, peer, pair.b)
            sim.process.send_signal(number)
            code = sim.process.wait(15)
        finally:
            sim.kill()
        k.check(code == 0, "exit code after signal %d: %s" % (number, code))
        # Released: another program may take the line exclusively right away.
        import serial
        serial.Serial(pair.b, exclusive=True).close()
    # An error dialog is open (a device that does not exist) when the signal comes.
    sim = k.Simulator(program, display.display, punch_file, os.path.join(directory, "dialog"))
    try:
        sim.open_port(os.path.join(directory, "no-such-device"))
        k.check(k.wait_for(lambda: dialog_open(sim), 10), "no error dialog appeared")
        sim.process.send_signal(signal.SIGTERM)
        code = sim.process.wait(15)
    finally:
        sim.kill()
    k.check(code == 0, "exit code after SIGTERM with a dialog open: %s" % code)
    peer.close()


def dialog_open(sim):
    found = k.subprocess.run(["xdotool", "search", "--all", "--onlyvisible", "--pid",
                              str(sim.process.pid), "--name", "^Error$"],
                             env=sim.env, capture_output=True, text=True).stdout.split()
    return bool(found)


def main():
    k.require(["socat", "Xvfb", "xdotool"])
    scenario, program, examples = sys.argv[1], sys.argv[2], sys.argv[3]
    directory = k.temp_dir("korvex-window-")
    display = k.Xvfb()
    pair = k.SocatPair(directory)
    punch_file = os.path.join(examples, "data.epl")
    try:
        if scenario == "closes-under-flood":
            closes_under_flood(directory, display, pair, program, punch_file)
        elif scenario == "signals":
            signals(directory, display, pair, program, punch_file)
        else:
            k.fail("unknown scenario " + scenario)
    finally:
        pair.close()
        display.close()
    print("PASS")


if __name__ == "__main__":
    main()
