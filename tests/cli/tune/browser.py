"""Debian's headless Chromium through chromedriver, as the page tests and
the benchmark drive it."""

import os
import shutil
import tempfile

CHROMIUM = shutil.which("chromium")
CHROMEDRIVER = shutil.which("chromedriver") or "/usr/bin/chromedriver"
SKIP = 77  # what ctest is told means "skipped"


def missing():
    """Why the browser cannot run here, or None."""
    if not CHROMIUM:
        return "chromium is not installed (apt-get install chromium chromium-driver)"
    if not os.path.exists(CHROMEDRIVER):
        return "chromedriver is not installed (apt-get install chromium-driver)"
    try:
        import selenium  # noqa: F401
    except ImportError:
        return "python3-selenium is not installed"
    return None


class Browser:
    def __init__(self, width=1400, height=900):
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
        self.profile = tempfile.mkdtemp(prefix="kestrelumen-chromium-")
        o = webdriver.ChromeOptions()
        o.binary_location = CHROMIUM
        for a in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                  "--disable-background-networking", "--disable-component-update", "--disable-sync",
                  "--disable-dev-shm-usage", "--user-data-dir=" + self.profile,
                  "--window-size=%d,%d" % (width, height), "--force-device-scale-factor=1"):
            o.add_argument(a)
        self.driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=o)
        self.driver.set_script_timeout(60)

    def close(self):
        try:
            self.driver.quit()
        finally:
            shutil.rmtree(self.profile, ignore_errors=True)

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def wait(self, script, timeout=30, what="the page"):
        from selenium.webdriver.support.ui import WebDriverWait
        WebDriverWait(self.driver, timeout, poll_frequency=0.02).until(
            lambda d: d.execute_script(script), "timed out waiting for " + what)

    def idle(self, timeout=30):
        """Until every change has its picture on screen."""
        self.wait("return window.kestrelumen && window.kestrelumen.ready && window.kestrelumen.idle()",
                  timeout, "the renders to finish")

    def last_full_png(self):
        import base64
        b64 = self.driver.execute_async_script("""
            const done = arguments[arguments.length - 1];
            window.kestrelumen.lastFull.blob.arrayBuffer().then((b) => {
              const u = new Uint8Array(b); let s = '';
              for (let i = 0; i < u.length; i += 0x8000) s += String.fromCharCode.apply(null, u.subarray(i, i + 0x8000));
              done(btoa(s));
            });""")
        return base64.b64decode(b64)
