"""md5_hmac: the raw HMAC-MD5 code of a message (value) under a key, as text or bytes."""

import hashlib
import hmac

import pytest
from hypothesis import given
from hypothesis import strategies as st

from conftest import m
from method_cases import failures


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


@pytest.mark.parametrize("case", failures("md5_hmac"))
def test_failures(case):
    case.raises()
