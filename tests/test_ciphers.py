"""aes_ecb, aes_cbc, des and their inverses: one family, one set of cases over the three.

Known answers come from PyCryptodome's raw block cipher given bytes that the test pads
itself, so a fault in the module's encoding or padding cannot hide behind a round trip.
Their failures, each with its line, are rows of the shared table (method_cases.py).
"""

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from method_cases import CIPHERS, Cipher, failures, pkcs7

TEXTS = ["", "a" * 16, "你好，世界", "emoji 😀 𝄞", "长文本 long text ✓ " * 40]


@pytest.mark.parametrize(
    "c, key", [(c, k) for c in CIPHERS for k in c.keys], ids=lambda v: v.name if isinstance(v, Cipher) else repr(v)
)
@pytest.mark.parametrize("text", TEXTS, ids=range(len(TEXTS)))
def test_known_answers_and_back(c, key, text):
    ciphertext = c.encrypt(text, key)
    assert type(ciphertext) is bytes
    assert ciphertext == c.raw(pkcs7(text.encode(), c.block), key)
    plain = c.decrypt(bytearray(ciphertext), key)  # any bytes-like ciphertext
    assert type(plain) is str and plain == text


@settings(max_examples=100, deadline=None)
@given(text=st.text(st.characters(exclude_categories=["Cs"])))
def test_round_trip_any_text(text):
    for c in CIPHERS:
        assert c.decrypt(c.encrypt(text)) == text


@pytest.mark.parametrize("case", failures(*(name for c in CIPHERS for name in (c.name, c.name + "_decrypt"))))
def test_failures(case):
    case.raises()
