"""md5_hmac: the raw HMAC-MD5 code of a message (value) under a key, as text or bytes."""

import hashlib
import hmac
import types

import pytest
from conftest import DELETE, blocks_growth, m, module_global, raises_at
from hypothesis import given
from hypothesis import strategies as st


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
    (
        b"\xaa" * 80,
        b"Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
        "6f630fad67cda0ee1fb1f562db3aa53e",
    ),
]


@pytest.mark.parametrize("key, data, digest", RFC_2202, ids=[f"case{i}" for i in range(1, 8)])
def test_rfc_2202(key, data, digest):
    result = m.md5_hmac(data, key)
    assert type(result) is bytes
    assert result.hex() == digest


class BytesSub(bytes):
    def encode(self, *args, **kwargs):  # never called: bytes subclasses are used as they are
        raise AssertionError("encode called on bytes")


FORMS = {"str": lambda s: s, "bytes": lambda s: s.encode("utf-8"), "bytes-subclass": lambda s: BytesSub(s.encode())}


@pytest.mark.parametrize("value_form", FORMS)
@pytest.mark.parametrize("key_form", FORMS)
@pytest.mark.parametrize(
    "message, key",
    [("Hi There", "Jefe"), ("", ""), ("Grüße, 世界", "ключ"), ("m" * 200, "k" * 65), ("x", "é" * 40)],
)
def test_text_and_bytes_agree(value_form, key_form, message, key):
    result = m.md5_hmac(FORMS[value_form](message), FORMS[key_form](key))
    assert type(result) is bytes and len(result) == 16
    assert result == reference(key.encode("utf-8"), message.encode("utf-8"))


text_or_bytes = st.one_of(st.binary(max_size=200), st.text(st.characters(exclude_categories=["Cs"])))


@given(text_or_bytes, text_or_bytes)
def test_matches_the_standard_library(message, key):
    as_bytes = lambda x: x if isinstance(x, bytes) else x.encode("utf-8")
    assert m.md5_hmac(message, key) == reference(as_bytes(key), as_bytes(message))


def test_message_comes_first_and_key_second():
    assert m.md5_hmac("message", "key") == reference(b"key", b"message")
    assert m.md5_hmac("message", "key") != m.md5_hmac("key", "message")
    assert m.md5_hmac(value="message", key="key") == m.md5_hmac("message", "key")


def test_hmac_new_gets_key_message_and_the_md5_constructor():
    calls = []

    def new(*args, **kwargs):
        calls.append((args, kwargs))
        return types.SimpleNamespace(digest=lambda: b"code")

    with module_global("hmac", types.SimpleNamespace(new=new)):
        assert m.md5_hmac("message", b"key") == b"code"
    assert calls == [((b"key", b"message"), {"digestmod": hashlib.md5})]


class Encodes:
    """Not bytes; its encode method gives back whatever it was made with."""

    def __init__(self, result):
        self.result = result

    def encode(self, *, encoding):
        assert encoding == "utf-8"
        return self.result


@pytest.mark.parametrize(
    "value, key, exc_type, line",
    [
        (None, "k", AttributeError, 128),
        (5, "k", AttributeError, 128),
        (bytearray(b"m"), "k", AttributeError, 128),
        ("\udc80", "k", UnicodeEncodeError, 128),
        # the message fails first, so the key is never looked at
        (None, None, AttributeError, 128),
        ("m", None, AttributeError, 130),
        (b"m", bytearray(b"k"), AttributeError, 130),
        ("m", "\ud800", UnicodeEncodeError, 130),
        (Encodes(5), "k", TypeError, 131),
        ("m", Encodes("k"), TypeError, 131),
    ],
)
def test_errors(value, key, exc_type, line):
    raises_at(exc_type, lambda: m.md5_hmac(value, key), ("md5_hmac", line))


@pytest.mark.parametrize("name", ["hmac", "hashlib"])
def test_missing_global(name):
    with module_global(name, DELETE):
        raises_at(NameError, lambda: m.md5_hmac("m", "k"), ("md5_hmac", 131), match=f"name '{name}' is not defined")
    assert m.md5_hmac("m", "k") == reference(b"k", b"m")


def test_hmac_is_looked_up_before_hashlib():
    with module_global("hmac", DELETE), module_global("hashlib", DELETE):
        raises_at(NameError, lambda: m.md5_hmac("m", "k"), ("md5_hmac", 131), match="'hmac'")


def test_digest_failure_reports_its_own_line():
    def new(*args, **kwargs):
        return types.SimpleNamespace()  # no digest method

    with module_global("hmac", types.SimpleNamespace(new=new)):
        raises_at(AttributeError, lambda: m.md5_hmac("m", "k"), ("md5_hmac", 132))


def test_binding_error_reports_the_definition_line():
    raises_at(TypeError, lambda: m.md5_hmac("m"), ("md5_hmac", 125),
              match=r"^md5_hmac\(\) takes exactly 2 positional arguments \(1 given\)$")


# A leak of one block per call would show as 100,000; the slack covers the interpreter's
# own caches and free lists settling during the run.
LEAK_SLACK = 200


@pytest.mark.parametrize(
    "call",
    [
        lambda: m.md5_hmac("Grüße", "key"),
        lambda: m.md5_hmac(b"message", b"k" * 100),
        lambda: m.md5_hmac("m", None),
        lambda: m.md5_hmac("\ud800", "k"),
        lambda: m.md5_hmac(Encodes(5), "k"),
    ],
    ids=["text", "bytes", "key-error", "encode-error", "hmac-error"],
)
def test_no_leaks(call):
    assert blocks_growth(call, 100_000) <= LEAK_SLACK
