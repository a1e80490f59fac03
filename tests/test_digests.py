"""Hex digests: md5, sha1, sha256, sha384, sha512 (their failures: rows of method_cases.py)."""

import hashlib
import types

import pytest

from conftest import module_global
from crypt_main import m_crypt
from method_cases import DIGEST_LINE, failures

each = pytest.mark.parametrize("name", list(DIGEST_LINE))


@each
@pytest.mark.parametrize("text", ["", "Hello, 世界", "x" * 1000])
def test_known_answers_in_both_cases(name, text):
    expected = getattr(hashlib, name)(text.encode("utf-8")).hexdigest()
    method = getattr(m_crypt, name)
    assert method(text, "lower") == expected and method(text, "upper") == expected.upper()
    assert type(method(text, "lower")) is str


class Upper(str):
    pass


@each
@pytest.mark.parametrize(
    "fmt, digits",
    [("upper", "ABCD"), (Upper("upper"), "ABCD"), ("lower", "abcd"), ("Upper", "AbCd"), ("lower ", "AbCd"),
     (None, "AbCd"), (b"upper", "AbCd")],
)
def test_fmt_picks_the_case_else_leaves_the_digits(name, fmt, digits):
    """A stand-in hashlib gives mixed-case digits, so that "lower" and any other fmt differ."""
    hash_object = types.SimpleNamespace(update=lambda data: None, hexdigest=lambda: "AbCd")
    with module_global("hashlib", types.SimpleNamespace(**{name: lambda: hash_object})):
        assert getattr(m_crypt, name)("abc", fmt) == digits


def test_md5_hashes_bytes_unchanged():
    class Raw(bytes):
        def encode(self, **kw):
            raise AssertionError("bytes are not encoded")

    assert m_crypt.md5("Hello, 世界".encode(), "lower") == m_crypt.md5("Hello, 世界", "lower")
    assert m_crypt.md5(Raw(b"\xff\xfe"), "upper") == hashlib.md5(b"\xff\xfe").hexdigest().upper()


@pytest.mark.parametrize("case", failures(*DIGEST_LINE))
def test_failures(case):
    case.raises()
