"""md5_hmac: the raw HMAC-MD5 code of a message (value) under a key, as text or bytes."""

import contextlib
import hashlib
import hmac
import types

import pytest
from hypothesis import given
from hypothesis import strategies as st

from conftest import DELETE, blocks_growth, m, module_global, raises_at


def reference(key: bytes, message: bytes) -> bytes:
    return hmac.new(key, message, hashlib.md5).digest()


# RFC 2202, section 2: (key, data, digest)
RFC_2202 = [
    (b"\x0b" * 16, b"Hi There", "9294727a3638bb1c13f48ef8158bfc9d"),
    (b"Jefe", b"what do ya want for nothing?", "750c783e6ab0b503eaa86e310a5db738"),
    (b"\xaa" * 16, b"\xdd" * 50, "56be34521d144c88dbb8c733f0e8b3f6"),
    (bytes(range(1, 26)), b"\xcd" * 50, "697eaf0aca3a3aea3a75164746ffaa79"),
    (b"\x0c" * 16, b"Test With Truncation", "56461ef2342edc00f9bab995690efd4c"),
    (b"\xaa" * 80, b"Test Using Larger Than Block-Size Key - Hash Key First", "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"),
    (b"\xaa" * 80, b"Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
     "6f630fad67cda0ee1fb1f562db3aa53e"),
]


@pytest.mark.parametrize("key, data, digest", RFC_2202, ids=[f"case{i}" for i in range(1, 8)])
def test_rfc_2202(key, data, digest):
    result = m.md5_hmac(data, key)
    assert type(result) is bytes and result.hex() == digest


class BytesSub(bytes):
    def encode(self, *args, **kwargs):  # never called: bytes subclasses are used as they are
        raise AssertionError("encode called on bytes")


FORMS = {"str": lambda s: s, "bytes": str.encode, "bytes_subclass": lambda s: BytesSub(s.encode())}


@pytest.mark.parametrize("value_form, key_form", [("str", "str"), ("bytes", "bytes"), ("str", "bytes_subclass"),
                                                  ("bytes_subclass", "str")])
def test_text_is_hashed_as_utf8_and_bytes_as_they_are(value_form, key_form):
    message, key = "Grüße, 世界", "é" * 40  # the key: 80 UTF-8 bytes, longer than a block, so hashed first
    assert m.md5_hmac(FORMS[value_form](message), FORMS[key_form](key)) == reference(key.encode(), message.encode())


text_or_bytes = st.one_of(st.binary(max_size=200), st.text(st.characters(exclude_categories=["Cs"])))


@given(text_or_bytes, text_or_bytes)
def test_message_first_key_second_as_the_standard_library(message, key):
    as_bytes = lambda x: x if isinstance(x, bytes) else x.encode("utf-8")
    assert m.md5_hmac(message, key) == reference(as_bytes(key), as_bytes(message))


class Encodes:
    """Not bytes; its encode method gives back whatever it was made with."""

    def __init__(self, result):
        self.result = result

    def encode(self, *, encoding):
        return self.result


@pytest.mark.parametrize(
    "value, key, exc_type, line",
    [
        (5, "k", AttributeError, 128),
        (bytearray(b"m"), "k", AttributeError, 128),
        ("\udc80", "k", UnicodeEncodeError, 128),
        (None, None, AttributeError, 128),  # the message fails first, so the key is never looked at
        ("m", None, AttributeError, 130),
        ("m", "\ud800", UnicodeEncodeError, 130),
        (Encodes(5), "k", TypeError, 131),
        ("m", Encodes("k"), TypeError, 131),
    ],
)
def test_errors(value, key, exc_type, line):
    raises_at(exc_type, lambda: m.md5_hmac(value, key), ("md5_hmac", line))


@pytest.mark.parametrize("names, shown", [(["hmac"], "hmac"), (["hashlib"], "hashlib"), (["hmac", "hashlib"], "hmac")])
def test_missing_global(names, shown):
    with contextlib.ExitStack() as stack:
        for name in names:
            stack.enter_context(module_global(name, DELETE))
        raises_at(NameError, lambda: m.md5_hmac("m", "k"), ("md5_hmac", 131), match=f"^name '{shown}' is not defined$")


def test_digest_failure_reports_its_own_line():
    with module_global("hmac", types.SimpleNamespace(new=lambda *args, **kwargs: types.SimpleNamespace())):
        raises_at(AttributeError, lambda: m.md5_hmac("m", "k"), ("md5_hmac", 132))


# A leak of one block per call would show as 50,000; the slack covers the interpreter's
# own caches and free lists settling during the run.
@pytest.mark.parametrize(
    "call",
    [lambda: m.md5_hmac("Grüße", "key"), lambda: m.md5_hmac("m", None), lambda: m.md5_hmac(Encodes(5), "k")],
    ids=["text", "key-error", "hmac-error"],
)
def test_no_leaks(call):
    assert blocks_growth(call, 50_000) <= 100
