"""The window and korvex-station run one scenario across socat pairs: the bytes they put on
the line and the exchange log lines they show must be the same.

usage: station_window_e2e_test.py KORVEX_SIMULATOR KORVEX_STATION EXAMPLES_DIR"""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import korvex_e2e as k  # noqa: E402

MEMO1 = (168 + 150, 152 + 50)  # the exchange log pane


def scenario(peer):
    """Every branch of the poll, as event software would drive it; returns what came back."""
    got = b""
    for request in (k.CARD_IN, k.DATA_REQUEST_1, b"\x00zz" + k.DATA_REQUEST_2 + b"\r\n",
                    k.VERSION_REQUEST + b"\r", k.CARD_IN + k.DATA_REQUEST_1,
                    k.VERSION_REQUEST):
        peer.write(request)
        got += peer.read_until(lambda b: False, 1.2)
        peer.buffer = b""
    return got


def after_handshake(lines):
    """The log from the line after the handshake's version reply on."""
    return lines[lines.index("SEND version: 2.113.16.12.83.3.") + 1:]


def window_run(program, examples, directory, display):
    pair = k.SocatPair(os.path.join(directory, "window"))
    sim = None
    try:
        peer = k.Peer(pair.a)
        sim = k.Simulator(program, display.display, os.path.join(examples, "data.epl"),
                          os.path.join(directory, "window-work"))
        k.open_and_confirm(sim, peer, pair.b)
        got = scenario(peer)
        sim.click(*MEMO1)
        sim.xdotool("key", "--window", sim.window, "ctrl+a", "ctrl+c")
        time.sleep(0.3)
        log = subprocess.run(["xclip", "-o", "-selection", "clipboard"], env=sim.env,
                             capture_output=True, timeout=10).stdout.decode("latin-1")
        k.check(sim.close_window() == 0, "exit code of the simulator")
        return got, log.splitlines()
    finally:
        if sim:
            sim.kill()
        pair.close()


def station_run(program, examples, directory):
    pair = k.SocatPair(os.path.join(directory, "station"))
    try:
        peer = k.Peer(pair.a)
        station = subprocess.Popen([program, pair.b, "--punch-file",
                                    os.path.join(examples, "data.epl")],
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        end = time.monotonic() + 10
        while time.monotonic() < end:  # the same handshake as the window's
            peer.write(k.VERSION_REQUEST)
            if k.VERSION_REPLY in peer.read_until(lambda b: k.VERSION_REPLY in b, 1.2):
                break
        peer.drain()
        got = scenario(peer)
        k.stop_process(station)
        out, err = station.communicate()
        k.check(station.returncode == 0, "station exit %d: %s" % (station.returncode, err))
        return got, out.decode("latin-1").splitlines()
    finally:
        pair.close()


def main():
    k.require(["socat", "Xvfb", "xdotool", "xclip"])
    simulator, station, examples = sys.argv[1:4]
    directory = k.temp_dir("korvex-station-window-")
    for name in ("window", "station"):
        os.makedirs(os.path.join(directory, name))
    display = k.Xvfb()
    try:
        window_bytes, window_log = window_run(simulator, examples, directory, display)
    finally:
        display.close()
    station_bytes, station_log = station_run(station, examples, directory)
    k.check(window_bytes == station_bytes, "bytes differ:\nwindow  %s\nstation %s"
            % (window_bytes.hex(" "), station_bytes.hex(" ")))
    k.check(window_bytes.count(k.CARD_DATA_HEADER) == 2 and window_bytes.count(k.VERSION_REPLY)
            == 1, "the scenario did not reach every branch: %s" % window_bytes.hex(" "))
    window_log, station_log = after_handshake(window_log), after_handshake(station_log)
    k.check(window_log == station_log, "log lines differ:\nwindow:\n%s\nstation:\n%s"
            % ("\n".join(window_log), "\n".join(station_log)))
    k.check(len(station_log) == 8, "log lines: %s" % station_log)
    print("PASS")


if __name__ == "__main__":
    main()
