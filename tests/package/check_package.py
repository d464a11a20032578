#!/usr/bin/python3
"""Checks a package CPack made against the build it came from.

  check_package.py zip PACKAGE.zip TESTED.aex
  check_package.py tarball PACKAGE.tar.gz LINUX_BUILD_DIR

Both: one top folder named as the package, exactly the expected files,
SHA256SUMS matching every other file, the install note naming the version.
zip: the .aex byte-identical to TESTED.aex (the one the checks ran on).
tarball: the tool, the plug-in and its registration resource byte-identical
to the build's; the packaged tool, unpacked elsewhere, reports the
package's version and loads the packaged plug-in.

Exit status: 0 all checks pass, 1 a check failed, 2 bad usage or unreadable file.
"""

import hashlib
import os
import re
import subprocess
import sys
import tarfile
import tempfile
import zipfile

EXPECTED = {
    "zip": {"Kestrelumen.aex", "INSTALL.txt", "SHA256SUMS"},
    "tarball": {"bin/kestrelumen", "plugin/Kestrelumen.so", "plugin/Kestrelumen.pipl",
                "share/doc/kestrelumen/kestrelumen.txt", "INSTALL.txt", "SHA256SUMS"},
}
NAME = re.compile(r"^Kestrelumen-(\d+\.\d+\.\d+)-(win64|linux-x86_64)$")


def read_members(kind, path):
    """{path inside the archive: bytes} for every regular file."""
    members = {}
    if kind == "zip":
        with zipfile.ZipFile(path) as z:
            for info in z.infolist():
                if not info.is_dir():
                    members[info.filename] = z.read(info)
    else:
        with tarfile.open(path) as t:
            for info in t.getmembers():
                if info.isfile():
                    members[info.name] = t.extractfile(info).read()
    return members


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def same_file(data, path):
    with open(path, "rb") as f:
        return f.read() == data


def main(argv):
    if len(argv) != 4 or argv[1] not in EXPECTED:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    kind, package, reference = argv[1], argv[2], argv[3]
    base = os.path.basename(package)
    base = base[:-len(".tar.gz")] if base.endswith(".tar.gz") else os.path.splitext(base)[0]
    match = NAME.match(base)
    if not match:
        print(f"check_package: {package}: not named Kestrelumen-<version>-<system>", file=sys.stderr)
        return 2
    version = match.group(1)
    try:
        members = read_members(kind, package)
    except (OSError, zipfile.BadZipFile, tarfile.TarError) as e:
        print(f"check_package: cannot read {package}: {e}", file=sys.stderr)
        return 2

    failures = []
    files = {}
    for name, data in members.items():
        if not name.startswith(base + "/"):
            failures.append(f"{name}: outside the top folder {base}/")
            continue
        files[name[len(base) + 1:]] = data
    print(f"package: {package} ({len(files)} files)")
    for name in sorted(files):
        print(f"  {name}  {len(files[name])} bytes")
    if set(files) != EXPECTED[kind]:
        missing = sorted(EXPECTED[kind] - set(files))
        extra = sorted(set(files) - EXPECTED[kind])
        failures.append(f"file list: missing {missing}, unexpected {extra}")

    sums = {}
    for line in files.get("SHA256SUMS", b"").decode("ascii", "replace").splitlines():
        parts = line.split("  ", 1)
        if len(parts) != 2 or not re.fullmatch(r"[0-9a-f]{64}", parts[0]):
            failures.append(f"SHA256SUMS: malformed line {line!r}")
            continue
        sums[parts[1]] = parts[0]
    if set(sums) != set(files) - {"SHA256SUMS"}:
        failures.append(f"SHA256SUMS lists {sorted(sums)}, not every other file")
    for name, digest in sorted(sums.items()):
        if name in files and sha256(files[name]) != digest:
            failures.append(f"SHA256SUMS: {name} does not match")

    if f"Kestrelumen {version}".encode() not in files.get("INSTALL.txt", b""):
        failures.append(f"INSTALL.txt does not name version {version}")

    if kind == "zip":
        if not same_file(files.get("Kestrelumen.aex", b""), reference):
            failures.append(f"Kestrelumen.aex differs from the tested {reference}")
    else:
        built = {"bin/kestrelumen": "bin/kestrelumen",
                 "plugin/Kestrelumen.so": "plugin/Kestrelumen.so",
                 "plugin/Kestrelumen.pipl": "plugin/Kestrelumen.pipl"}
        for name, rel in built.items():
            if not same_file(files.get(name, b""), os.path.join(reference, rel)):
                failures.append(f"{name} differs from the build's {rel}")
        failures += run_unpacked_tool(package, base, version)

    for f in failures:
        print(f"FAIL {f}")
    print("package check: " + ("FAILED" if failures else "ok"))
    return 1 if failures else 0


def run_unpacked_tool(package, base, version):
    """The tool, unpacked away from the build, finds its own plug-in."""
    failures = []
    with tempfile.TemporaryDirectory() as tmp:
        tmp = os.path.realpath(tmp)  # the tool names the plug-in by its real path
        with tarfile.open(package) as t:
            t.extractall(tmp)
        tool = os.path.join(tmp, base, "bin", "kestrelumen")
        out = subprocess.run([tool, "--version"], capture_output=True, text=True)
        if out.returncode != 0 or out.stdout.strip() != f"kestrelumen {version}":
            failures.append(f"bin/kestrelumen --version: {out.stdout.strip()!r} (exit {out.returncode})")
        info = subprocess.run([tool, "info"], capture_output=True, text=True)
        plugin = os.path.join(tmp, base, "plugin", "Kestrelumen.so")
        if info.returncode != 0 or plugin not in info.stdout:
            failures.append(f"bin/kestrelumen info did not load {plugin} (exit {info.returncode}): "
                            f"{info.stderr.strip()}")
        elif "Registration resource: none found" in info.stdout:
            failures.append("bin/kestrelumen info found no registration resource beside the plug-in")
    return failures


if __name__ == "__main__":
    sys.exit(main(sys.argv))
