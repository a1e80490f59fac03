"""aes_ecb, aes_cbc and their inverses."""

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import crypt_main
from cipher_peers import AES, pkcs7, raw_encrypt
from cipher_trace import Proxy, logged_function, traced_text
from conftest import DELETE, blocks_growth, m, module_global, raises_at

KEYS = {
    "aes128": "0123456789abcdef",
    "aes192": "0123456789abcdefghijklmn",
    "aes256": "0123456789abcdefghijklmnopqrstuv",
    "aes192-cjk": "密钥密钥密钥密钥",  # 8 characters, 24 UTF-8 bytes
}
KEY = KEYS["aes128"]
IV = "fedcba9876543210"
IV_CJK = "向量0123456789"  # 12 characters, 16 UTF-8 bytes
TEXTS = {
    "empty": "",
    "ascii": "Hello, world",
    "cjk": "你好，世界",
    "block": "a" * 16,
    "long": "长文本 long text ✓ " * 40,
    "astral": "emoji 😀 𝄞",
}


def ecb(value, key, iv=None):
    return m.aes_ecb(value, key)


def ecb_decrypt(value, key, iv=None):
    return m.aes_ecb_decrypt(value, key)


def cbc(value, key, iv=IV):
    return m.aes_cbc(value, key, iv)


def cbc_decrypt(value, key, iv=IV):
    return m.aes_cbc_decrypt(value, key, iv)


MODES = {"ecb": (ecb, ecb_decrypt), "cbc": (cbc, cbc_decrypt)}


@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("key", KEYS.values(), ids=KEYS)
@pytest.mark.parametrize("text", TEXTS.values(), ids=TEXTS)
def test_round_trip(mode, key, text):
    encrypt, decrypt = MODES[mode]
    ciphertext = encrypt(text, key)
    assert type(ciphertext) is bytes
    plain = decrypt(ciphertext, key)
    assert type(plain) is str and plain == text


@settings(max_examples=200, deadline=None)
@given(text=st.text(st.characters(codec="utf-8")), iv=st.sampled_from([IV, IV_CJK]))
def test_round_trip_any_text(text, iv):
    assert m.aes_ecb_decrypt(m.aes_ecb(text, KEY), KEY) == text
    assert m.aes_cbc_decrypt(m.aes_cbc(text, KEY, iv), KEY, iv) == text


def test_decrypt_takes_any_bytes_like():
    ciphertext = m.aes_cbc("text", KEY, IV)
    assert m.aes_cbc_decrypt(bytearray(ciphertext), KEY, IV) == "text"
    assert m.aes_ecb_decrypt(memoryview(m.aes_ecb("text", KEY)), KEY) == "text"


@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize(
    "text, length",
    [("", 16), ("a" * 15, 16), ("a" * 16, 32), ("中文", 16), ("中文字符六个", 32), ("a" * 47, 48)],
)
def test_ciphertext_length_counts_utf8_bytes(mode, text, length):
    encrypt, _ = MODES[mode]
    assert len(encrypt(text, KEY)) == length


def test_ecb_equal_blocks_give_equal_blocks():
    ciphertext = m.aes_ecb("x" * 32, KEY)
    assert len(ciphertext) == 48
    assert ciphertext[:16] == ciphertext[16:32] != ciphertext[32:]


def test_cbc_chains_blocks_and_uses_the_iv():
    ciphertext = m.aes_cbc("x" * 32, KEY, IV)
    assert ciphertext[:16] != ciphertext[16:32]
    assert m.aes_cbc("x" * 32, KEY, IV) == ciphertext  # no random IV, none prepended
    other = m.aes_cbc("x" * 32, KEY, "0" * 16)
    assert all(other[i : i + 16] != ciphertext[i : i + 16] for i in range(0, 48, 16))


def bad_padding(mode):
    """A ciphertext under KEY (and IV) whose plaintext ends in an invalid PKCS#7 padding."""
    return raw_encrypt(AES, mode, KEY.encode(), b"a" * 15 + b"\x00", IV.encode() if mode == "MODE_CBC" else None)


def not_utf8(mode):
    """A ciphertext with valid padding around bytes that are not UTF-8."""
    return raw_encrypt(AES, mode, KEY.encode(), pkcs7(b"\xff\xfe", 16), IV.encode() if mode == "MODE_CBC" else None)


SURROGATE = "\udc80" + "a" * 15


def fail(method, line, exc, *args, match=None):
    """A failing call of `method` with `args`, reported with one entry at `line`."""
    return pytest.param(method, args, exc, line, match, id=f"{method}-{exc.__name__}-{line}-{args!r:.40}")


FAILURES = [
    fail("aes_ecb", 62, AttributeError, "x", b"0123456789abcdef", match="'bytes'.*'encode'"),
    fail("aes_ecb", 62, AttributeError, "x", 16, match="'int'"),
    fail("aes_ecb", 62, ValueError, "x", "a" * 15, match="key length"),
    fail("aes_ecb", 62, ValueError, "x", "a" * 17, match="key length"),
    fail("aes_ecb", 62, ValueError, "x", "", match="key length"),
    fail("aes_ecb", 62, ValueError, "x", "é" + "a" * 15, match="key length"),  # 17 bytes
    fail("aes_ecb", 62, ValueError, 5, "short", match="key length"),  # the key before the value
    fail("aes_ecb", 62, UnicodeEncodeError, SURROGATE, SURROGATE),
    fail("aes_ecb", 63, AttributeError, 5, KEY, match="'int'"),
    fail("aes_ecb", 63, AttributeError, b"text", KEY, match="'bytes'"),
    fail("aes_ecb", 63, UnicodeEncodeError, SURROGATE, KEY),
    fail("aes_ecb_decrypt", 68, AttributeError, b"", b"key", match="'bytes'"),
    fail("aes_ecb_decrypt", 68, ValueError, "not bytes", "a" * 5, match="key length"),
    fail("aes_ecb_decrypt", 69, TypeError, "00112233445566778899aabbccddeeff", KEY),  # hex text is not decoded
    fail("aes_ecb_decrypt", 69, ValueError, b"a" * 15, KEY),
    fail("aes_ecb_decrypt", 70, ValueError, b"", KEY),
    fail("aes_ecb_decrypt", 70, ValueError, bad_padding("MODE_ECB"), KEY, match="[Pp]adding"),
    fail("aes_ecb_decrypt", 70, UnicodeDecodeError, not_utf8("MODE_ECB"), KEY),
    fail("aes_cbc", 75, AttributeError, "x", b"k", 16, match="'bytes'"),  # the key before the IV
    fail("aes_cbc", 75, AttributeError, "x", "short", b"iv", match="'bytes'"),  # the IV before the key length
    fail("aes_cbc", 75, ValueError, "x", "a" * 17, IV, match="key length"),
    fail("aes_cbc", 75, ValueError, "x", KEY, "a" * 15, match="IV"),
    fail("aes_cbc", 75, ValueError, "x", KEY, "a" * 17, match="IV"),
    fail("aes_cbc", 75, ValueError, "x", KEY, "é" + "a" * 15, match="IV"),
    fail("aes_cbc", 75, ValueError, 5, KEY, "short", match="IV"),
    fail("aes_cbc", 75, UnicodeEncodeError, "x", KEY, SURROGATE),
    fail("aes_cbc", 76, AttributeError, None, KEY, IV, match="'NoneType'"),
    fail("aes_cbc", 76, UnicodeEncodeError, SURROGATE, KEY, IV),
    fail("aes_cbc_decrypt", 81, AttributeError, b"", KEY, None, match="'NoneType'"),
    fail("aes_cbc_decrypt", 82, TypeError, "text", KEY, IV),
    fail("aes_cbc_decrypt", 82, ValueError, b"a" * 17, KEY, IV),
    fail("aes_cbc_decrypt", 83, ValueError, b"", KEY, IV),
    fail("aes_cbc_decrypt", 83, ValueError, bad_padding("MODE_CBC"), KEY, IV, match="[Pp]adding"),
    fail("aes_cbc_decrypt", 83, UnicodeDecodeError, not_utf8("MODE_CBC"), KEY, IV),
]


@pytest.mark.parametrize("method, args, exc, line, match", FAILURES)
def test_failures(method, args, exc, line, match):
    raises_at(exc, lambda: getattr(m, method)(*args), (method, line), match=match)


@pytest.mark.parametrize(
    "name, method, call, line",
    [
        ("AES", "aes_ecb", lambda: m.aes_ecb("x", KEY), 62),
        ("pad", "aes_ecb", lambda: m.aes_ecb(5, KEY), 63),  # pad is looked up before value is encoded
        ("unpad", "aes_ecb_decrypt", lambda: m.aes_ecb_decrypt(m.aes_ecb("x", KEY), KEY), 70),
        ("AES", "aes_cbc_decrypt", lambda: m.aes_cbc_decrypt(b"", KEY, IV), 81),
        ("pad", "aes_cbc", lambda: m.aes_cbc(5, KEY, IV), 76),
        ("unpad", "aes_cbc_decrypt", lambda: m.aes_cbc_decrypt(m.aes_cbc("x", KEY, IV), KEY, IV), 83),
    ],
)
def test_missing_global(name, method, call, line):
    with module_global(name, DELETE):
        raises_at(NameError, call, (method, line), match=f"^name '{name}' is not defined$")


ECB_ORDER = ["AES.new", "key.encode('utf-8',)", "AES.MODE_ECB", "AES.new()"]
CBC_ORDER = ["AES.new", "key.encode('utf-8',)", "AES.MODE_CBC", "iv.encode('utf-8',)", "AES.new()"]
ENCRYPT_ORDER = ["value.encode('utf-8',)", "AES.block_size", "pad()"]
DECRYPT_ORDER = ["AES.block_size", "unpad()"]


@pytest.mark.parametrize(
    "method, expected",
    [
        ("aes_ecb", ECB_ORDER + ENCRYPT_ORDER),
        ("aes_ecb_decrypt", ECB_ORDER + DECRYPT_ORDER),
        ("aes_cbc", CBC_ORDER + ENCRYPT_ORDER),
        ("aes_cbc_decrypt", CBC_ORDER + DECRYPT_ORDER),
    ],
)
def test_order_of_calls(method, expected):
    cbc = method.startswith("aes_cbc")
    decrypting = method.endswith("_decrypt")
    log = []
    key, iv = traced_text("key", KEY, log), traced_text("iv", IV, log)
    if decrypting:
        value = m.aes_cbc("text", KEY, IV) if cbc else m.aes_ecb("text", KEY)
    else:
        value = traced_text("value", "text", log)
    args = (value, key, iv) if cbc else (value, key)
    with (
        module_global("AES", Proxy("AES", AES, log)),
        module_global("pad", logged_function("pad", crypt_main.pad, log)),
        module_global("unpad", logged_function("unpad", crypt_main.unpad, log)),
    ):
        result = getattr(m, method)(*args)
    assert log == expected
    plain_args = (value if decrypting else "text", KEY, IV)[: len(args)]
    assert result == getattr(m, method)(*plain_args)


def test_aes_is_looked_up_at_each_use():
    log = []
    key = traced_text("key", KEY, log, on_encode=lambda: crypt_main.__dict__.__setitem__("AES", Proxy("B", AES, log)))
    with module_global("AES", Proxy("A", AES, log)):
        m.aes_ecb("text", key)
    assert log == ["A.new", "key.encode('utf-8',)", "B.MODE_ECB", "A.new()", "B.block_size"]


# A leak of one block per call would show as 100,000; measured growth is 0 or 1 block,
# the slack covers the interpreter's own caches and free lists settling during the run.
LEAK_SLACK = 10

CIPHERTEXT = m.aes_cbc("漏 leak", KEY, IV)


@pytest.mark.parametrize(
    "call",
    [
        lambda: m.aes_ecb("漏 leak", KEY),
        lambda: m.aes_cbc("漏 leak", KEY, IV),
        lambda: m.aes_cbc_decrypt(CIPHERTEXT, KEY, IV),
        lambda: m.aes_ecb_decrypt(b"", KEY),
        lambda: m.aes_cbc("x", "short", b"iv"),
    ],
    ids=["ecb", "cbc", "cbc-decrypt", "fails-in-unpad", "fails-in-first-step"],
)
def test_no_leaks(call):
    assert blocks_growth(call, 100_000) <= LEAK_SLACK
