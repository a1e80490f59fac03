"""php, php_decrypt and the block filler _add_to_16."""

import base64
import binascii

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import crypt_main
from cipher_peers import AES, raw_encrypt, zero_fill
from cipher_trace import Proxy, traced_text
from conftest import DELETE, blocks_growth, m, module_global, raises_at

IV = "fedcba9876543210"
IV_CJK = "向量0123456789"  # 16 UTF-8 bytes
KEYS = {
    "1": "k",
    "15": "k" * 15,
    "16": "k" * 16,
    "17": "k" * 17,
    "24": "k" * 24,
    "32": "k" * 32,
    "cjk-4": "密钥",  # 4 GBK bytes
    "cjk-32": "密钥" * 8,  # 32 GBK bytes
}
KEY = "secret"
TEXTS = {
    "empty": "",
    "ascii": "Hello, world",
    "cjk": "你好，世界",
    "block": "a" * 16,
    "nul-inside": "a\x00b",
    "long": "长文本 long text " * 40,
}


# The filler


@pytest.mark.parametrize(
    "value, expected",
    [
        ("", b""),
        ("a", b"a" + b"\x00" * 15),
        ("a" * 16, b"a" * 16),
        ("a" * 17, b"a" * 17 + b"\x00" * 15),
        ("中" * 8, "中".encode("gbk") * 8),  # two GBK bytes a character: no fill
        ("中" * 9, "中".encode("gbk") * 9 + b"\x00" * 14),
    ],
)
def test_add_to_16(value, expected):
    assert m._add_to_16(value) == expected
    assert crypt_main._Crypt._add_to_16(value) == expected


@pytest.mark.parametrize(
    "value, exc", [(b"bytes", AttributeError), (None, AttributeError), ("😀", UnicodeEncodeError)]
)
def test_add_to_16_failures(value, exc):
    raises_at(exc, lambda: m._add_to_16(value), ("_add_to_16", 152))


# Round trips and forms


@pytest.mark.parametrize("base64s", [False, True])
@pytest.mark.parametrize("key", KEYS.values(), ids=KEYS)
@pytest.mark.parametrize("text", TEXTS.values(), ids=TEXTS)
def test_round_trip(text, key, base64s):
    ciphertext = m.php(text, key, IV, base64s)
    assert type(ciphertext) is (str if base64s else bytes)
    plain = m.php_decrypt(ciphertext, key, IV, base64s)
    assert type(plain) is str and plain == text


GBK_TEXT = st.text(
    st.one_of(st.characters(max_codepoint=0x7F), st.characters(min_codepoint=0x4E00, max_codepoint=0x9FA5))
)


@settings(max_examples=200, deadline=None)
@given(text=GBK_TEXT, base64s=st.booleans(), iv=st.sampled_from([IV, IV_CJK]))
def test_round_trip_any_text(text, base64s, iv):
    # Zero filling cannot tell the text's own trailing NULs from the fill.
    assert m.php_decrypt(m.php(text, KEY, iv, base64s), KEY, iv, base64s) == text.rstrip("\x00")


def test_plain_methods_bind_self():
    ciphertext = crypt_main._Crypt.php(m, "text", KEY, IV)
    assert ciphertext == m.php("text", KEY, IV, base64s=False)
    assert crypt_main._Crypt.php_decrypt(m, ciphertext, KEY, IV) == "text"


@pytest.mark.parametrize(
    "text, length", [("", 0), ("a", 16), ("a" * 16, 16), ("a" * 17, 32), ("中" * 8, 16), ("中" * 9, 32)]
)
def test_ciphertext_length_has_no_extra_block(text, length):
    assert len(m.php(text, KEY, IV)) == length


def test_empty_text():
    assert m.php("", KEY, IV) == b""
    assert m.php("", KEY, IV, True) == ""
    assert m.php_decrypt(b"", KEY, IV) == m.php_decrypt("", KEY, IV, True) == ""


def test_base64_form_is_one_line():
    text = "长文本 long text " * 40
    encoded = m.php(text, KEY, IV, True)
    assert "\n" not in encoded and len(encoded) > 76 and len(encoded) % 4 == 0
    assert base64.b64decode(encoded, validate=True) == m.php(text, KEY, IV)


def test_decrypt_accepts_base64_with_line_breaks():
    text = "长文本 long text " * 40
    lines = base64.encodebytes(m.php(text, KEY, IV)).decode()
    assert lines.count("\n") > 1
    assert m.php_decrypt(lines, KEY, IV, True) == text


@pytest.mark.parametrize("text, plain", [("abc\x00\x00", "abc"), ("a\x00b", "a\x00b"), ("\x00" * 16, "")])
def test_trailing_nuls_are_stripped(text, plain):
    assert m.php_decrypt(m.php(text, KEY, IV), KEY, IV) == plain


@pytest.mark.parametrize("base64s, kind", [(1, str), ("yes", str), ([0], str), (0, bytes), ("", bytes), (None, bytes)])
def test_base64s_is_a_truth_test(base64s, kind):
    ciphertext = m.php("text", KEY, IV, base64s)
    assert type(ciphertext) is kind
    assert m.php_decrypt(ciphertext, KEY, IV, base64s) == "text"


def test_str_is_the_builtin_type():
    with module_global("str", None):  # a module global of that name is not consulted
        assert m.php_decrypt(m.php("text", KEY, IV, True), KEY, IV, True) == "text"


# Failures


class Untruthful:
    def __bool__(self):
        raise ZeroDivisionError("no truth")


NOT_GBK = raw_encrypt(AES, "MODE_CBC", zero_fill(KEY.encode()), zero_fill(b"\xff\xff"), IV.encode())
FILLER = ("_add_to_16", 152)


def fail(method, entries, exc, *args, match=None):
    """A failing call of `method` with `args`, reported with the traceback `entries`."""
    lines = "-".join(str(line) for _, line in entries)
    return pytest.param(method, args, exc, entries, match, id=f"{method}-{exc.__name__}-{lines}-{args!r:.40}")


FAILURES = [
    fail("php", [("php", 136), FILLER], AttributeError, "x", b"key", IV, match="'bytes'"),
    fail("php", [("php", 136), FILLER], AttributeError, "x", b"key", 16, match="'bytes'"),  # the key before the IV
    fail("php", [("php", 136), FILLER], UnicodeEncodeError, "x", "😀", IV),
    fail("php", [("php", 136)], ValueError, "x", "", IV, match="key length"),
    fail("php", [("php", 136)], ValueError, "x", "k" * 33, IV, match="key length"),
    fail("php", [("php", 136)], ValueError, 5, "", IV, match="key length"),  # the key before the value
    fail("php", [("php", 136)], AttributeError, "x", "", b"iv", match="'bytes'"),  # the IV before the key length
    fail("php", [("php", 136)], ValueError, "x", KEY, "a" * 15, match="IV"),  # the IV is not filled
    fail("php", [("php", 136)], ValueError, "x", KEY, "é" + "a" * 15, match="IV"),
    fail("php", [("php", 136)], UnicodeEncodeError, "x", KEY, "\udc80" + "a" * 15),
    fail("php", [("php", 137), FILLER], AttributeError, b"text", KEY, IV, match="'bytes'"),
    fail("php", [("php", 137), FILLER], UnicodeEncodeError, "😀", KEY, IV),
    fail("php", [("php", 138)], ZeroDivisionError, "x", KEY, IV, Untruthful()),
    fail("php_decrypt", [("php_decrypt", 143), FILLER], AttributeError, b"", 5, IV, match="'int'"),
    fail("php_decrypt", [("php_decrypt", 143), FILLER], UnicodeEncodeError, b"", "😀", IV),
    fail("php_decrypt", [("php_decrypt", 143)], ValueError, b"", "k" * 33, IV, match="key length"),
    fail("php_decrypt", [("php_decrypt", 143)], AttributeError, b"", KEY, None, match="'NoneType'"),
    fail("php_decrypt", [("php_decrypt", 144)], ZeroDivisionError, b"", KEY, IV, Untruthful()),
    fail("php_decrypt", [("php_decrypt", 145)], AttributeError, b"AAAA", KEY, IV, True, match="'bytes'"),
    fail("php_decrypt", [("php_decrypt", 145)], UnicodeEncodeError, "\udc80", KEY, IV, True),
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
        ("AES", "php_decrypt", (b"", KEY, IV), 143),
        ("base64", "php_decrypt", (5, KEY, IV, True), 145),  # base64 is looked up before value is encoded
    ],
)
def test_missing_global(name, method, args, line):
    with module_global(name, DELETE):
        raises_at(NameError, lambda: getattr(m, method)(*args), (method, line), match=f"^name '{name}' is not defined$")


# What self is used for, and the order of calls


class OwnFiller:
    """An object whose _add_to_16 is an attribute of its own, replaced after its first use."""

    def __init__(self, log):
        def first(value):
            log.append(("first", value))
            self._add_to_16 = second
            return crypt_main._Crypt._add_to_16(value)

        def second(value):
            log.append(("second", value))
            return crypt_main._Crypt._add_to_16(value)

        self._add_to_16 = first


@pytest.mark.parametrize("method, value", [("php", "text"), ("php_decrypt", b"")])
def test_filler_is_looked_up_on_self_at_each_use(method, value):
    log = []
    result = getattr(crypt_main._Crypt, method)(OwnFiller(log), value, KEY, IV)
    expected = [("first", KEY), ("second", value)] if method == "php" else [("first", KEY)]
    assert log == expected
    assert result == getattr(m, method)(value, KEY, IV)


CIPHER_ORDER = ["AES.new", "key.encode('gbk',)", "AES.MODE_CBC", "iv.encode('utf-8',)", "AES.new()"]


@pytest.mark.parametrize(
    "method, expected",
    [
        ("php", CIPHER_ORDER + ["value.encode('gbk',)", "base64.encodebytes", "base64.encodebytes()"]),
        ("php_decrypt", CIPHER_ORDER + ["base64.decodebytes", "value.encode()", "base64.decodebytes()"]),
    ],
)
def test_order_of_calls(method, expected):
    log = []
    key, iv = traced_text("key", KEY, log), traced_text("iv", IV, log)
    text = m.php("text", KEY, IV, True) if method == "php_decrypt" else "text"
    value = traced_text("value", text, log)
    with module_global("AES", Proxy("AES", AES, log)), module_global("base64", Proxy("base64", base64, log)):
        result = getattr(m, method)(value, key, iv, True)
    assert log == expected
    assert result == getattr(m, method)(text, KEY, IV, True)


# A leak of one block per call would show as 100,000; measured growth is 0 or 1 block,
# the slack covers the interpreter's own caches and free lists settling during the run.
LEAK_SLACK = 10

CIPHERTEXT = m.php("漏 leak", KEY, IV, True)


@pytest.mark.parametrize(
    "call",
    [
        lambda: m.php("漏 leak", KEY, IV, True),
        lambda: m.php_decrypt(CIPHERTEXT, KEY, IV, True),
        lambda: m.php("x", b"key", IV),
        lambda: m.php_decrypt("abc", KEY, IV, True),
    ],
    ids=["encrypt", "decrypt", "fails-in-filler", "fails-in-decodebytes"],
)
def test_no_leaks(call):
    assert blocks_growth(call, 100_000) <= LEAK_SLACK
