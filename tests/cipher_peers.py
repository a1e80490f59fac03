"""Independent computations of the module's ciphers, for known-answer tests.

Each peer takes the raw key, IV and plaintext bytes, already padded or filled by the
test itself, so that the module's padding and filling are checked too.
"""

import shutil
import subprocess

import pytest
from Crypto.Cipher import AES, DES

OPENSSL = shutil.which("openssl")
LEGACY = ("-provider", "legacy", "-provider", "default")


def pkcs7(data, block):
    n = block - len(data) % block
    return data + bytes([n]) * n


def zero_fill(data):
    return data + b"\x00" * (-len(data) % 16)


def raw_encrypt(module, mode, key, plain, iv=None):
    """PyCryptodome's block cipher with no padding of its own."""
    args = (key, getattr(module, mode)) + ((iv,) if iv is not None else ())
    return module.new(*args).encrypt(plain)


def openssl_encrypt(cipher, key, plain, iv=None, legacy=False):
    """`openssl enc -<cipher> -nopad` over already padded bytes; skips when unavailable."""
    if OPENSSL is None:
        pytest.skip("openssl command line not installed")
    command = [OPENSSL, "enc", f"-{cipher}", "-nopad", "-K", key.hex()]
    if iv is not None:
        command += ["-iv", iv.hex()]
    if legacy:
        command += LEGACY
    run = subprocess.run(command, input=plain, capture_output=True)
    if run.returncode != 0:
        if legacy and not _has_legacy_provider():
            pytest.skip("openssl without the legacy provider")
        raise AssertionError(run.stderr.decode(errors="replace"))
    return run.stdout


def _has_legacy_provider():
    probe = subprocess.run([OPENSSL, "list", "-providers", *LEGACY], capture_output=True)
    return probe.returncode == 0


__all__ = ["AES", "DES", "pkcs7", "zero_fill", "raw_encrypt", "openssl_encrypt"]
