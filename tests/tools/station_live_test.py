"""korvex-station, korvex-reader's exit codes and ./run, live across socat pairs.

usage: station_live_test.py SCENARIO BIN_DIR SOURCE_DIR
scenarios: peer, exit-codes, run"""
import json
import os
import re
import signal
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import korvex_e2e as k  # noqa: E402


class Program:
    """A program whose stdout and stderr are gathered line by line while it runs."""

    def __init__(self, args, cwd=None, env=None, new_session=False):
        self.process = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                        cwd=cwd, env=env, start_new_session=new_session)
        self.out, self.err = [], []
        self.threads = [threading.Thread(target=self._gather, args=(s, d), daemon=True)
                        for s, d in ((self.process.stdout, self.out),
                                     (self.process.stderr, self.err))]
        for t in self.threads:
            t.start()

    @staticmethod
    def _gather(stream, into):
        for line in stream:
            into.append(line.decode("latin-1").rstrip("\n"))

    def wait_for_err(self, text, timeout=10):
        k.check(k.wait_for(lambda: any(text in e for e in self.err)
                           or self.process.poll() is not None, timeout)
                and any(text in e for e in self.err),
                "no '%s' on stderr: %s" % (text, self.err))

    def finish(self, timeout=15):
        try:
            self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            k.fail("%s did not end; stderr: %s" % (self.process.args[0], self.err))
        for t in self.threads:
            t.join(5)
        return self.process.returncode

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


def expect_exactly(peer, expected, timeout=3):
    """The next bytes on the line are exactly expected, and nothing follows for a poll."""
    data = peer.read_until(lambda b: len(b) >= len(expected), timeout)
    k.check(data == expected, "expected %s, received %s" % (expected.hex(" "), data.hex(" ")))
    peer.buffer = b""
    quiet(peer)


def quiet(peer, seconds=0.8):
    extra = peer.read_until(lambda b: False, seconds)
    k.check(extra == b"", "unexpected bytes: " + extra.hex(" "))


def log_line(caption, data):
    return caption + ": " + "".join("%d." % b for b in data)


def peer(bin_dir, source):
    """korvex-station answers a python3-serial peer byte for byte as the window does, logs
    the window's lines, shows its status texts, announces cards when asked and ends on
    SIGTERM through its normal end."""
    examples = os.path.join(source, "examples")
    punch = os.path.join(examples, "data.epl")
    lines = k.read_punch_lines(punch)
    station_program = os.path.join(bin_dir, "korvex-station")
    pair = k.SocatPair(k.temp_dir("korvex-station-live-"))
    try:
        p = k.Peer(pair.a)
        station = Program([station_program, pair.b, "--punch-file", punch, "--base", "11:30",
                           "--cards", "3"])
        station.wait_for_err("station on")
        frames = [k.frame(k.image_from_line(line, 11, 30)) for line in lines[:3]]
        p.write(k.VERSION_REQUEST)
        expect_exactly(p, k.VERSION_REPLY)
        p.write(bytes([0x02]) + k.VERSION_REQUEST)
        expect_exactly(p, k.VERSION_REPLY)
        p.write(k.VERSION_REQUEST + b"\r")
        quiet(p)
        p.write(k.CARD_IN)
        expect_exactly(p, k.DATA_REQUEST_1)
        p.write(k.DATA_REQUEST_1)
        expect_exactly(p, frames[0])
        p.write(b"\x00zz" + k.DATA_REQUEST_2 + b"\r\n")
        expect_exactly(p, frames[1])
        p.write(k.CARD_IN + k.DATA_REQUEST_1)  # the card-in branch wins, the request is dropped
        expect_exactly(p, k.DATA_REQUEST_1)
        p.write(k.DATA_REQUEST_2)
        k.check(p.read_until(lambda b: len(b) >= len(frames[2]), 3) == frames[2],
                "third card: %s\n%s\n%s" % (p.buffer.hex(" "), station.out, station.err))
        code = station.finish()
        k.check(code == 0, "exit %d after --cards 3: %s" % (code, station.err))
        version = [log_line("RECEIVED What version?", k.VERSION_REQUEST),
                   log_line("SEND version", k.VERSION_REPLY)]
        card_in = [log_line("RECEIVED KX Card IN", k.CARD_IN),
                   log_line("SEND I want data", k.DATA_REQUEST_1)]
        expected = version + version + card_in + \
            [log_line("SEND CARD DATA", f) for f in frames[:2]] + card_in + \
            [log_line("SEND CARD DATA", frames[2])]
        k.check(station.out == expected, "log:\n%s\nexpected:\n%s"
                % ("\n".join(station.out), "\n".join(expected)))
        statuses = [e.split("status: ", 1)[1] for e in station.err if "status: " in e]
        # A text shown again unchanged is not printed again.
        k.check(statuses == ["I sent version", "FI - KX card in, require data", "Sending data", "1",
                             "Sending data", "2", "FI - KX card in, require data",
                             "Sending data", "3"], "status texts: %s" % statuses)

        # Announcements every second, JSON Lines, and SIGTERM ending the run normally.
        p.buffer = b""
        station = Program([station_program, pair.b, "--punch-file", punch, "--repeat", "1",
                           "--json"])
        station.wait_for_err("station on")
        k.check(p.expect(k.CARD_IN, 5) == b"", "bytes before the announcement")
        k.check(p.expect(k.CARD_IN, 5) == b"", "bytes before the second announcement")
        p.write(k.DATA_REQUEST_1)
        p.read_until(lambda b: k.frame(k.image_from_line(lines[0])) in b, 5)
        k.check(k.frame(k.image_from_line(lines[0])) in p.buffer, "card after the repeats")
        station.process.send_signal(signal.SIGTERM)
        code = station.finish()
        k.check(code == 0, "exit %d after SIGTERM: %s" % (code, station.err))
        k.check(any("1 card(s) sent" in e for e in station.err),
                "no summary after SIGTERM: %s" % station.err)
        events = [json.loads(line) for line in station.out]
        k.check({"event": "log", "line": log_line("SEND Card IN", k.CARD_IN)} in events,
                "JSON log events: %s" % station.out)
        k.check({"event": "status", "text": "1"} in events, "JSON status: %s" % station.out)
        k.check({"event": "received", "bytes": list(k.DATA_REQUEST_1)} in events,
                "JSON received chunk: %s" % station.out)
        p.close()
    finally:
        pair.close()


def exit_codes(bin_dir, source):
    """--version prints the version; a device that is missing, silent or vanishing gives one
    clear message naming it and a distinct exit code; requests and noise are named."""
    reader_program = os.path.join(bin_dir, "korvex-reader")
    station_program = os.path.join(bin_dir, "korvex-station")
    for program in (reader_program, station_program):
        done = subprocess.run([program, "--version"], capture_output=True, text=True, timeout=10)
        name = os.path.basename(program)
        k.check(done.returncode == 0 and re.fullmatch(name + r" \d+\.\d+\.\d+\n", done.stdout),
                "%s --version: %d %r" % (name, done.returncode, done.stdout))

    directory = k.temp_dir("korvex-exit-")
    missing = os.path.join(directory, "missing")
    reader = Program([reader_program, missing])
    k.check(reader.finish() == 1, "reader on a missing device: %d" % reader.process.returncode)
    k.check(len(reader.err) == 1 and missing in reader.err[0],
            "one message naming the device, no summary: %s" % reader.err)

    pair = k.SocatPair(directory)
    try:
        p = k.Peer(pair.a)
        started = time.monotonic()
        reader = Program([reader_program, pair.b, "--ask-version"])
        k.check(reader.finish(8) == 1, "no reply: exit %d" % reader.process.returncode)
        k.check(time.monotonic() - started < 6, "the version wait is not bounded")
        k.check(any(pair.b in e and "no version reply" in e for e in reader.err),
                "no clear message: %s" % reader.err)
        k.check(p.expect(k.VERSION_REQUEST, 1) == b"", "version request not sent")

        reader = Program([reader_program, pair.b])
        reader.wait_for_err("listening on")
        p.write(b"abc\x02xyz" + k.VERSION_REQUEST)
        time.sleep(0.3)
        p.write(k.DATA_REQUEST_2 + b"\xff" * 50)
        reader.wait_for_err("50 bytes of noise")
        station = Program([station_program, pair.a, "--punch-file", missing])
        station.wait_for_err("station on")
    finally:
        pair.close()  # the line vanishes under both programs
    k.check(reader.finish() == 3, "reader on a vanished line: %d; %s"
            % (reader.process.returncode, reader.err))
    k.check(station.finish() == 3, "station on a vanished line: %d; %s"
            % (station.process.returncode, station.err))
    for program, errors, device in ((reader, reader.err, pair.b), (station, station.err, pair.a)):
        gone = [e for e in errors if "hung up or vanished" in e]
        k.check(len(gone) == 1 and device in gone[0], "one message naming %s: %s"
                % (device, errors))
    named = [e for e in reader.err if "korvex-reader: " in e]
    for text in ("7 bytes of noise", "version request", "data request", "50 bytes of noise"):
        k.check(sum(text in e for e in named) == 1, "'%s' once: %s" % (text, named))
    k.check(not any("corrupt" in e and "frame:" in e for e in named),
            "requests reported as corrupt frames: %s" % named)
    k.check(any(missing in e and "File not found" in e for e in station.err),
            "punch file error does not name the file: %s" % station.err)


def run(bin_dir, source):
    """./run without a display: cards flow through korvex-reader within 30 s from the kept
    punch file; --no-reader leaves the other end free for the user's own software."""
    directory = k.temp_dir("korvex-run-")
    work = os.path.join(directory, "work")
    os.makedirs(work)
    own = open(os.path.join(source, "examples", "data.epl"), "rb").read()
    own = own.replace(b"  4101 ", b"   999 ", 1)  # the user's own first card
    with open(os.path.join(work, "data.epl"), "wb") as f:
        f.write(own)
    env = dict(os.environ, KORVEX_LINE_DIR=os.path.join(directory, "line"),
               KORVEX_RUN_DIR=work)
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    script = os.path.join(source, "run")

    runner = Program([script, "--no-build", "--repeat", "2"], env=env, new_session=True)
    try:
        cards = lambda: [line for line in runner.out  # noqa: E731
                         if re.match(r"card \d+ series \d+ ", line)]
        k.wait_for(lambda: len(cards()) >= 3 or runner.process.poll() is not None, 30)
        k.check(len(cards()) >= 3, "cards within 30 s: %s\n%s" % (runner.out, runner.err))
        k.check(cards()[0].startswith("card 999 series 1 "), "own punch file not used: %s"
                % cards()[0])
        k.check(any("Ctrl+C" in line for line in runner.out), "no word on how to stop")
        k.check(any("Punch file: " + os.path.join(work, "data.epl") in line
                    for line in runner.out), "punch file not named: %s" % runner.out)
    finally:
        if runner.process.poll() is None:
            os.killpg(runner.process.pid, signal.SIGINT)  # as Ctrl+C in a terminal
    runner.finish(15)
    k.check(open(os.path.join(work, "data.epl"), "rb").read() == own,
            "./run replaced the user's punch file")

    free = Program([script, "--no-build", "--no-reader", "--repeat", "2"], env=env,
                   new_session=True)
    try:
        end = os.path.join(directory, "line", "ttyB")
        k.check(k.wait_for(lambda: any(end in line for line in free.out), 15),
                "the free end is not named: %s %s" % (free.out, free.err))
        k.check(k.wait_for(lambda: any("station on" in e for e in free.err), 10),
                "station did not start: %s" % free.err)
        p = k.Peer(end)  # fails with "busy" if anything holds it
        k.check(p.expect(k.CARD_IN, 6) == b"", "bytes before the announcement")
        p.close()
    finally:
        if free.process.poll() is None:
            os.killpg(free.process.pid, signal.SIGINT)
    free.finish(15)


def main():
    k.require(["socat"])
    scenario, bin_dir, source = sys.argv[1:4]
    {"peer": peer, "exit-codes": exit_codes, "run": run}[scenario](bin_dir, source)
    print("PASS")


if __name__ == "__main__":
    main()
