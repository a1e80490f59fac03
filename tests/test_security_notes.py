"""The security notes (docs/security.md) quote what tools/security_figures.py measures: each figure
is measured again here and looked for in the notes, as they print it."""

import pathlib
import sys

import jwt
import pytest

from readme_blocks import DOCS, section

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tools"))

import security_figures as figures  # noqa: E402

NOTES = section("Security notes", DOCS / "security.md")
TRIES = figures.TRIES


def quoted(*phrases):
    missing = [phrase for phrase in phrases if phrase not in NOTES]
    assert not missing, missing


def test_ecb_shows_equal_blocks_and_lets_blocks_be_cut():
    assert figures.ecb_equal_blocks()
    assert figures.ecb_block_cut() == "user=alice......note=hi"
    quoted('"attack at dawn!!" twice gives two equal 16-byte ciphertext blocks',
           'returns "user=alice......note=hi" without an error')


def test_des_ignores_the_parity_bits():
    twin, alike = figures.des_parity_twins()
    assert alike
    quoted(f'the keys "{figures.KEY_DES}" and "{twin}" encrypt alike')


def test_wrong_keys_and_ivs():
    returned, first_block_only = figures.cbc_wrong_iv()
    assert first_block_only
    short, _ = figures.cbc_wrong_iv("hello")
    tries, aes, des = figures.wrong_key_padding()
    quoted(f"wrong IV of 16 ASCII characters returned text without an error in {figures.php_wrong_iv()} of {TRIES}",
           f"with a wrong ASCII key in {figures.php_wrong_key()} of {TRIES}",
           f"48-character text in {returned} of {TRIES} tries, wrong in its first 16 characters only",
           f"in {short} of {TRIES})",
           f"failed in {tries - aes} of {tries} tries each")
    assert aes == des


def test_cbc_decryption_is_a_padding_oracle():
    recovered, calls = figures.cbc_padding_oracle()
    assert recovered == "pay 100 to alice"
    quoted(f"knowing only which calls raised `ValueError`, {calls} calls of `aes_cbc_decrypt`",
           'recovered its text, "pay 100 to alice"')


def test_php_variant_loses_trailing_nuls():
    assert figures.php_trailing_nuls() == "abc"
    quoted('`php_decrypt(php("abc\\x00\\x00", key, iv), key, iv)` returns "abc"')


def test_no_cipher_authenticates():
    assert figures.cbc_iv_edit() == "pay 900 to alice"
    quoted(f"returned without an error in {figures.php_ciphertext_edit()} of {TRIES} tries")


def test_rsa_key_sizes():
    assert figures.rsa_key_bits() == {1: 512, 53: 512, 117: 1024}
    quoted("`rsa_keys(1)` and `rsa_keys(53)` gave 512-bit keys, `rsa_keys(117)` a 1024-bit one")


@pytest.mark.skipif(not hasattr(jwt, "InsecureKeyLengthWarning"), reason="PyJWT before 2.11 does not warn")
def test_short_hs256_key_warns():
    names, count = figures.short_hs256_key()
    assert names == ["InsecureKeyLengthWarning"]
    quoted(f'the key "secret" gave {count} warnings for one token made and verified')


def test_token_errors():
    (expired, is_os_error), (other, context) = figures.token_errors()
    assert (expired, is_os_error, other) == ("TimeoutError", True, "Exception")
    quoted(f"raised `Exception` with `jwt.{context}` as `__context__`")
