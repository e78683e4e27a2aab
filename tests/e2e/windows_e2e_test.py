"""The Windows programs under Wine on COM5, one end of a socat pair, against a station or a
reader on the Linux side; every card must arrive decoded byte for byte.

usage: windows_e2e_test.py WINE_RUN WINEPREFIX READER_EXE LINE_TESTS_EXE EXAMPLES_DIR
                           [STATION_EXE LINUX_STATION LINUX_READER]"""
import json
import os
import subprocess
import sys
import threading

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import korvex_e2e as k  # noqa: E402


def check_prefix_ports(prefix, com5):
    """No COM port of the prefix may lead to a system serial port; COM5 leads to our pty."""
    dosdevices = os.path.join(prefix, "dosdevices")
    for name in sorted(os.listdir(dosdevices)):
        path = os.path.join(dosdevices, name)
        if not name.lower().startswith("com") or not os.path.islink(path):
            continue
        target = os.readlink(path)
        resolved = os.path.realpath(path)
        k.check(not target.startswith("/dev/ttyS") and not resolved.startswith("/dev/ttyS"),
                "%s maps to %s" % (name, target))
        k.check(name.lower() == "com5", "unexpected port %s -> %s" % (name, target))
    k.check(os.path.realpath(os.path.join(dosdevices, "com5")) == os.path.realpath(com5),
            "COM5 does not lead to the test's pty")
    k.check(os.path.realpath(com5).startswith("/dev/pts/"), "COM5 is not a pty")
    with open(os.path.join(prefix, "system.reg"), encoding="utf-8", errors="replace") as f:
        k.check("=\"/dev/ttyS" not in f.read(), "the Ports key maps a system serial port")


class Pair:
    """A socat pair whose first end is the prefix's COM5 target."""

    def __init__(self, com5, other):
        for path in (com5, other):
            if os.path.lexists(path):
                os.unlink(path)
        self.process = subprocess.Popen(
            ["socat", "-d", "pty,raw,echo=0,link=" + com5, "pty,raw,echo=0,link=" + other],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not k.wait_for(lambda: os.path.exists(com5) and os.path.exists(other), 10):
            self.close()
            k.fail("socat did not create its ptys")

    def close(self):
        k.stop_process(self.process, timeout=5)


class Program:
    """A program whose standard output is kept and whose standard error is watched."""

    def __init__(self, args, ready=None, cwd=None):
        self.process = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                        cwd=cwd)
        self.errors = []
        self.thread = threading.Thread(target=self._collect, daemon=True)
        self.thread.start()
        if ready and not k.wait_for(lambda: any(ready in e for e in self.errors)
                                    or self.process.poll() is not None, 60):
            self.stop()
            k.fail("%s did not start: %s" % (args[0], self.errors))

    def _collect(self):
        for line in self.process.stderr:
            self.errors.append(line.decode(errors="replace").rstrip("\r\n"))

    def finish(self, timeout):
        try:
            self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.stop()
            k.fail("%s did not end by itself; stderr: %s" % (self.process.args[0], self.errors))
        self.thread.join(5)
        return self.process.stdout.read().decode().splitlines(), self.process.returncode

    def stop(self):
        k.stop_process(self.process)


def reader_exe_against_scripted_station(wine_run, prefix, reader, examples):
    """korvex-reader.exe on COM5 takes every card of data.epl from a station on the Linux
    end, one frame arriving in two pieces."""
    com5 = prefix + ".com5"
    directory = k.temp_dir("korvex-windows-e2e-")
    other = os.path.join(directory, "station")
    lines = k.read_punch_lines(os.path.join(examples, "data.epl"))
    images = [k.image_from_line(line) for line in lines]
    pair = Pair(com5, other)
    try:
        station = k.Peer(other)
        program = Program([wine_run, reader, "COM5", "--json", "--cards", str(len(images))],
                          ready="listening on")
        check_prefix_ports(prefix, com5)
        k.check(program.process.poll() is None, "korvex-reader.exe ended: %s" % program.errors)
        station.write(k.CARD_IN)
        station.expect(k.DATA_REQUEST_1, 10)
        for n, image in enumerate(images):
            message = k.frame(image)
            if n == 1:
                station.write(message[:70])
                k.wait_for(lambda: False, 0.1)
                station.write(message[70:])
            else:
                station.write(message)
        out, code = program.finish(60)
        station.close()
    finally:
        pair.close()
    k.check(code == 0, "exit code %d; stderr: %s" % (code, program.errors))
    k.check(len(out) == len(images), "%d cards printed, %d sent:\n%s"
            % (len(out), len(images), "\n".join(out)))
    for n, line in enumerate(lines):
        got = json.loads(out[n])
        k.check(got == k.expected_card(line), "line %d: %s\nexpected %s"
                % (n + 1, got, k.expected_card(line)))


def backend_on_com5(wine_run, prefix, line_tests):
    """The Win32 backend's own tests on COM5; Wine's differences are reported as skips."""
    com5 = prefix + ".com5"
    directory = k.temp_dir("korvex-windows-line-")
    pair = Pair(com5, os.path.join(directory, "other"))
    try:
        check_prefix_ports(prefix, com5)
        run = subprocess.run([wine_run, line_tests], env=dict(os.environ, KORVEX_TEST_COM="COM5"),
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
    finally:
        pair.close()
    output = run.stdout.decode(errors="replace")
    print(output)
    k.check(run.returncode == 0, "the backend's tests on COM5 failed")
    k.check("PASSED" in output, "the backend's tests did not run")


def check_cards(out, lines, who):
    k.check(len(out) == len(lines), "%s: %d cards printed, %d in the punch file:\n%s"
            % (who, len(out), len(lines), "\n".join(out)))
    for n, line in enumerate(lines):
        got = json.loads(out[n])
        k.check(got == k.expected_card(line), "%s, line %d: %s\nexpected %s"
                % (who, n + 1, got, k.expected_card(line)))


def station_and_reader(prefix, examples, reader_args, station_args, who):
    """A reader and a station on the two ends of the pair, one of them a Windows program on
    COM5 (its arguments begin with WINE_RUN); every card of data.epl arrives decoded."""
    com5 = prefix + ".com5"
    directory = k.temp_dir("korvex-windows-pair-")
    other = os.path.join(directory, "linux")
    punch_file = os.path.join(examples, "data.epl")
    lines = k.read_punch_lines(punch_file)
    cards = str(len(lines))
    pair = Pair(com5, other)
    device = lambda windows: "COM5" if windows else other  # noqa: E731
    try:
        reader_windows = reader_args[0].endswith("wine-run.sh")
        reader = Program(reader_args + [device(reader_windows), "--json", "--cards", cards],
                         ready="listening on")
        check_prefix_ports(prefix, com5)
        station_windows = station_args[0].endswith("wine-run.sh")
        station = Program(station_args + [device(station_windows), "--punch-file", punch_file,
                                          "--repeat", "1", "--cards", cards], cwd=directory)
        out, code = reader.finish(120)
        station_out, station_code = station.finish(60)
    finally:
        pair.close()
    k.check(code == 0, "%s: reader exit code %d; stderr: %s" % (who, code, reader.errors))
    k.check(station_code == 0, "%s: station exit code %d; stderr: %s"
            % (who, station_code, station.errors))
    check_cards(out, lines, who)


def main():
    k.require(["socat"])
    wine_run, prefix, reader, line_tests, examples = sys.argv[1:6]
    backend_on_com5(wine_run, prefix, line_tests)
    reader_exe_against_scripted_station(wine_run, prefix, reader, examples)
    if len(sys.argv) > 8:
        station, linux_station, linux_reader = sys.argv[6:9]
        station_and_reader(prefix, examples, [wine_run, reader], [linux_station],
                           "korvex-reader.exe against korvex-station")
        station_and_reader(prefix, examples, [linux_reader], [wine_run, station],
                           "korvex-station.exe against korvex-reader")
    print("PASS")


if __name__ == "__main__":
    main()
