"""The pure-Python class that the benchmarks measure the module against
(bench/pure_crypt.py) and the inline statements (bench/cases.py) do what the module
does: same results, same errors. Otherwise the figures would compare different work."""

import binascii
import os
import sys
import traceback
import types

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "bench"))

import cases  # noqa: E402
import pure_crypt  # noqa: E402
import run  # noqa: E402
import crypt_main  # noqa: E402
from crypt_main import m_crypt  # noqa: E402

pure = pure_crypt.m_crypt
KEY = cases.KEY16


def setup_module():
    cases.seeded_rsa_random()


def teardown_module():
    import rsa.randnum

    rsa.randnum.os = os


OPERATIONS = cases.operation_cases()


@pytest.mark.parametrize("case", OPERATIONS, ids=[c.name for c in OPERATIONS])
def test_the_three_variants_agree(case):
    # run.check raises when the results or their types differ
    assert run.check(case, run.with_args(case)) is None


class UnsetSlot:
    """A cipher whose `encrypt` is a slot never set: reading it raises AttributeError from
    the member descriptor, which names neither the attribute nor the object."""

    __slots__ = ("encrypt",)


UNSET_CIPHER = types.SimpleNamespace(new=lambda *args: UnsetSlot(), MODE_ECB=1, MODE_CBC=2, block_size=8)


@pytest.mark.parametrize("op, args, error, stand_ins", [
    ("md5", (1, "lower"), AttributeError, {}),
    ("aes_ecb", ("text", "short key"), ValueError, {}),
    ("aes_cbc", ("text", KEY, b"0123456789abcdef"), AttributeError, {}),
    ("des", ("text", "7 bytes"), ValueError, {}),
    ("base64_decrypt", ("abcde",), binascii.Error, {}),
    ("md5_hmac", (None, "key"), AttributeError, {}),
    ("_add_to_16", ("\u20ac\udc80",), UnicodeEncodeError, {}),
    ("rsa_keys", ("16",), TypeError, {}),
    ("rsa_decrypt", ("zz", None, True), binascii.Error, {}),
    ("token_decrypt", ("not a token", "key"), Exception, {}),
    *[(op, args, AttributeError, {cipher: UNSET_CIPHER}) for op, args, cipher in [
        ("aes_ecb", ("text", KEY), "AES"), ("aes_cbc", ("text", KEY, KEY), "AES"), ("des", ("text", "8 bytes!"), "DES"),
        ("php", ("text", "key", KEY), "AES")]],
])
def test_the_same_failures(op, args, error, stand_ins, monkeypatch):
    for name, value in stand_ins.items():
        monkeypatch.setattr(crypt_main, name, value)
        monkeypatch.setattr(pure_crypt, name, value)
    with pytest.raises(error) as module_error:
        getattr(m_crypt, op)(*args)
    with pytest.raises(error) as pure_error:
        getattr(pure, op)(*args)
    assert type(module_error.value) is type(pure_error.value)
    assert str(module_error.value) == str(pure_error.value)
    # what an AttributeError names (None when a descriptor raised it)
    assert getattr(module_error.value, "name", None) == getattr(pure_error.value, "name", None)
    assert type(getattr(module_error.value, "obj", None)) is type(getattr(pure_error.value, "obj", None))
    # the frames below the method's own entry: the library's, where it raised
    assert below(module_error.value, "crypt_main.py") == below(pure_error.value, pure_crypt.__file__)


def below(error, filename):
    """For the exception and each that it was raised while handling, the traceback
    entries that follow the first one in `filename`."""
    tails = []
    while error is not None:
        entries = traceback.extract_tb(error.__traceback__)
        first = next((i for i, entry in enumerate(entries) if entry.filename == filename), len(entries))
        tails.append([(entry.filename, entry.name, entry.lineno) for entry in entries[first + 1:]])
        error = error.__context__
    return tails
