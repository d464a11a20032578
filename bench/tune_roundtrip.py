#!/usr/bin/python3
"""The tune page's drag round trip on a 1920x1080 frame, in headless
Chromium: from a slider's change to the new picture on screen, while
dragging (a preview the viewer's size) and on release (the full frame).
Baseline in the same run: one `kestrelumen render` of the frame to a file,
what each try cost before the page.

    bench/tune_roundtrip.py [--build-dir build/linux] [--steps 40]
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "cli", "tune"))
import browser  # noqa: E402
from tune_harness import Tune  # noqa: E402

KEY = ["--key", "#178e2f", "--spill-size", "0.35", "--choke-opaque", "0.3"]


def pct(values, p):
    v = sorted(values)
    return v[min(len(v) - 1, int(round(p / 100 * (len(v) - 1))))]


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build-dir", default=os.path.join(HERE, "..", "build", "linux"))
    ap.add_argument("--steps", type=int, default=40)
    a = ap.parse_args()
    tool = os.path.abspath(os.path.join(a.build_dir, "bin", "kestrelumen"))
    why = browser.missing()
    if why:
        sys.exit("tune_roundtrip: " + why)
    work = tempfile.mkdtemp(prefix="kestrelumen-bench-")
    try:
        plate = os.path.join(work, "plate.png")
        subprocess.run(["oiiotool", os.path.join(HERE, "..", "examples", "greenscreen-8bit.png"),
                        "--resize", "1920x1080", "-o", plate], check=True)

        runs = []
        for _ in range(5):
            t0 = time.perf_counter()
            subprocess.run([tool, "render", plate, "-o", os.path.join(work, "out.png"), "-q", *KEY], check=True)
            runs.append((time.perf_counter() - t0) * 1000)
        baseline = statistics.median(runs)

        tune = Tune(tool, [plate, *KEY], cwd=work)
        b = browser.Browser(1400, 900)
        try:
            b.driver.get(tune.url)
            b.wait("return window.kestrelumen && window.kestrelumen.lastFull", what="the first picture")
            b.idle()
            drag, full, size = [], [], None
            for i in range(a.steps):
                seq = b.js("return window.kestrelumen.shown.seq")
                b.js("const s = document.getElementById('p-spill-amount'); s.value = arguments[0];"
                     "s.dispatchEvent(new Event(arguments[1]));", str((i + 1) / a.steps),
                     "change" if i % 4 == 3 else "input")
                b.wait("return window.kestrelumen.shown.seq > %d && window.kestrelumen.idle()" % seq,
                       what="the picture")
                shown = b.js("return window.kestrelumen.shown")
                if shown["full"]:
                    full.append(shown["roundTripMs"])
                else:
                    drag.append(shown["roundTripMs"])
                    size = "%dx%d" % (shown["width"], shown["height"])
        finally:
            b.close()
            tune.close()

        print("1920x1080 8-bit frame, headless Chromium 1400x900, %d changes" % a.steps)
        print("%-46s %8s %8s" % ("", "median", "p90"))
        print("%-46s %6.1f ms %5.1f ms" % ("drag round trip (preview %s)" % size, statistics.median(drag), pct(drag, 90)))
        print("%-46s %6.1f ms %5.1f ms" % ("release round trip (full frame)", statistics.median(full), pct(full, 90)))
        print("%-46s %6.1f ms" % ("kestrelumen render of the frame (baseline)", baseline))
        print("baseline / drag round trip: %.1fx; drag goal <= 100 ms: %s" %
              (baseline / statistics.median(drag), "met" if statistics.median(drag) <= 100 else "NOT met"))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
