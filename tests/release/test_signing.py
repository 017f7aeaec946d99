"""The signed release: a throw-away code-signing certificate, the three deliverables built with it
from the same sources in a folder of their own, then checked with osslsigncode and by reading the
installer's resources. That folder is kept between runs, so only the first run compiles. A step
that misses a new certificate (a file still signed with the last one, or an installer embedding
such a copy) fails as surely as one that does not sign. The ordinary build, without a certificate,
must sign nothing."""
import os
import struct
import subprocess

import pytest

ROOT = os.environ["ORVANE_ROOT"]
BIN = os.environ["ORVANE_BIN"]
BUILD = os.environ["ORVANE_SIGNED_BUILD"]
CERTS = os.path.join(BUILD, "throwaway")
SIGNED_BIN = os.path.join(BUILD, "bin")
PROGRAM, CAMERA, SETUP = "Orvane.exe", "OrvaneCam.dll", "Orvane-Setup.exe"
EMBEDDED = {101: PROGRAM, 102: CAMERA}  # the installer's RCDATA ids

RT_RCDATA = 10
SECURITY, RESOURCES = 4, 2  # data directory entries


class Pe:
    """The little of a PE file these checks need: data directories and RCDATA resources."""

    def __init__(self, data):
        self.data = data
        pe, = struct.unpack_from("<I", data, 0x3C)
        assert data[pe:pe + 4] == b"PE\0\0"
        count, optional_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
        optional = pe + 24
        magic, = struct.unpack_from("<H", data, optional)
        self.directories = optional + (112 if magic == 0x20B else 96)
        first = optional + optional_size
        self.sections = [struct.unpack_from("<IIII", data, first + 40 * i + 8) for i in range(count)]

    def directory(self, index):
        return struct.unpack_from("<II", self.data, self.directories + 8 * index)

    def offset(self, rva):
        for size, address, raw_size, raw in self.sections:
            if address <= rva < address + max(size, raw_size):
                return raw + rva - address
        raise AssertionError(f"RVA {rva:#x} in no section")

    def signed(self):
        # Authenticode lives in the certificate table; osslsigncode says more, this says "none" exactly.
        return self.directory(SECURITY)[1] != 0

    def rcdata(self, ident):
        base = self.offset(self.directory(RESOURCES)[0])

        def child(table, wanted):
            named, ids = struct.unpack_from("<HH", self.data, base + table + 12)
            for i in range(named + ids):
                name, target = struct.unpack_from("<II", self.data, base + table + 16 + 8 * i)
                if wanted is None or name == wanted:
                    return target & 0x7FFFFFFF
            raise AssertionError(f"no resource entry {wanted}")

        leaf = child(child(child(0, RT_RCDATA), ident), None)  # the first (only) language
        rva, size = struct.unpack_from("<II", self.data, base + leaf)
        start = self.offset(rva)
        return self.data[start:start + size]


def read(path):
    with open(path, "rb") as f:
        return f.read()


def run(*command):
    return subprocess.run(command, capture_output=True, text=True, check=False)


def configure(*options):
    return run("cmake", "-S", ROOT, "-B", BUILD, "-G", "Ninja",
               "-DCMAKE_BUILD_TYPE=" + os.environ["ORVANE_BUILD_TYPE"],
               "-DCMAKE_TOOLCHAIN_FILE=" + os.environ["ORVANE_TOOLCHAIN"],
               "-DORVANE_THIRD_PARTY_DIR=" + os.environ["ORVANE_THIRD_PARTY_DIR"],
               "-DBUILD_TESTING=OFF", *options)


def build():
    # The installer target brings the other two.
    return run("cmake", "--build", BUILD, "-j", str(os.cpu_count() or 2), "--target", "Orvane-Setup")


def certificate(name):
    """A new self-signed RSA code-signing certificate and its key; the same paths every run."""
    os.makedirs(CERTS, exist_ok=True)
    cert, key = os.path.join(CERTS, name + ".pem"), os.path.join(CERTS, name + ".key")
    made = run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
               "-days", "2", "-subj", "/CN=Orvane prueba " + name,
               "-addext", "extendedKeyUsage=critical,codeSigning", "-addext", "keyUsage=critical,digitalSignature")
    assert made.returncode == 0, made.stderr
    return cert, key


def said(done):
    """A command's output with CMake's line wrapping undone."""
    return " ".join((done.stdout + done.stderr).split())


def verify(path, ca):
    out = run("osslsigncode", "verify", "-CAfile", ca, "-in", path)
    return out.returncode, out.stdout + out.stderr


@pytest.fixture(scope="module")
def signed(tmp_path_factory):
    # Built twice, the second time with a new certificate and key at the same paths: only their
    # contents tell the build to sign everything again, and what is checked is that second build.
    for _ in range(2):
        cert, key = certificate("release")
        done = configure("-DORVANE_SIGN_CERT=" + cert, "-DORVANE_SIGN_KEY=" + key)
        assert done.returncode == 0, done.stdout + done.stderr
        done = build()
        assert done.returncode == 0, done.stdout + done.stderr
    embedded = tmp_path_factory.mktemp("embedded")
    setup = Pe(read(os.path.join(SIGNED_BIN, SETUP)))
    for ident, name in EMBEDDED.items():
        (embedded / name).write_bytes(setup.rcdata(ident))
    return cert, str(embedded)


def test_the_three_deliverables_carry_valid_sha256_signatures_of_this_certificate(signed):
    cert, _ = signed
    for name in (PROGRAM, CAMERA, SETUP):
        code, text = verify(os.path.join(SIGNED_BIN, name), cert)
        assert code == 0 and "Signature verification: ok" in text, name + ":\n" + text
        assert "Message digest algorithm  : SHA256" in text, name + ":\n" + text


def test_the_installer_embeds_the_signed_program_and_camera(signed):
    cert, embedded = signed
    for name in EMBEDDED.values():
        inside = os.path.join(embedded, name)
        assert read(inside) == read(os.path.join(SIGNED_BIN, name)), name + " inside the installer is not the built one"
        code, text = verify(inside, cert)
        assert code == 0 and "Signature verification: ok" in text, name + " inside the installer:\n" + text


def test_without_a_certificate_nothing_is_signed():
    # scripts/test builds with whatever the environment gives scripts/build: with a certificate, all signed.
    expected = bool(os.environ.get("ORVANE_BIN_CERT"))
    setup = Pe(read(os.path.join(BIN, SETUP)))
    found = {name: Pe(read(os.path.join(BIN, name))).signed() for name in (PROGRAM, CAMERA, SETUP)}
    found.update({"embedded " + name: Pe(setup.rcdata(ident)).signed() for ident, name in EMBEDDED.items()})
    assert found == {name: expected for name in found}


def test_a_missing_or_unusable_key_fails_the_build_and_leaves_nothing_unsigned():
    cert, key = certificate("bad")
    done = configure("-DORVANE_SIGN_CERT=" + cert, "-DORVANE_SIGN_KEY=" + key + ".missing")
    assert done.returncode != 0
    assert "ORVANE_SIGN_KEY: no such file: " + key + ".missing" in said(done), said(done)

    # A key that is not the certificate's: the link of the first file fails in its signing.
    _, other_key = certificate("other")
    done = configure("-DORVANE_SIGN_CERT=" + cert, "-DORVANE_SIGN_KEY=" + other_key)
    assert done.returncode == 0, done.stdout + done.stderr
    done = build()
    assert done.returncode != 0
    assert "Could not sign " + SIGNED_BIN in said(done), said(done)
    for name in (PROGRAM, CAMERA, SETUP):
        path = os.path.join(SIGNED_BIN, name)
        assert not os.path.exists(path) or Pe(read(path)).signed(), name + " left unsigned by a failed build"
