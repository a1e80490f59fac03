"""Hex digests: md5, sha1, sha256, sha384, sha512."""

import hashlib

import pytest

from conftest import DELETE, module_global, raises_at
from crypt_main import m_crypt

# name -> line of the hashlib constructor call; update, hexdigest and the case tests follow
FIRST_LINE = {"sha1": 185, "sha256": 198, "sha384": 211, "sha512": 224}
ALL = ["md5", *FIRST_LINE]
TEXTS = ["", "abc", "é", "Hello, 世界", "x" * 10_000, "line\nbreak\x00nul"]


@pytest.mark.parametrize("name", ALL)
@pytest.mark.parametrize("text", TEXTS, ids=range(len(TEXTS)))
def test_known_answers_in_both_cases(name, text):
    expected = getattr(hashlib, name)(text.encode("utf-8")).hexdigest()
    method = getattr(m_crypt, name)
    assert method(text, "lower") == expected
    assert method(text, "upper") == expected.upper()
    assert type(method(text, "lower")) is str


@pytest.mark.parametrize("name", ALL)
@pytest.mark.parametrize("fmt", ["Upper", " upper", "upper ", "LOWER", "", None, 0, b"upper", ["upper"]])
def test_other_formats_leave_lower_case(name, fmt):
    assert getattr(m_crypt, name)("abc", fmt) == getattr(hashlib, name)(b"abc").hexdigest()


class Upper(str):
    pass


@pytest.mark.parametrize("name", ALL)
def test_format_subclass_compares_by_value(name):
    assert getattr(m_crypt, name)("abc", Upper("upper")) == getattr(hashlib, name)(b"abc").hexdigest().upper()


def test_md5_hashes_bytes_unchanged():
    data = "Hello, 世界".encode()
    assert m_crypt.md5(data, "lower") == m_crypt.md5("Hello, 世界", "lower") == hashlib.md5(data).hexdigest()
    assert m_crypt.md5(b"\xff\xfe", "upper") == hashlib.md5(b"\xff\xfe").hexdigest().upper()

    class Raw(bytes):
        def encode(self, **kw):
            raise AssertionError("bytes are not encoded")

    assert m_crypt.md5(Raw(b"abc"), None) == hashlib.md5(b"abc").hexdigest()


@pytest.mark.parametrize("name, value, error, line", [
    ("md5", 1, AttributeError, 115),
    ("md5", None, AttributeError, 115),
    ("md5", bytearray(b"abc"), AttributeError, 115),
    ("md5", "\udc80", UnicodeEncodeError, 115),
    *[(name, b"abc", AttributeError, line + 1) for name, line in FIRST_LINE.items()],
    *[(name, "\ud800", UnicodeEncodeError, line + 1) for name, line in FIRST_LINE.items()],
])
def test_bad_values_fail_at_the_update_line(name, value, error, line):
    raises_at(error, lambda: getattr(m_crypt, name)(value, "lower"), (name, line))


class EncodesToText:
    def encode(self, encoding):
        assert encoding == "utf-8"
        return "not bytes"


@pytest.mark.parametrize("name", ALL)
def test_encode_must_give_bytes(name):
    line = 115 if name == "md5" else FIRST_LINE[name] + 1
    raises_at(TypeError, lambda: getattr(m_crypt, name)(EncodesToText(), "x"), (name, line))


class FailingFormat:
    """Compares unequal to "upper"; comparing with "lower" raises."""

    def __init__(self, fail_on):
        self.fail_on = fail_on

    def __eq__(self, other):
        if other == self.fail_on:
            raise ValueError(other)
        return False


@pytest.mark.parametrize("name", ALL)
@pytest.mark.parametrize("fail_on, offset", [("upper", 0), ("lower", 2)])
def test_failing_format_comparison_reports_its_line(name, fail_on, offset):
    first = 117 if name == "md5" else FIRST_LINE[name] + 3
    raises_at(ValueError, lambda: getattr(m_crypt, name)("abc", FailingFormat(fail_on)), (name, first + offset))


@pytest.mark.parametrize("name", ALL)
def test_missing_hashlib_is_a_name_error(name):
    line = 111 if name == "md5" else FIRST_LINE[name]
    with module_global("hashlib", DELETE):
        error = raises_at(NameError, lambda: getattr(m_crypt, name)("abc", "lower"), (name, line))
    assert str(error) == "name 'hashlib' is not defined"
    assert getattr(m_crypt, name)("abc", "lower") == getattr(hashlib, name)(b"abc").hexdigest()


class RecordingHashlib:
    """Stands in for hashlib and records what the method does with it."""

    def __init__(self):
        self.calls = []

    def __getattr__(self, name):
        def constructor(*args, **kwargs):
            self.calls.append((name, args, kwargs))
            return RecordingHash(self.calls)
        return constructor


class RecordingHash:
    def __init__(self, calls):
        self.calls = calls

    def update(self, *args, **kwargs):
        self.calls.append(("update", args, kwargs))

    def hexdigest(self, *args):
        self.calls.append(("hexdigest", args, {}))
        return "AbCd"


@pytest.mark.parametrize("name", ALL)
def test_one_constructor_one_update_then_hexdigest(name):
    stand_in = RecordingHashlib()
    with module_global("hashlib", stand_in):
        assert getattr(m_crypt, name)("é", "neither") == "AbCd"
        assert getattr(m_crypt, name)("é", "lower") == "abcd"
    assert stand_in.calls[:3] == [(name, (), {}), ("update", ("é".encode(),), {}), ("hexdigest", (), {})]
    assert len(stand_in.calls) == 6


def test_rebinding_hashlib_changes_the_next_call():
    with module_global("hashlib", RecordingHashlib()):
        assert m_crypt.md5("abc", "upper") == "ABCD"
    assert m_crypt.md5("abc", "upper") == hashlib.md5(b"abc").hexdigest().upper()


def test_hashlib_found_among_the_builtins():
    import builtins
    with module_global("hashlib", DELETE):
        builtins.hashlib = RecordingHashlib()
        try:
            assert m_crypt.sha1("abc", None) == "AbCd"
        finally:
            del builtins.hashlib
