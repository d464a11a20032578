"""Starts `kestrelumen tune` as a user would and talks to it over HTTP; reads
PNG files exactly (pixel bytes and bit depth) without third-party modules."""

import http.client
import os
import re
import select
import signal
import socket
import struct
import subprocess
import time
import urllib.parse
import zlib

URL_LINE = re.compile(r"^open (http://127\.0\.0\.1:(\d+)/\?token=([0-9a-f]{32}))$")


class Tune:
    def __init__(self, tool, args, cwd=None, timeout=30):
        self.proc = subprocess.Popen([tool, "tune", *args, "--no-browser"], cwd=cwd,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        line = self._readline(timeout)
        m = URL_LINE.match(line)
        if not m:
            err = self.proc.stderr.read().decode(errors="replace") if self.proc.poll() is not None else ""
            self.proc.kill()
            raise RuntimeError("tune printed %r, not the address (%s)" % (line, err.strip()))
        self.url, self.port, self.token = m.group(1), int(m.group(2)), m.group(3)
        self.host = "127.0.0.1:%d" % self.port

    def _readline(self, timeout):
        end = time.monotonic() + timeout
        buf = b""
        while not buf.endswith(b"\n"):
            left = end - time.monotonic()
            if left <= 0 or not select.select([self.proc.stdout], [], [], left)[0]:
                break
            c = os.read(self.proc.stdout.fileno(), 1)
            if not c:
                break
            buf += c
        return buf.decode(errors="replace").strip()

    def request(self, method, path, params=None, token=True, headers=None, host=None):
        """(status, headers, body) of one request on a fresh connection."""
        query = dict(params or {})
        if token is True:
            query = {"token": self.token, **query}
        elif token is not None:
            query = {"token": token, **query}
        items = []
        for k, v in query.items():
            for one in (v if isinstance(v, list) else [v]):
                items.append((k, one))
        target = path + ("?" + urllib.parse.urlencode(items) if items else "")
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30)
        conn.putrequest(method, target, skip_host=True, skip_accept_encoding=True)
        conn.putheader("Host", self.host if host is None else host)
        for k, v in (headers or {}).items():
            conn.putheader(k, v)
        if method == "POST":
            conn.putheader("Content-Length", "0")
        conn.endheaders()
        res = conn.getresponse()
        body = res.read()
        conn.close()
        return res.status, dict(res.getheaders()), body

    def get(self, path, params=None, **kw):
        return self.request("GET", path, params, **kw)

    def raw(self, data, timeout=10):
        """The server's whole answer to bytes sent as they are."""
        with socket.create_connection(("127.0.0.1", self.port), timeout=timeout) as s:
            try:
                s.sendall(data)
            except (BrokenPipeError, ConnectionResetError):
                pass
            out = b""
            try:
                while True:
                    chunk = s.recv(65536)
                    if not chunk:
                        break
                    out += chunk
            except (ConnectionResetError, socket.timeout):
                pass
            return out

    def stop(self, sig=signal.SIGTERM, timeout=10):
        """(exit code, seconds it took) after `sig`."""
        start = time.monotonic()
        self.proc.send_signal(sig)
        try:
            code = self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            code = None
        return code, time.monotonic() - start

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.proc.stdout.close()
        self.proc.stderr.close()


def read_png(data):
    """(width, height, bit depth, channels, pixel bytes) of a non-interlaced PNG."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    pos, idat, ihdr = 8, b"", None
    while pos < len(data):
        n, kind = struct.unpack(">I4s", data[pos:pos + 8])
        chunk = data[pos + 8:pos + 8 + n]
        pos += 12 + n
        if kind == b"IHDR":
            ihdr = struct.unpack(">IIBBBBB", chunk)
        elif kind == b"IDAT":
            idat += chunk
        elif kind == b"IEND":
            break
    w, h, depth, ctype, _, _, interlace = ihdr
    assert interlace == 0, "interlaced PNG"
    channels = {0: 1, 2: 3, 4: 2, 6: 4}[ctype]
    bpp = max(1, channels * depth // 8)
    stride = w * channels * depth // 8
    raw = zlib.decompress(idat)
    out = bytearray(stride * h)
    prev = bytearray(stride)
    for y in range(h):
        f = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        if f == 1:
            for i in range(bpp, stride):
                line[i] = (line[i] + line[i - bpp]) & 255
        elif f == 2:
            for i in range(stride):
                line[i] = (line[i] + prev[i]) & 255
        elif f == 3:
            for i in range(stride):
                left = line[i - bpp] if i >= bpp else 0
                line[i] = (line[i] + ((left + prev[i]) >> 1)) & 255
        elif f == 4:
            for i in range(stride):
                a = line[i - bpp] if i >= bpp else 0
                b = prev[i]
                c = prev[i - bpp] if i >= bpp else 0
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pr = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                line[i] = (line[i] + pr) & 255
        out[y * stride:(y + 1) * stride] = line
        prev = line
    return w, h, depth, channels, bytes(out)


def write_png(path, w, h, rgba):
    """An 8-bit RGBA PNG of `rgba` (bytes, rows top to bottom)."""
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    rows = b"".join(b"\0" + rgba[y * w * 4:(y + 1) * w * 4] for y in range(h))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def png_difference(a, b):
    """None when two read_png results are the same picture, else where they
    first differ (a message short enough to read)."""
    if a[:4] != b[:4]:
        return "%dx%d %d-bit %d channels vs %dx%d %d-bit %d channels" % (a[:4] + b[:4])
    if a[4] == b[4]:
        return None
    w, _, depth, ch, pa = a
    pb = b[4]
    i = next(i for i in range(len(pa)) if pa[i] != pb[i])
    size = ch * depth // 8
    px = i // size
    diff = sum(1 for j in range(0, len(pa), size) if pa[j:j + size] != pb[j:j + size])
    return "%d pixels differ, the first at x %d y %d: %s vs %s" % (
        diff, px % w, px // w, pa[px * size:(px + 1) * size].hex(), pb[px * size:(px + 1) * size].hex())
