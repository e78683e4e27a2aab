"""Takes the README's screenshot: the real korvex-simulator under a private Xvfb on one end
of a socat pair, korvex-reader on the other, port opened and "Repeat" ticked via xdotool,
captured once a few cards have flowed.

usage: screenshot.py BIN_DIR EXAMPLES_DIR OUTPUT.png [CARDS]"""
import os
import shutil
import subprocess
import sys
import time

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(root, "tests", "e2e"))
import korvex_e2e as k  # noqa: E402


def take(bin_dir, examples, output, cards):
    # A short folder, so the device path fits the window's device box.
    directory = "/tmp/kx%d" % os.getpid()
    os.makedirs(directory)
    display = k.Xvfb()
    pair = k.SocatPair(directory)
    sim = reader = None
    try:
        reader_out = os.path.join(directory, "reader.txt")
        with open(reader_out, "wb") as out:
            reader = subprocess.Popen([os.path.join(bin_dir, "korvex-reader"), pair.b],
                                      stdout=out, stderr=subprocess.DEVNULL)
        sim = k.Simulator(os.path.join(bin_dir, "korvex-simulator"), display.display,
                          os.path.join(examples, "data.epl"), os.path.join(directory, "sim"))
        sim.open_port(pair.a)
        sim.tick_repeat()

        def printed():
            with open(reader_out, "rb") as text:
                return sum(line.startswith(b"card ") for line in text)

        k.check(k.wait_for(lambda: printed() >= cards, 10 + 6 * cards, 0.5),
                "korvex-reader printed %d cards, %d wanted" % (printed(), cards))
        time.sleep(0.5)  # the window shows the last exchange
        sim.xdotool("windowraise", sim.window)
        subprocess.run(["import", "-display", display.display, "-window", sim.window, output],
                       check=True)
        print("%s: %d cards flowed" % (output, printed()))
        sim.close_window()
    finally:
        if sim:
            sim.kill()
        if reader:
            k.stop_process(reader)
        pair.close()
        display.close()
        shutil.rmtree(directory, ignore_errors=True)


def main():
    bin_dir, examples, output = (os.path.abspath(a) for a in sys.argv[1:4])
    cards = int(sys.argv[4]) if len(sys.argv) > 4 else 3
    k.require(["Xvfb", "xdotool", "socat", "import"], need_serial=False)
    # A display number taken by another server at the same moment ends the program at its
    # start; a second attempt picks another number.
    for attempt in range(3):
        try:
            take(bin_dir, examples, output, cards)
            return
        except SystemExit:
            if attempt == 2:
                raise
            print("retrying the screenshot", file=sys.stderr)


if __name__ == "__main__":
    main()
