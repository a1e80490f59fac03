"""php, php_decrypt and the block filler _add_to_16 (their failures: rows of method_cases.py)."""

import base64
import types

import pytest
from Crypto.Cipher import AES
from hypothesis import given, settings
from hypothesis import strategies as st

import crypt_main
from conftest import m
from method_cases import IV16 as IV, failures  # 16 UTF-8 bytes: the IV is UTF-8, never GBK, and never filled

KEY = "secret"


def zero_fill(data):
    return data + b"\x00" * (-len(data) % 16)


@pytest.mark.parametrize(
    "value, expected",
    [("", b""), ("a", b"a" + b"\x00" * 15), ("中" * 8, "中".encode("gbk") * 8), ("中" * 9, "中".encode("gbk") * 9 + b"\x00" * 14)],
)
def test_add_to_16(value, expected):
    assert m._add_to_16(value) == crypt_main._Crypt._add_to_16(value) == expected


# A key of 17 to 32 GBK bytes is filled to 32: AES-256, never AES-192.
KEYS = ["k", "k" * 16, "k" * 17, "密钥", "密钥" * 8]
TEXTS = ["", "a" * 16, "你好，世界", "a\x00b", "长文本 long text " * 5]  # the last: Base64 past 76 characters


@pytest.mark.parametrize("key", KEYS)
@pytest.mark.parametrize("text", TEXTS, ids=range(len(TEXTS)))
def test_known_answers_and_back(text, key):
    expected = AES.new(zero_fill(key.encode("gbk")), AES.MODE_CBC, IV.encode()).encrypt(zero_fill(text.encode("gbk")))
    raw, encoded = m.php(text, key, IV), m.php(text, key, IV, True)
    assert type(raw) is bytes and raw == expected
    assert type(encoded) is str and encoded == base64.b64encode(expected).decode()  # one line
    assert m.php_decrypt(raw, key, IV) == m.php_decrypt(encoded, key, IV, True) == text


@settings(max_examples=100, deadline=None)
@given(text=st.text(st.one_of(st.characters(max_codepoint=0x7F), st.characters(min_codepoint=0x4E00, max_codepoint=0x9FA5))))
def test_round_trip_any_text(text):
    # Zero filling cannot tell the text's own trailing NULs from the fill.
    assert m.php_decrypt(m.php(text, KEY, IV, True), KEY, IV, True) == text.rstrip("\x00")


def test_decryption_reads_base64_lines_and_strips_trailing_nuls():
    text = "长文本 long text " * 40
    lines = base64.encodebytes(m.php(text, KEY, IV)).decode()
    assert lines.count("\n") > 1 and m.php_decrypt(lines, KEY, IV, True) == text
    assert m.php_decrypt(m.php("abc\x00\x00", KEY, IV), KEY, IV) == "abc"
    assert m.php_decrypt(m.php("\x00" * 16, KEY, IV), KEY, IV) == ""


@pytest.mark.parametrize("base64s, kind", [("yes", str), ([0], str), ("", bytes), (None, bytes)])
def test_base64s_is_a_truth_test(base64s, kind):
    ciphertext = m.php("text", KEY, IV, base64s)
    assert type(ciphertext) is kind and m.php_decrypt(ciphertext, KEY, IV, base64s) == "text"


@pytest.mark.parametrize("case", failures("php", "php_decrypt", "_add_to_16"))
def test_failures(case):
    case.raises()


@pytest.mark.parametrize("method, value, filled", [("php", "text", [KEY, "text"]), ("php_decrypt", b"", [KEY])])
def test_the_filler_is_reached_through_self(method, value, filled):
    log = []
    own = types.SimpleNamespace(_add_to_16=lambda v: log.append(v) or crypt_main._Crypt._add_to_16(v))
    assert getattr(crypt_main._Crypt, method)(own, value, KEY, IV) == getattr(m, method)(value, KEY, IV)
    assert log == filled
