"""korvex-simulator's window under Xvfb, driven by xdotool, answering across socat pairs.

usage: simulator_e2e_test.py SCENARIO KORVEX_SIMULATOR EXAMPLES_DIR [KORVEX_READER]
scenarios: version, cards, two-simulators"""
import json
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import korvex_e2e as k  # noqa: E402


class Session:
    """A display, a pair and one simulator on pair end b; cleaned up in reverse."""

    def __init__(self, program, examples, tap=False):
        self.directory = k.temp_dir("korvex-e2e-")
        self.punch_file = os.path.join(examples, "data.epl")
        self.lines = k.read_punch_lines(self.punch_file)
        self.display = k.Xvfb()
        self.pair = k.SocatPair(self.directory,
                                os.path.join(self.directory, "tap.txt") if tap else None)
        self.simulators = []
        self.program = program

    def simulator(self, name):
        sim = k.Simulator(self.program, self.display.display, self.punch_file,
                          os.path.join(self.directory, name))
        self.simulators.append(sim)
        return sim

    def close(self):
        for sim in self.simulators:
            sim.kill()
        self.pair.close()
        self.display.close()


def expect_quiet(peer, seconds=1.2):
    """Nothing more arrives: a poll answers one request once."""
    extra = peer.read_until(lambda b: False, seconds)
    k.check(extra == b"", "unexpected bytes: " + extra.hex(" "))


def expect_card(peer, timeout=5):
    data = peer.read_until(lambda b: b.startswith(k.CARD_DATA_HEADER)
                           and k.frame_length(b) is not None, timeout)
    k.check(data.startswith(k.CARD_DATA_HEADER), "no card data: " + data.hex(" "))
    size = k.frame_length(data)
    k.check(size is not None, "card data incomplete: " + data.hex(" "))
    peer.buffer = data[size:]
    return data[:size]


def version(session):
    """Both forms of the version request get the exact reply, once; a request with a byte
    after it gets none."""
    sim = session.simulator("sim")
    peer = k.Peer(session.pair.a)
    k.open_and_confirm(sim, peer, session.pair.b)
    for request in (k.VERSION_REQUEST, bytes([0x02]) + k.VERSION_REQUEST):
        peer.write(request)
        k.check(peer.read_until(lambda b: len(b) >= 6, 3) == k.VERSION_REPLY,
                "reply to %s: %s" % (request.hex(" "), peer.buffer.hex(" ")))
        peer.buffer = b""
        expect_quiet(peer)
    peer.write(k.VERSION_REQUEST + b"\r")
    expect_quiet(peer)
    peer.close()
    k.check(sim.close_window() == 0, "exit code of the simulator")


def cards(session, reader):
    """Card-in by button, data requests of both forms with noise around them, then every
    further card of data.epl through korvex-reader and the template at the file's end."""
    sim = session.simulator("sim")
    peer = k.Peer(session.pair.a)
    k.open_and_confirm(sim, peer, session.pair.b)
    sim.send_card_in()
    k.check(peer.expect(k.CARD_IN, 5) == b"", "bytes before the card-in announcement")
    peer.write(k.DATA_REQUEST_1)
    message = expect_card(peer)
    k.check(message == k.frame(k.image_from_line(session.lines[0])),
            "first card: %s" % message.hex(" "))
    peer.write(b"\x00zz" + k.DATA_REQUEST_2 + b"\r\n")
    message = expect_card(peer)
    k.check(k.unframe(message) == k.image_from_line(session.lines[1]),
            "second card: %s" % message.hex(" "))
    # A card-in from the other end is answered with a data request.
    peer.write(k.CARD_IN)
    k.check(peer.expect(k.DATA_REQUEST_1, 3) == b"", "bytes before the data request")
    expect_quiet(peer)
    # "Repeat" announces a card every 4 s from a full interval after the tick on.
    sim.tick_repeat()
    ticked = time.monotonic()
    k.check(peer.expect(k.CARD_IN, 7) == b"", "bytes before the repeated announcement")
    k.check(time.monotonic() - ticked > 3, "the first repeated announcement came too early")
    peer.close()

    rest = session.lines[2:]
    process = subprocess.Popen([reader, session.pair.a, "--json", "--cards", str(len(rest) + 1)],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    time.sleep(1.0)  # the repeat timer keeps announcing besides the button
    for _ in range(len(rest) + 1):
        if process.poll() is not None:
            break
        sim.send_card_in()
        time.sleep(1.5)
    try:
        out, err = process.communicate(timeout=30)
    except subprocess.TimeoutExpired:
        k.stop_process(process)
        out, err = process.communicate()
    k.check(process.returncode == 0, "reader exit %d: %s" % (process.returncode, err))
    got = [json.loads(line) for line in out.decode().splitlines()]
    expected = [k.expected_card(line) for line in rest]
    expected.append(k.decode_image(k.template_image()))
    k.check(len(got) == len(expected), "%d cards read, %d expected; %s"
            % (len(got), len(expected), err.decode()))
    for n, (a, b) in enumerate(zip(got, expected)):
        k.check(a == b, "card %d: %s\nexpected %s" % (n + 3, a, b))
    k.check(got[-1]["card"] == 4101 and got[-1]["series"] == 1, "template card")
    k.check(b"skipped a corrupt frame" not in err, "reader saw corrupt frames: %s" % err)
    k.check(sim.close_window() == 0, "exit code of the simulator")


def tap_bytes(path):
    """All bytes of each direction from socat's -x -v dump, in order."""
    directions = {">": b"", "<": b""}
    current = None
    for line in open(path, "r", errors="replace"):
        if line[:1] in "<>" and "length=" in line:
            current = line[0]
            continue
        match = re.match(r"^ ((?:[0-9a-f]{2} )+)", line)
        if current and match:
            directions[current] += bytes.fromhex(match.group(1))
    return directions


def two_simulators(session):
    """One simulator announces a card by button; the other asks for data; the first sends
    the first card of its file. The line's dump holds all three messages."""
    first = session.simulator("first")
    second = session.simulator("second")
    first.open_port(session.pair.a)
    second.open_port(session.pair.b)
    time.sleep(1.5)
    first.send_card_in()
    card = k.frame(k.image_from_line(session.lines[0]))
    tap = os.path.join(session.directory, "tap.txt")
    seen = k.wait_for(lambda: card in b"".join(tap_bytes(tap).values()), 10, 0.2)
    traffic = tap_bytes(tap)
    everything = b"".join(traffic.values())
    k.check(seen, "no card data on the line: %s" % {d: v.hex(" ") for d, v in traffic.items()})
    k.check(k.CARD_IN in everything and k.DATA_REQUEST_1 in everything,
            "announcement and request: %s" % everything.hex(" "))
    sender = next(d for d, v in traffic.items() if k.CARD_IN in v)
    k.check(card in traffic[sender], "card data came from the announcing side")
    k.check(k.DATA_REQUEST_1 in traffic["<" if sender == ">" else ">"],
            "the data request came from the other side")
    k.check(first.close_window() == 0, "exit code of the first simulator")
    k.check(second.close_window() == 0, "exit code of the second simulator")


def main():
    k.require(["socat", "Xvfb", "xdotool"])
    scenario, program, examples = sys.argv[1], sys.argv[2], sys.argv[3]
    session = Session(program, examples, tap=scenario == "two-simulators")
    try:
        if scenario == "version":
            version(session)
        elif scenario == "cards":
            cards(session, sys.argv[4])
        elif scenario == "two-simulators":
            two_simulators(session)
        else:
            k.fail("unknown scenario " + scenario)
    finally:
        session.close()
    print("PASS")


if __name__ == "__main__":
    main()
