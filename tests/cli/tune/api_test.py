"""The tune server's API end to end, through HTTP as a script or the page
uses it: the checks that guard it, bad values, the render equal to the
tool's, pick, pixel readout, settings, and stopping."""

import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import unittest

from tune_harness import Tune, png_difference, read_png, write_png

TOOL = os.environ["KESTRELUMEN_TOOL"]
W, H = 40, 30
GREEN = (23, 142, 47)


def plate():
    """A green screen with a grey square, a half-transparent strip and
    transparent pixels that keep their colour."""
    px = bytearray()
    for y in range(H):
        for x in range(W):
            if 10 <= x < 20 and 8 <= y < 18:
                px += bytes((128, 120, 110, 255))
            elif y >= 25:
                px += bytes((200, 90, 40, 128))
            elif x >= 36:
                px += bytes((200, 100, 50, 0))
            else:
                px += bytes((GREEN[0], GREEN[1] + (x * 7 + y * 3) % 5, GREEN[2], 255))
    return bytes(px)


def run(*args, cwd=None):
    return subprocess.run([TOOL, *args], cwd=cwd, capture_output=True, text=True)


class TuneApiTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="kestrelumen-tune-")
        d = cls.dir
        write_png(os.path.join(d, "plate.png"), W, H, plate())
        # The same plate at 16 bits and as float, made by the tool itself.
        for depth, name in (("16", "plate16.png"), ("32", "plate32.exr")):
            r = run("render", "plate.png", "-o", name, "--depth", depth, "--view", "source", "-q", cwd=d)
            assert r.returncode == 0, r.stderr
        # A two-frame sequence whose frames differ.
        shutil.copy(os.path.join(d, "plate.png"), os.path.join(d, "shot.0001.png"))
        write_png(os.path.join(d, "shot.0002.png"), W, H, bytes(reversed(plate())))
        cls.settings = os.path.join(d, "saved.json")
        cls.tune = Tune(TOOL, ["plate.png", "--settings", "saved.json", "--spill-amount", "0.5"], cwd=d)
        cls.initial = json.loads(cls.tune.get("/api/settings")[2])

    @classmethod
    def tearDownClass(cls):
        cls.tune.close()
        shutil.rmtree(cls.dir, ignore_errors=True)

    def tool_png(self, inp, flags):
        out = os.path.join(self.dir, "tool-out.png")
        r = run("render", inp, "-o", out, "-q", *flags, cwd=self.dir)
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(out, "rb") as f:
            return read_png(f.read())

    # ---- the guard ------------------------------------------------------
    def test_requests_without_the_token_or_from_elsewhere_are_refused(self):
        t = self.tune
        wrong = "0" * 32 if t.token != "0" * 32 else "1" * 32
        cases = [
            ("no token", dict(token=None), 403),
            ("wrong token", dict(token=wrong), 403),
            ("token prefix", dict(token=t.token[:16]), 403),
            ("a wrong token beside the right one", dict(token=None, params={"token": [t.token, wrong]}), 403),
            ("token with more", dict(token=t.token + "0"), 403),
            ("another host name (DNS rebinding)", dict(host="evil.example:%d" % t.port), 403),
            ("another port", dict(host="127.0.0.1:%d" % (t.port + 1 if t.port < 65535 else 1)), 403),
            ("cross-origin fetch", dict(headers={"Origin": "http://evil.example"}), 403),
            ("cross-site navigation", dict(headers={"Sec-Fetch-Site": "cross-site"}), 403),
            ("localhost", dict(host="localhost:%d" % t.port), 200),
            ("same origin", dict(headers={"Origin": "http://127.0.0.1:%d" % t.port}), 200),
        ]
        for path in ("/", "/api/settings", "/api/render", "/tune.js"):
            for name, kw, want in cases:
                with self.subTest(path=path, case=name):
                    status, headers, body = t.get(path, **kw)
                    self.assertEqual(status, want, body[:200])
                    self.assertNotIn("Access-Control-Allow-Origin", headers)
                    if want == 403:
                        self.assertNotIn(b"\n", body.rstrip(b"\n"))
        status, headers, _ = t.request("OPTIONS", "/api/render",
                                       headers={"Origin": "http://evil.example",
                                                "Access-Control-Request-Method": "GET"})
        self.assertGreaterEqual(status, 400)
        self.assertNotIn("Access-Control-Allow-Origin", headers)

    # ---- bad values -----------------------------------------------------
    def test_bad_values_get_400_with_one_line_naming_the_key(self):
        cases = [
            ("/api/render", {"choke-opaque": "nan"}, "choke-opaque"),
            ("/api/render", {"choke-opaque": "NaN"}, "choke-opaque"),
            ("/api/render", {"spill-amount": "inf"}, "spill-amount"),
            ("/api/render", {"spill-amount": "-0.1"}, "spill-amount"),
            ("/api/render", {"spill-size": "1.0000001"}, "spill-size"),
            ("/api/render", {"choke-transparent": "1e999"}, "choke-transparent"),
            ("/api/render", {"choke-transparent": "1" * 400}, "choke-transparent"),
            ("/api/render", {"choke-transparent": "0.5x"}, "choke-transparent"),
            ("/api/render", {"choke-transparent": ""}, "choke-transparent"),
            ("/api/render", {"spill-size": ["0.5", "0.6"]}, "spill-size"),
            ("/api/render", {"key": "#12345g"}, "key"),
            ("/api/render", {"key": "0.1,0.2"}, "key"),
            ("/api/render", {"key": "2,0,0"}, "key"),
            ("/api/render", {"view": "matte"}, "view"),
            ("/api/render", {"scale": "0"}, "scale"),
            ("/api/render", {"scale": "1.5"}, "scale"),
            ("/api/render", {"scale": "nan"}, "scale"),
            ("/api/render", {"frame": "7"}, "frame"),
            ("/api/render", {"frame": "-1"}, "frame"),
            ("/api/render", {"frame": "99999999999999999999"}, "frame"),
            ("/api/render", {"over": "/etc/passwd"}, "over"),
            ("/api/render", {"over": "plate.png"}, "over"),
            ("/api/render", {"output": "x.png"}, "output"),
            ("/api/pick", {"x": "3"}, "x and y"),
            ("/api/pick", {"x": "-1", "y": "0"}, "x"),
            ("/api/pick", {"x": str(W), "y": "0"}, "x"),
            ("/api/pick", {"x": "0", "y": str(H)}, "y"),
            ("/api/pick", {"x": "0", "y": "0", "r": "65"}, "r"),
            ("/api/pixel", {"x": "1.5", "y": "0"}, "x"),
            ("/api/settings", {"view": "final"}, "view"),
            ("/", {"x": "1"}, "x"),
        ]
        for path, params, key in cases:
            with self.subTest(path=path, params=params):
                status, _, body = self.tune.get(path, params)
                self.assertEqual(status, 400, body[:200])
                text = body.decode()
                self.assertTrue(text.endswith("\n") and "\n" not in text[:-1], text)
                self.assertIn(key, text.split(":")[0] if key != "x and y" else text)
        # Still serving after all of them.
        self.assertEqual(self.tune.get("/api/settings")[0], 200)

    def test_only_the_page_is_served_never_a_file(self):
        paths = [
            b"/../../../../etc/passwd", b"/%2e%2e/%2e%2e/%2e%2e/etc/passwd", b"/api/../../etc/passwd",
            b"/tune.js/../../../etc/passwd", b"/api/render/../../plate.png", b"//etc/passwd",
            b"/plate.png", b"/index.html/..%2f..%2fetc%2fpasswd", b"/%00/etc/passwd",
        ]
        for p in paths:
            with self.subTest(path=p):
                req = b"GET " + p + b"?token=" + self.tune.token.encode() + b" HTTP/1.1\r\nHost: " + \
                    self.tune.host.encode() + b"\r\nConnection: close\r\n\r\n"
                answer = self.tune.raw(req)
                status = int(answer.split(b" ", 2)[1])
                self.assertIn(status, (400, 404), answer[:200])
                self.assertNotIn(b"root:", answer)
                self.assertNotIn(b"\x89PNG", answer)

    def test_oversized_requests_are_refused_and_the_server_lives_on(self):
        t = self.tune
        base = b"GET /api/settings?token=" + t.token.encode()
        host = b"Host: " + t.host.encode() + b"\r\n"
        cases = [
            ("long query", base + b"&" + b"a" * 20000 + b" HTTP/1.1\r\n" + host + b"\r\n"),
            ("query over its bound", base + b"&key=" + b"%23" * 900 + b" HTTP/1.1\r\n" + host + b"\r\n"),
            ("long header", base + b" HTTP/1.1\r\n" + host + b"X-Big: " + b"b" * 20000 + b"\r\n\r\n"),
            ("many headers", base + b" HTTP/1.1\r\n" + host + b"".join(b"X-%d: 1\r\n" % i for i in range(200)) + b"\r\n"),
            ("large body", b"POST /api/settings?token=" + t.token.encode() + b" HTTP/1.1\r\n" + host +
             b"Content-Length: 1000000\r\n\r\n" + b"x" * 1000000),
        ]
        for name, req in cases:
            with self.subTest(case=name):
                answer = t.raw(req)
                if answer:  # closing the connection is a refusal too
                    status = int(answer.split(b" ", 2)[1])
                    self.assertGreaterEqual(status, 400, answer[:200])
                    self.assertLess(status, 500, answer[:200])
                self.assertEqual(t.get("/api/settings")[0], 200)

    # ---- what it serves -------------------------------------------------
    def test_render_is_the_tools_render_pixel_for_pixel(self):
        cases = [
            ("plate.png", {"key": "#178e2f", "spill-amount": "1", "spill-size": "0.35",
                           "choke-opaque": "0.5", "choke-transparent": "0.25"}),
            ("plate.png", {}),
            ("plate.png", {"key": "green", "view": "alpha", "choke-opaque": "0.3"}),
            ("plate.png", {"key": "0.1,0.55,0.2", "view": "spill", "spill-amount": "0.7"}),
            ("plate.png", {"key": "#178e2f", "view": "source"}),
            ("plate16.png", {"key": "#178e2f", "spill-amount": "0.8", "choke-transparent": "0.1"}),
            ("plate32.exr", {"key": "#178e2f", "spill-amount": "0.8", "view": "final"}),
            ("plate.png --depth 16", {"key": "#178e2f", "spill-amount": "0.8"}),
        ]
        servers = {}
        try:
            for inp, params in cases:
                with self.subTest(input=inp, params=params):
                    args = inp.split()
                    if inp not in servers:
                        servers[inp] = Tune(TOOL, args, cwd=self.dir)
                        # What the page puts on the command line it shows.
                        depth = json.loads(servers[inp].get("/api/info")[2])["depthFlag"]
                        self.assertEqual(depth, args[2] if len(args) > 1 else "")
                    status, headers, body = servers[inp].get("/api/render", params)
                    self.assertEqual(status, 200, body[:200])
                    self.assertEqual(headers["Content-Type"], "image/png")
                    flags = args[1:] + [a for k, v in params.items() for a in ("--" + k, v)]
                    self.assertIsNone(png_difference(read_png(body), self.tool_png(args[0], flags)))
        finally:
            for s in servers.values():
                s.close()

    def test_frames_of_a_sequence_and_a_scaled_preview(self):
        seq = Tune(TOOL, ["shot.####.png"], cwd=self.dir)
        try:
            info = json.loads(seq.get("/api/info")[2])
            self.assertEqual(info["frames"], [1, 2])
            self.assertTrue(info["sequence"])
            flags = {"key": "#178e2f", "spill-amount": "1"}
            for frame in (2, 1):
                with self.subTest(frame=frame):
                    status, _, body = seq.get("/api/render", {**flags, "frame": str(frame)})
                    self.assertEqual(status, 200, body[:200])
                    want = self.tool_png("shot.%04d.png" % frame, ["--key", "#178e2f", "--spill-amount", "1"])
                    self.assertIsNone(png_difference(read_png(body), want))
            status, _, body = seq.get("/api/render", {**flags, "scale": "0.5"})
            self.assertEqual(status, 200)
            self.assertEqual(read_png(body)[:2], (W // 2, H // 2))
        finally:
            seq.close()

    def test_pick_auto_and_pixel_readout(self):
        t = self.tune
        status, _, body = t.get("/api/pick", {"x": "3", "y": "3", "r": "2"})
        self.assertEqual(status, 200, body)
        got = json.loads(body)
        # The screen varies by 0..4 in green; the median lies inside that.
        self.assertRegex(got["key"], r"^#[0-9a-f]{6}$")
        r, g, b = (int(got["key"][i:i + 2], 16) for i in (1, 3, 5))
        self.assertEqual((r, b), (GREEN[0], GREEN[2]))
        self.assertTrue(GREEN[1] <= g <= GREEN[1] + 4, got)
        self.assertEqual([round(float(v) * 255) for v in got["rgb"].split(",")], [r, g, b])
        # A key measured on the command line is where the page starts.
        measured = Tune(TOOL, ["plate.png", "--key-at", "3,3,2"], cwd=self.dir)
        try:
            self.assertEqual(json.loads(measured.get("/api/settings")[2])["key"], got["key"])
        finally:
            measured.close()
        # The grey square alone, whatever the radius reaches.
        self.assertEqual(json.loads(t.get("/api/pick", {"x": "15", "y": "12", "r": "3"})[2])["key"], "#80786e")

        status, _, body = t.get("/api/auto")
        self.assertEqual(status, 200, body)
        auto = json.loads(body)["key"]
        self.assertLess(abs(int(auto[3:5], 16) - GREEN[1]), 8, auto)

        flags = {"key": "#178e2f", "spill-amount": "1", "choke-opaque": "0.4"}
        _, _, _, _, out = self.tool_png("plate.png", [a for k, v in flags.items() for a in ("--" + k, v)])
        for x, y in ((0, 0), (12, 10), (5, 27), (38, 2)):
            with self.subTest(x=x, y=y):
                status, _, body = t.get("/api/pixel", {**flags, "x": str(x), "y": str(y)})
                self.assertEqual(status, 200, body)
                px = json.loads(body)
                at = (y * W + x) * 4
                self.assertEqual(px["input"], list(plate()[at:at + 4]))
                self.assertEqual(px["output"], list(out[at:at + 4]))

    def test_settings_round_trip_through_the_file_and_render(self):
        t = self.tune
        # The command line's controls are where the page starts.
        self.assertEqual(self.initial["spill-amount"], 0.5)
        controls = {"key": "#1a9030", "choke-transparent": "0.125", "choke-opaque": "0.3",
                    "spill-amount": "0.75", "spill-size": "0.4", "view": "alpha"}
        before = set(os.listdir(self.dir))
        status, _, body = t.request("POST", "/api/settings", controls)
        self.assertEqual(status, 200, body)
        self.assertEqual(json.loads(body)["saved"], "saved.json")
        self.assertEqual(set(os.listdir(self.dir)) - before, {"saved.json"} - before)
        with open(self.settings) as f:
            saved = json.load(f)
        self.assertEqual(saved, {k: (v if k in ("key", "view") else float(v)) for k, v in controls.items()})
        self.assertEqual(json.loads(t.get("/api/settings")[2]), saved)
        # A render with the file is a render with the flags; a flag given wins.
        flags = [a for k, v in controls.items() for a in ("--" + k, v)]
        self.assertIsNone(png_difference(self.tool_png("plate.png", ["--settings", self.settings]),
                                         self.tool_png("plate.png", flags)))
        self.assertIsNone(png_difference(
            self.tool_png("plate.png", ["--settings", self.settings, "--view", "final"]),
            self.tool_png("plate.png", flags[:-1] + ["final"])))
        # A render request makes its settings the current ones.
        t.get("/api/render", {"key": "#000000", "scale": "0.1"})
        self.assertEqual(json.loads(t.get("/api/settings")[2])["key"], "#000000")

    def test_bad_settings_files_name_the_file_and_the_key(self):
        cases = [
            ("not json", "{", "is not JSON"),
            ("not an object", "[1]", "not a JSON object"),
            ("unknown key", '{"spill": 1}', '"spill"'),
            ("out of range", '{"spill-size": 2}', '"spill-size"'),
            ("wrong type", '{"choke-opaque": "0.5"}', '"choke-opaque"'),
            ("bad colour", '{"key": "#12"}', '"key"'),
        ]
        for name, text, reason in cases:
            with self.subTest(case=name):
                path = os.path.join(self.dir, "bad.json")
                with open(path, "w") as f:
                    f.write(text)
                r = run("render", "plate.png", "-o", "x.png", "--settings", path, cwd=self.dir)
                self.assertEqual(r.returncode, 2)
                self.assertIn("bad.json", r.stderr)
                self.assertIn(reason, r.stderr)
                self.assertFalse(os.path.exists(os.path.join(self.dir, "x.png")))

    def test_saving_without_a_settings_file_is_refused_and_writes_nothing(self):
        other = Tune(TOOL, ["plate.png"], cwd=self.dir)
        try:
            before = sorted(os.listdir(self.dir))
            status, _, body = other.request("POST", "/api/settings", {"view": "alpha"})
            self.assertEqual(status, 409, body)
            self.assertIn(b"--settings", body)
            self.assertEqual(sorted(os.listdir(self.dir)), before)
        finally:
            other.close()

    def test_renders_of_one_client_supersede_each_other(self):
        results = []

        def one(i):
            results.append(self.tune.get("/api/render", {"client": "c", "choke-opaque": str(i / 10)})[0])

        threads = [threading.Thread(target=one, args=(i,)) for i in range(8)]
        for th in threads:
            th.start()
        for th in threads:
            th.join()
        self.assertTrue(set(results) <= {200, 409}, results)
        self.assertIn(200, results)

    # ---- starting and stopping ------------------------------------------
    def test_stops_at_once_on_sigint_and_sigterm_even_with_a_connection_open(self):
        for sig in (signal.SIGINT, signal.SIGTERM):
            with self.subTest(signal=sig):
                t = Tune(TOOL, ["plate.png"], cwd=self.dir)
                idle = socket.create_connection(("127.0.0.1", t.port))
                idle.sendall(b"GET /api/settings?token=" + t.token.encode() + b" HTTP/1.1\r\nHost: " +
                             t.host.encode() + b"\r\n\r\n")
                idle.recv(4096)  # kept alive
                code, seconds = t.stop(sig)
                idle.close()
                t.close()
                self.assertEqual(code, 0)
                self.assertLess(seconds, 3.0)

    def test_bad_starts_exit_2_or_4_with_one_line(self):
        busy = socket.socket()
        busy.bind(("127.0.0.1", 0))
        busy.listen(1)
        cases = [
            (["missing.png"], 2, "missing.png"),
            (["plate.png", "--port", "70000"], 2, "--port"),
            (["plate.png", "--port", str(busy.getsockname()[1])], 4, "--port"),
            (["plate.png", "--spill-size", "nan"], 2, "--spill-size"),
            (["plate.png", "--settings", "bad-start.json"], 2, "bad-start.json"),
        ]
        with open(os.path.join(self.dir, "bad-start.json"), "w") as f:
            f.write('{"view": "sideways"}')
        for args, code, name in cases:
            with self.subTest(args=args):
                r = subprocess.run([TOOL, "tune", *args, "--no-browser"], cwd=self.dir,
                                   capture_output=True, text=True, timeout=30)
                self.assertEqual(r.returncode, code, r.stderr)
                self.assertIn(name, r.stderr)
                self.assertEqual(len(r.stderr.strip().splitlines()), 1, r.stderr)
        busy.close()


if __name__ == "__main__":
    unittest.main(verbosity=2)
