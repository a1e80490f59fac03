"""PHP's openssl extension as the peer of the PHP-compatible AES (php, php_decrypt).

The two scripts in tests/peers/php are the recipes shown in the documentation
(docs/interop/php.md): decrypt.php opens what `php` makes, encrypt.php makes what
`php_decrypt` opens, each with Base64 text or (with "raw") hex digits carrying the raw
ciphertext bytes across the command line.
"""

import pytest

from conftest import m
from peer_tools import HERE, interop_page, program, run

SCRIPTS = HERE / "php"

IV_ASCII = "1234567890abcdef"
IV_CJK = "中文向量abcd"  # 16 UTF-8 bytes: the IV is UTF-8 on both sides, never GBK

TEXTS = {
    "ascii-long": "The quick brown fox jumps over the lazy dog. " * 3,  # Base64 past 76 characters
    "gbk": "中文测试：你好，世界",
    "gbk-one-block": "加密解密测试文本",  # 8 characters, 16 GBK bytes: no fill at all
    "empty": "",
}
KEYS = {"1-byte": "k", "gbk-4-bytes": "密钥", "17-bytes": "0123456789abcdefg", "gbk-32-bytes": "中文密钥" * 4}
# Each key fills to AES-128 (up to 16 bytes) or AES-256 (17 to 32); the IVs alternate.
CASES = [pytest.param(key, IV_CJK if i % 2 else IV_ASCII, id=key_id) for i, (key_id, key) in enumerate(KEYS.items())]


@pytest.fixture(scope="module")
def php():
    return program("php", "php-cli")


def php_script(php, name, key, iv, data, base64s):
    command = [php, str(SCRIPTS / name), key, iv, data] + ([] if base64s else ["raw"])
    return run(command).decode("utf-8")


@pytest.mark.parametrize("base64s", [True, False], ids=["base64", "raw"])
@pytest.mark.parametrize(("key", "iv"), CASES)
def test_both_ways(php, key, iv, base64s):
    for text in TEXTS.values():
        ciphertext = m.php(text, key, iv, base64s)
        assert php_script(php, "decrypt.php", key, iv, ciphertext if base64s else ciphertext.hex(), base64s) == text
        out = php_script(php, "encrypt.php", key, iv, text, base64s)
        # Same key, IV and zero fill on both sides, so the ciphertexts are equal too.
        assert (out if base64s else bytes.fromhex(out)) == ciphertext
        assert m.php_decrypt(ciphertext, key, iv, base64s) == text


def test_php_trims_trailing_nuls_as_php_decrypt_does(php):
    # A command line cannot carry NUL characters, so only this direction can be shown.
    text, key = "abc\x00de\x00\x00", "key"
    assert php_script(php, "decrypt.php", key, IV_ASCII, m.php(text, key, IV_ASCII, True), True) == "abc\x00de"


def test_euro_sign_from_php_is_refused(php):
    """PHP's GBK is Windows code page 936, which has the euro sign as byte 0x80; Python's
    GBK codec has no such byte, so php_decrypt cannot decode it (and php cannot encode it)."""
    ciphertext = php_script(php, "encrypt.php", "key", IV_ASCII, "5 €", True)
    with pytest.raises(UnicodeDecodeError):
        m.php_decrypt(ciphertext, "key", IV_ASCII, True)
    with pytest.raises(UnicodeEncodeError):
        m.php("5 €", "key", IV_ASCII, True)


def test_php_gbk_conversions_agree_with_python(php):
    """iconv (in php-cli itself) and mb_convert_encoding (php-mbstring) give Python's GBK bytes."""
    code = "echo bin2hex(iconv('UTF-8', 'GBK', $argv[1])), ' ', bin2hex(mb_convert_encoding($argv[1], 'GBK', 'UTF-8'));"
    text = "中文测试 PHP 与 Python ￥１２３《》·—～"
    by_iconv, by_mbstring = run([php, "-r", code, text]).decode().split(" ")
    assert bytes.fromhex(by_iconv) == bytes.fromhex(by_mbstring) == text.encode("gbk")


@pytest.mark.parametrize("name", ["decrypt.php", "encrypt.php"])
def test_docs_show_the_scripts_that_run_here(name):
    assert (SCRIPTS / name).read_text(encoding="utf-8") in interop_page("php")
