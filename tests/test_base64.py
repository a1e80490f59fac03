"""base64 and base64_decrypt: one-line Base64 text of the UTF-8 bytes, and back."""

import base64 as std_base64
import binascii

import pytest
from hypothesis import given
from hypothesis import strategies as st

from conftest import DELETE, blocks_growth, m, module_global, raises_at


@pytest.mark.parametrize("text", ["", "ab", "Hello, 世界", "emoji \U0001f600", "x\ny\r\n", "z" * 1000])
def test_known_answers_on_one_line_and_back(text):
    encoded = m.base64(text)
    assert type(encoded) is str and encoded == std_base64.b64encode(text.encode("utf-8")).decode("ascii")
    assert m.base64_decrypt(encoded) == text


@given(st.text(st.characters(exclude_categories=["Cs"])))
def test_round_trip(text):
    assert m.base64_decrypt(m.base64(text)) == text


def test_decoding_skips_line_breaks_and_spaces():
    text = "Hello, 世界! " * 10
    encoded = m.base64(text)
    for spoiled in (
        "".join(encoded[i : i + 76] + "\n" for i in range(0, len(encoded), 76)),  # as encodebytes breaks it
        "\r\n".join(encoded[i : i + 10] for i in range(0, len(encoded), 10)),
        f"  {' '.join(encoded)}\t\n",
    ):
        assert m.base64_decrypt(spoiled) == text


@pytest.mark.parametrize(
    "method, value, exc_type",
    [
        ("base64", "\ud800", UnicodeEncodeError),
        ("base64", b"abc", AttributeError),
        ("base64_decrypt", "abc", binascii.Error),  # last group not completed by "="
        ("base64_decrypt", "abcde", binascii.Error),  # one more than a multiple of four
        ("base64_decrypt", "/w==", UnicodeDecodeError),  # the single byte FF
        ("base64_decrypt", "\ud800", UnicodeEncodeError),
        ("base64_decrypt", b"QUJD", AttributeError),
        ("base64_decrypt", None, AttributeError),
    ],
)
def test_errors(method, value, exc_type):
    raises_at(exc_type, lambda: getattr(m, method)(value), (method, 88 if method == "base64" else 93))


@pytest.mark.parametrize("method, line", [("base64", 88), ("base64_decrypt", 93)])
def test_missing_global_base64(method, line):
    with module_global("base64", DELETE):
        raises_at(NameError, lambda: getattr(m, method)("QUJD"), (method, line), match="^name 'base64' is not defined$")


# A leak of one block per call would show as 50,000; the slack covers the interpreter's
# own caches and free lists settling during the run.
@pytest.mark.parametrize(
    "call",
    [lambda: m.base64_decrypt(m.base64("Hello, 世界" * 10)), lambda: m.base64(b"bytes"), lambda: m.base64_decrypt("/w==")],
    ids=["round-trip", "encode-error", "unicode-error"],
)
def test_no_leaks(call):
    assert blocks_growth(call, 50_000) <= 100
