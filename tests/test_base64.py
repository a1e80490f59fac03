"""base64 and base64_decrypt: one-line Base64 text of the UTF-8 bytes, and back."""

import base64 as std_base64

import pytest
from hypothesis import given
from hypothesis import strategies as st

from conftest import m
from method_cases import failures


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


@pytest.mark.parametrize("case", failures("base64", "base64_decrypt"))
def test_failures(case):
    case.raises()
