"""php, php_decrypt and the block filler _add_to_16."""

import base64
import binascii
import types

import pytest
from Crypto.Cipher import AES
from hypothesis import given, settings
from hypothesis import strategies as st

import crypt_main
from conftest import DELETE, blocks_growth, m, module_global, raises_at

IV = "向量0123456789"  # 16 UTF-8 bytes: the IV is UTF-8, never GBK, and never filled
KEY = "secret"
FILLER = ("_add_to_16", 152)


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


class Untruthful:
    def __bool__(self):
        raise ZeroDivisionError("no truth")


NOT_GBK = AES.new(zero_fill(KEY.encode()), AES.MODE_CBC, IV.encode()).encrypt(zero_fill(b"\xff\xff"))


def fail(method, entries, exc, *args, match=None):
    lines = "-".join(str(line) for _, line in entries)
    return pytest.param(method, args, exc, entries, match, id=f"{method}-{exc.__name__}-{lines}-{args!r:.40}")


FAILURES = [
    fail("_add_to_16", [FILLER], AttributeError, None),
    fail("_add_to_16", [FILLER], UnicodeEncodeError, "😀"),
    fail("php", [("php", 136), FILLER], AttributeError, "x", b"key", 16, match="'bytes'"),  # the key before the IV
    fail("php", [("php", 136), FILLER], UnicodeEncodeError, "x", "😀", IV),
    fail("php", [("php", 136)], ValueError, 5, "k" * 33, IV, match="key length"),  # the key before the value
    fail("php", [("php", 136)], AttributeError, "x", "", b"iv", match="'bytes'"),  # the IV before the key length
    fail("php", [("php", 136)], ValueError, "x", KEY, "a" * 15, match="IV"),  # the IV is not filled
    fail("php", [("php", 136)], ValueError, "x", KEY, "é" + "a" * 15, match="IV"),
    fail("php", [("php", 137), FILLER], AttributeError, b"text", KEY, IV, match="'bytes'"),
    fail("php", [("php", 137), FILLER], UnicodeEncodeError, "😀", KEY, IV),
    fail("php", [("php", 138)], ZeroDivisionError, "x", KEY, IV, Untruthful()),
    fail("php_decrypt", [("php_decrypt", 143), FILLER], AttributeError, b"", 5, IV, match="'int'"),
    fail("php_decrypt", [("php_decrypt", 143)], ValueError, b"", "k" * 33, IV, match="key length"),
    fail("php_decrypt", [("php_decrypt", 143)], AttributeError, b"", KEY, None, match="'NoneType'"),
    fail("php_decrypt", [("php_decrypt", 144)], ZeroDivisionError, b"", KEY, IV, Untruthful()),
    fail("php_decrypt", [("php_decrypt", 145)], AttributeError, b"AAAA", KEY, IV, True, match="'bytes'"),
    fail("php_decrypt", [("php_decrypt", 145)], binascii.Error, "abc", KEY, IV, True),
    fail("php_decrypt", [("php_decrypt", 146)], ValueError, b"a" * 15, KEY, IV),
    fail("php_decrypt", [("php_decrypt", 146)], TypeError, "MTIzNDU2Nzg5MDEyMzQ1Ng==", KEY, IV),  # Base64 not asked for
    fail("php_decrypt", [("php_decrypt", 146)], UnicodeDecodeError, NOT_GBK, KEY, IV),
]


@pytest.mark.parametrize("method, args, exc, entries, match", FAILURES)
def test_failures(method, args, exc, entries, match):
    raises_at(exc, lambda: getattr(m, method)(*args), *entries, match=match)


@pytest.mark.parametrize(
    "name, method, args, line",
    [
        ("AES", "php", ("x", KEY, IV), 136),
        ("base64", "php", ("x", KEY, IV, True), 139),
        ("base64", "php_decrypt", (5, KEY, IV, True), 145),  # looked up before the value is encoded
    ],
)
def test_missing_global(name, method, args, line):
    with module_global(name, DELETE):
        raises_at(NameError, lambda: getattr(m, method)(*args), (method, line), match=f"^name '{name}' is not defined$")


@pytest.mark.parametrize("method, value, filled", [("php", "text", [KEY, "text"]), ("php_decrypt", b"", [KEY])])
def test_the_filler_is_reached_through_self(method, value, filled):
    log = []
    own = types.SimpleNamespace(_add_to_16=lambda v: log.append(v) or crypt_main._Crypt._add_to_16(v))
    assert getattr(crypt_main._Crypt, method)(own, value, KEY, IV) == getattr(m, method)(value, KEY, IV)
    assert log == filled


# A leak of one block per call would show as 50,000; the slack covers the interpreter's
# own caches and free lists settling during the run.
@pytest.mark.parametrize(
    "call",
    [
        lambda: m.php_decrypt(m.php("漏 leak", KEY, IV, True), KEY, IV, True),
        lambda: m.php("x", b"key", IV),
        lambda: m.php_decrypt("abc", KEY, IV, True),
    ],
    ids=["round-trip", "fails-in-filler", "fails-in-decodebytes"],
)
def test_no_leaks(call):
    assert blocks_growth(call, 50_000) <= 100
