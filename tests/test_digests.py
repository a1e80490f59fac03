"""Hex digests: md5, sha1, sha256, sha384, sha512."""

import hashlib
import types

import pytest

from conftest import DELETE, module_global, raises_at
from crypt_main import m_crypt

# name -> line of the hashlib constructor call; update, hexdigest and the case tests follow
FIRST_LINE = {"md5": 111, "sha1": 185, "sha256": 198, "sha384": 211, "sha512": 224}
UPDATE_LINE = {name: (115 if name == "md5" else line + 1) for name, line in FIRST_LINE.items()}
CASE_LINE = {name: (117 if name == "md5" else line + 3) for name, line in FIRST_LINE.items()}
each = pytest.mark.parametrize("name", list(FIRST_LINE))


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


class EncodesToText:
    def encode(self, encoding):
        return "not bytes"


@pytest.mark.parametrize(
    "name, value, error",
    [("md5", None, AttributeError), ("md5", bytearray(b"abc"), AttributeError), ("md5", "\udc80", UnicodeEncodeError),
     *[(name, b"abc", AttributeError) for name in list(FIRST_LINE)[1:]],
     *[(name, "\ud800", UnicodeEncodeError) for name in list(FIRST_LINE)[1:]],
     *[(name, EncodesToText(), TypeError) for name in FIRST_LINE]],
)
def test_bad_values_fail_at_the_update_line(name, value, error):
    raises_at(error, lambda: getattr(m_crypt, name)(value, "lower"), (name, UPDATE_LINE[name]))


class FailingFormat:
    """Compares unequal to everything but `fail_on`, where comparing raises."""

    def __init__(self, fail_on):
        self.fail_on = fail_on

    def __eq__(self, other):
        if other == self.fail_on:
            raise ValueError(other)
        return False


@each
@pytest.mark.parametrize("fail_on, offset", [("upper", 0), ("lower", 2)])
def test_failing_format_comparison_reports_its_line(name, fail_on, offset):
    raises_at(ValueError, lambda: getattr(m_crypt, name)("abc", FailingFormat(fail_on)), (name, CASE_LINE[name] + offset))


@each
def test_missing_hashlib_is_a_name_error(name):
    with module_global("hashlib", DELETE):
        raises_at(NameError, lambda: getattr(m_crypt, name)("abc", "lower"), (name, FIRST_LINE[name]),
                  match="^name 'hashlib' is not defined$")
