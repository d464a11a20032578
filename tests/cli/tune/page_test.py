"""The tune page in a real headless Chromium: it loads, a slider moved with
the mouse changes the picture, the eyedropper sets the key, and the command
line it shows writes exactly its last full-resolution picture."""

import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import browser
from tune_harness import Tune, png_difference, read_png

TOOL = os.environ["KESTRELUMEN_TOOL"]
SAMPLE = os.environ["KESTRELUMEN_SAMPLE"]
SCREENSHOT = os.environ.get("KESTRELUMEN_SCREENSHOT", "")


class TunePageTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="kestrelumen-page-")
        shutil.copy(SAMPLE, os.path.join(self.dir, "plate.png"))
        self.tune = Tune(TOOL, ["plate.png", "--key", "#178e2f", "--choke-opaque", "0.5", "--choke-transparent",
                                     "0.25", "--spill-size", "0.35"], cwd=self.dir)
        self.b = browser.Browser()

    def tearDown(self):
        self.b.close()
        self.tune.close()
        shutil.rmtree(self.dir, ignore_errors=True)

    def shown_seq(self):
        return self.b.js("return window.kestrelumen.shown ? window.kestrelumen.shown.seq : 0")

    def test_slider_eyedropper_and_command_line(self):
        from selenium.webdriver.common.action_chains import ActionChains
        from selenium.webdriver.common.by import By
        b, d = self.b, self.b.driver
        d.get(self.tune.url)
        b.wait("return window.kestrelumen && window.kestrelumen.lastFull", what="the first picture")
        b.idle()
        self.assertEqual(b.js("return window.kestrelumen.errors"), [])
        # The command-line value reached the page's field.
        self.assertEqual(d.find_element(By.ID, "n-spill-size").get_attribute("value"), "0.35")
        self.assertFalse(d.find_element(By.ID, "frame-row").is_displayed())  # one picture, no frames

        # A slider dragged with the mouse: previews while moving, then the
        # full frame on release.
        before = self.shown_seq()
        first = b.last_full_png()
        slider = d.find_element(By.ID, "p-spill-amount")
        ActionChains(d).move_to_element_with_offset(slider, -slider.size["width"] // 2 + 2, 0) \
            .click_and_hold().move_by_offset(30, 0).move_by_offset(30, 0).move_by_offset(30, 0) \
            .release().perform()
        b.idle()
        self.assertGreater(self.shown_seq(), before)
        self.assertGreater(float(d.find_element(By.ID, "n-spill-amount").get_attribute("value")), 0)
        self.assertNotEqual(hashlib.sha256(b.last_full_png()).hexdigest(), hashlib.sha256(first).hexdigest())
        self.assertTrue(b.js("return window.kestrelumen.shown.full"))

        # The eyedropper, then a click on the screen near the top-left corner.
        picture = d.find_element(By.ID, "picture")
        key_before = d.find_element(By.ID, "key-text").get_attribute("value")
        d.find_element(By.ID, "eyedropper").click()
        rect = picture.rect
        ActionChains(d).move_to_element_with_offset(picture, -rect["width"] // 2 + 15, -rect["height"] // 2 + 15) \
            .click().perform()
        b.wait("return document.getElementById('key-text').value !== %r" % key_before, what="the picked key")
        b.idle()
        key = d.find_element(By.ID, "key-text").get_attribute("value")
        r, g, bl = (int(key[i:i + 2], 16) for i in (1, 3, 5))
        self.assertGreater(g, max(r, bl), "the screen of the sample is green: " + key)

        # The pixel under the cursor is read out.
        ActionChains(d).move_to_element(picture).move_by_offset(3, 3).perform()
        b.wait("return document.querySelector('#readout-out td').textContent !== ''", what="the readout")

        # The command line shown, run as it is, writes the last full picture.
        command = d.find_element(By.ID, "command").text
        self.assertTrue(command.startswith("kestrelumen render plate.png -o plate-keyed.png --key '" + key + "'"),
                        command)
        run = subprocess.run(["bash", "-c", TOOL + command[len("kestrelumen"):]], cwd=self.dir,
                             capture_output=True, text=True)
        self.assertEqual(run.returncode, 0, run.stderr)
        with open(os.path.join(self.dir, "plate-keyed.png"), "rb") as f:
            self.assertIsNone(png_difference(read_png(b.last_full_png()), read_png(f.read())))

        if SCREENSHOT:
            os.makedirs(os.path.dirname(SCREENSHOT), exist_ok=True)
            ActionChains(d).move_to_element(picture).move_by_offset(-100, 40).perform()
            b.wait("return document.querySelector('#readout-out td').textContent !== ''", what="the readout")
            d.save_screenshot(SCREENSHOT)
            print("screenshot: " + SCREENSHOT)


if __name__ == "__main__":
    why = browser.missing()
    if why:
        print("SKIPPED: the page test needs a browser: " + why)
        sys.exit(browser.SKIP)
    unittest.main(verbosity=2)
