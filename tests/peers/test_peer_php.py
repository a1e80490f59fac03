"""PHP's openssl extension as the peer of the PHP-compatible AES (php, php_decrypt).

The two scripts in tests/peers/php are the recipes shown in the README: decrypt.php opens
what `php` makes, encrypt.php makes what `php_decrypt` opens, each with Base64 text or
(with "raw") hex digits carrying the raw ciphertext bytes across the command line.
"""

import pytest

from conftest import m
from peer_tools import HERE, program, readme_text, run

SCRIPTS = HERE / "php"

IV_ASCII = "1234567890abcdef"
IV_CJK = "中文向量abcd"  # 16 UTF-8 bytes: the IV is UTF-8 on both sides, never GBK

TEXTS = {
    "ascii": "hello, world",
    "ascii-one-block": "0123456789abcdef",  # no fill at all
    "ascii-long": "The quick brown fox jumps over the lazy dog. " * 3,  # Base64 past 76 characters
    "gbk": "中文测试：你好，世界",
    "gbk-one-block": "加密解密测试文本",  # 8 characters, 16 GBK bytes
    "gbk-mixed": "PHP 与 Python 互通 (GBK)",
    "empty": "",
}

AES128_KEYS = {"1-byte": "k", "gbk-4-bytes": "密钥", "16-bytes": "0123456789abcdef"}
AES256_KEYS = {"17-bytes": "0123456789abcdefg", "24-bytes": "0123456789abcdefghijklmn",
               "gbk-32-bytes": "中文密钥中文密钥中文密钥中文密钥"}


def cases():
    """Each text with one key that fills to AES-128 and one that fills to AES-256, keys in turn."""
    small, large = list(AES128_KEYS.items()), list(AES256_KEYS.items())
    for i, (text_id, text) in enumerate(TEXTS.items()):
        for size, (key_id, key) in (("aes128", small[i % 3]), ("aes256", large[i % 3])):
            iv = IV_CJK if i % 2 else IV_ASCII
            yield pytest.param(text, key, iv, id=f"{text_id}-{size}-{key_id}")


CASES = list(cases())


@pytest.fixture(scope="module")
def php():
    return program("php", "php-cli")


def php_script(php, name, key, iv, data, base64s):
    command = [php, str(SCRIPTS / name), key, iv, data] + ([] if base64s else ["raw"])
    return run(command).decode("utf-8")


@pytest.mark.parametrize("base64s", [True, False], ids=["base64", "raw"])
@pytest.mark.parametrize(("text", "key", "iv"), CASES)
def test_php_opens_what_php_makes(php, text, key, iv, base64s):
    ciphertext = m.php(text, key, iv, base64s)
    data = ciphertext if base64s else ciphertext.hex()
    assert php_script(php, "decrypt.php", key, iv, data, base64s) == text


@pytest.mark.parametrize("base64s", [True, False], ids=["base64", "raw"])
@pytest.mark.parametrize(("text", "key", "iv"), CASES)
def test_php_decrypt_opens_what_php_makes(php, text, key, iv, base64s):
    out = php_script(php, "encrypt.php", key, iv, text, base64s)
    ciphertext = out if base64s else bytes.fromhex(out)
    assert m.php_decrypt(ciphertext, key, iv, base64s) == text
    # Same key, IV and zero fill on both sides, so the ciphertexts are equal too.
    assert ciphertext == m.php(text, key, iv, base64s)


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


@pytest.mark.parametrize("text", ["中文测试：你好，世界", "PHP 与 Python 互通", "￥１２３《》·—～"])
def test_php_gbk_conversions_agree_with_python(php, text):
    """iconv (in php-cli itself) and mb_convert_encoding (php-mbstring) give Python's GBK bytes."""
    code = "echo bin2hex(iconv('UTF-8', 'GBK', $argv[1])), ' ', bin2hex(mb_convert_encoding($argv[1], 'GBK', 'UTF-8'));"
    by_iconv, by_mbstring = run([php, "-r", code, text]).decode().split(" ")
    assert bytes.fromhex(by_iconv) == bytes.fromhex(by_mbstring) == text.encode("gbk")


@pytest.mark.parametrize("name", ["decrypt.php", "encrypt.php"])
def test_readme_shows_the_scripts_that_run_here(name):
    assert (SCRIPTS / name).read_text(encoding="utf-8") in readme_text()
