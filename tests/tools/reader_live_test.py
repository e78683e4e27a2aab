"""korvex-reader against a station played by this script across a socat pair.

usage: reader_live_test.py KORVEX_READER EXAMPLES_DIR"""
import json
import os
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import korvex_e2e as k  # noqa: E402


class Reader:
    def __init__(self, program, device, *options):
        self.process = subprocess.Popen([program, device] + list(options),
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.errors = []
        self.thread = threading.Thread(target=self._collect, daemon=True)
        self.thread.start()
        if not k.wait_for(lambda: any("listening on" in e for e in self.errors)
                          or self.process.poll() is not None, 10):
            self.stop()
            k.fail("korvex-reader did not start listening")
        k.check(self.process.poll() is None, "korvex-reader ended: %s" % self.errors)

    def _collect(self):
        for line in self.process.stderr:
            self.errors.append(line.decode(errors="replace").rstrip("\n"))

    def finish(self, timeout=15):
        """Output lines and exit code once the reader ends by itself."""
        try:
            self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.stop()
            k.fail("korvex-reader did not end by itself; stderr: %s" % self.errors)
        self.thread.join(5)
        return self.process.stdout.read().decode().splitlines(), self.process.returncode

    def stop(self):
        k.stop_process(self.process)


def special_images():
    """Images whose frames stress the framing: every byte escaped, raw checksums that look
    like control bytes, a DLE inside the image."""
    images = [bytes(128)]  # all zero: 128 escapes, checksum 01
    for wanted in (0x03, 0x02, 0x10, 0x00):
        image = bytearray(k.template_image())
        image[127] = (wanted - 1 - sum(image)) % 256
        images.append(bytes(image))
    for image in images[1:]:
        assert k.frame(image)[-2] in (0x03, 0x02, 0x10, 0x00)
    return images


def cards_and_corrupt_frame(program, examples):
    """Every card of data.epl and the framing edge images arrive decoded; a frame with a
    bad checksum is reported and skipped; frames may arrive in pieces."""
    lines = k.read_punch_lines(os.path.join(examples, "data.epl"))
    images = [k.image_from_line(line) for line in lines] + special_images()
    directory = k.temp_dir("korvex-reader-live-")
    pair = k.SocatPair(directory)
    try:
        station = k.Peer(pair.a)  # opened first: opening drops waiting input
        reader = Reader(program, pair.b, "--json", "--cards", str(len(images)))
        station.write(k.CARD_IN)
        station.expect(k.DATA_REQUEST_1, 5)
        for n, image in enumerate(images):
            message = k.frame(image)
            if n == 2:
                bad = bytearray(k.frame(images[0]))
                bad[-2] ^= 0x55
                station.write(bytes(bad))
            if n % 3 == 1:
                # split inside the escaped image, as a slow line would deliver it
                station.write(message[:70])
                time.sleep(0.1)
                station.write(message[70:])
            else:
                station.write(message)
        out, code = reader.finish()
        station.close()
    finally:
        pair.close()
    k.check(code == 0, "exit code %d; stderr: %s" % (code, reader.errors))
    k.check(len(out) == len(images), "%d cards printed, %d sent:\n%s"
            % (len(out), len(images), "\n".join(out)))
    for n, (line, image) in enumerate(zip(out, images)):
        got = json.loads(line)
        k.check(got == k.decode_image(image), "card %d: %s\nexpected %s"
                % (n, got, k.decode_image(image)))
    for n, line in enumerate(lines):
        got = json.loads(out[n])
        k.check(got == k.expected_card(line), "line %d: %s\nexpected %s"
                % (n + 1, got, k.expected_card(line)))
    k.check(any("corrupt frame" in e and "checksum" in e for e in reader.errors),
            "the corrupt frame was not reported: %s" % reader.errors)
    k.check(any("1 corrupt frame(s)" in e for e in reader.errors),
            "summary does not count one corrupt frame: %s" % reader.errors)


def form_and_version(program, examples, form, ask_version):
    """The data request form follows --form; --ask-version asks once the port is open."""
    directory = k.temp_dir("korvex-reader-live-")
    pair = k.SocatPair(directory)
    options = ["--json", "--cards", "1", "--form", str(form)]
    if ask_version:
        options.append("--ask-version")
    try:
        station = k.Peer(pair.a)  # opened first: opening drops waiting input
        reader = Reader(program, pair.b, *options)
        if ask_version:
            station.expect(k.VERSION_REQUEST, 5)
            station.write(k.VERSION_REPLY)
        station.write(k.CARD_IN)
        request = k.DATA_REQUEST_2 if form == 2 else k.DATA_REQUEST_1
        before = station.expect(request, 5)
        k.check(before == b"", "unexpected bytes before the data request: " + before.hex(" "))
        station.write(k.frame(k.template_image()))
        out, code = reader.finish()
        station.close()
    finally:
        pair.close()
    k.check(code == 0, "exit code %d; stderr: %s" % (code, reader.errors))
    if ask_version:
        k.check(out and json.loads(out[0]) == {"version_reply": "02 71 10 0C 53 03"},
                "version reply: %s" % out)
        out = out[1:]
    k.check(len(out) == 1 and json.loads(out[0]) == k.decode_image(k.template_image()),
            "template card: %s" % out)
    k.check(json.loads(out[0])["card"] == 4101 and json.loads(out[0])["series"] == 1,
            "template is card 4101 of series 1: %s" % out)



def main():
    k.require(["socat"])
    program, examples = sys.argv[1], sys.argv[2]
    cards_and_corrupt_frame(program, examples)
    form_and_version(program, examples, 1, False)
    form_and_version(program, examples, 2, True)
    print("PASS")


if __name__ == "__main__":
    main()
