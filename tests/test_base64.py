"""base64 and base64_decrypt: one-line Base64 text of the UTF-8 bytes, and back."""

import base64 as std_base64
import binascii
import types

import crypt_main
import pytest
from conftest import DELETE, blocks_growth, m, module_global, raises_at
from hypothesis import given
from hypothesis import strategies as st

TEXTS = ["", "a", "ab", "abc", "Hello, 世界", "é", "emoji \U0001f600", "x\ny\r\n", "z" * 1000]

# Text that UTF-8 can encode: anything but lone surrogates.
encodable = st.text(st.characters(exclude_categories=["Cs"]))


@pytest.mark.parametrize("text", TEXTS)
def test_encodes_utf8_bytes_on_one_line_and_back(text):
    encoded = m.base64(text)
    assert type(encoded) is str
    assert encoded == std_base64.b64encode(text.encode("utf-8")).decode("ascii")
    assert "\n" not in encoded
    assert m.base64_decrypt(encoded) == text


@given(encodable)
def test_round_trip(text):
    encoded = m.base64(text)
    assert len(encoded) == 4 * -(-len(text.encode("utf-8")) // 3)
    assert m.base64_decrypt(encoded) == text


@pytest.mark.parametrize("length, encoded_length", [(0, 0), (57, 76), (58, 80), (114, 152), (115, 156)])
def test_lines_of_encodebytes_are_joined(length, encoded_length):
    text = "q" * length
    encoded = m.base64(text)
    assert len(encoded) == encoded_length
    assert "\n" not in encoded


def test_non_ascii_is_encoded_as_utf8():
    assert m.base64("é") == "w6k="  # the bytes C3 A9
    assert m.base64_decrypt("w6k=") == "é"


@pytest.mark.parametrize(
    "spoil",
    [
        lambda s: "".join(s[i : i + 76] + "\n" for i in range(0, len(s), 76)),  # as encodebytes breaks it
        lambda s: "\r\n".join(s[i : i + 10] for i in range(0, len(s), 10)),
        lambda s: " ".join(s),
        lambda s: f"  {s}\t\n",
    ],
    ids=["encodebytes-lines", "crlf", "spaces", "surrounding-whitespace"],
)
def test_decoding_skips_line_breaks_and_spaces(spoil):
    text = "Hello, 世界! " * 10
    assert m.base64_decrypt(spoil(m.base64(text))) == text


@pytest.mark.parametrize(
    "value, exc_type",
    [
        ("abc", binascii.Error),  # last group not completed by "="
        ("abcde", binascii.Error),  # one more than a multiple of four
        ("QUJDRA", binascii.Error),
        ("/w==", UnicodeDecodeError),  # the single byte FF
        ("gA==", UnicodeDecodeError),  # a lone continuation byte
        ("\ud800", UnicodeEncodeError),
        (b"QUJD", AttributeError),
        (None, AttributeError),
        (65, AttributeError),
    ],
)
def test_decrypt_errors(value, exc_type):
    raises_at(exc_type, lambda: m.base64_decrypt(value), ("base64_decrypt", 93))


@pytest.mark.parametrize(
    "value, exc_type",
    [("\ud800", UnicodeEncodeError), (b"abc", AttributeError), (bytearray(b"abc"), AttributeError), (None, AttributeError)],
)
def test_encode_errors(value, exc_type):
    raises_at(exc_type, lambda: m.base64(value), ("base64", 88))


@pytest.mark.parametrize("method, line", [("base64", 88), ("base64_decrypt", 93)])
def test_missing_global_base64(method, line):
    with module_global("base64", DELETE):
        raises_at(NameError, lambda: getattr(m, method)("QUJD"), (method, line), match="name 'base64' is not defined")
    assert getattr(m, method)("QUJD")  # works again once the global is back


@pytest.mark.parametrize("method, line", [("base64", 86), ("base64_decrypt", 91)])
def test_binding_errors_report_the_definition_line(method, line):
    raises_at(TypeError, lambda: getattr(m, method)(), (method, line),
              match=rf"^{method}\(\) takes exactly 1 positional argument \(0 given\)$")
    assert getattr(crypt_main._Crypt, method)(value="QUJD") == getattr(m, method)("QUJD")


class Recorder:
    """Stands in for a text and records how its encode method is called."""

    def __init__(self, data):
        self.data = data
        self.calls = []

    def encode(self, *args, **kwargs):
        self.calls.append((args, kwargs))
        return self.data


def test_encode_is_called_with_no_arguments_then_with_the_keyword():
    value = Recorder(b"hi")
    assert m.base64(value) == "aGk="
    value.data = b"aGk="
    assert m.base64_decrypt(value) == "hi"
    assert value.calls == [((), {}), ((), {"encoding": "utf-8"})]


def test_global_is_looked_up_at_each_call_and_every_line_feed_removed():
    calls = []

    def encodebytes(data):
        calls.append(data)
        return b"ab\ncd\nef\n"

    fake = types.SimpleNamespace(encodebytes=encodebytes, decodebytes=lambda data: "ü".encode() + data)
    with module_global("base64", fake):
        assert m.base64("x") == "abcdef"
        assert m.base64_decrypt("y\n") == "üy\n"
    assert calls == [b"x"]
    assert m.base64("x") == "eA=="


def test_str_is_the_builtin_type_not_a_global():
    crypt_main.__dict__["str"] = None
    try:
        assert m.base64_decrypt(m.base64("é")) == "é"
    finally:
        del crypt_main.__dict__["str"]


# A leak of one block per call would show as 100,000; the slack covers the interpreter's
# own caches and free lists settling during the run.
LEAK_SLACK = 200


@pytest.mark.parametrize(
    "call",
    [
        lambda: m.base64("Hello, 世界" * 10),
        lambda: m.base64_decrypt("SGVsbG8sIOS4lueVjA==\n"),
        lambda: m.base64(b"bytes"),
        lambda: m.base64_decrypt("abcde"),
        lambda: m.base64_decrypt("/w=="),
    ],
    ids=["encode", "decode", "encode-error", "binascii-error", "unicode-error"],
)
def test_no_leaks(call):
    assert blocks_growth(call, 100_000) <= LEAK_SLACK
