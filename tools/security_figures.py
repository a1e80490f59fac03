"""Measures what the security notes (docs/security.md) say, with the installed module.

    .venv/bin/python tools/security_figures.py

prints one line for each figure. Wrong keys and IVs are drawn from a seeded generator, so
the counts are the same on every run; tests/test_security_notes.py checks that the notes
quote them as measured here."""

import binascii
import random
import time
import warnings

import jwt

from crypt_main import m_crypt

TRIES = 500
KEY16 = "0123456789abcdef"
KEY_DES = "12345678"
IV = "fedcba9876543210"
SEED = 16  # every figure draws its wrong keys and IVs from a generator seeded alike
ASCII = "".join(chr(c) for c in range(0x20, 0x7F))


def wrong(rng, right, length, alphabet=ASCII):
    """A random text of `length` characters from `alphabet` that differs from `right`."""
    while True:
        candidate = "".join(rng.choice(alphabet) for _ in range(length))
        if candidate != right:
            return candidate


def silent(decrypt):
    """Whether `decrypt()` returns (text, of whatever worth) instead of raising."""
    try:
        decrypt()
    except (ValueError, UnicodeDecodeError):  # padding, length, UTF-8 or GBK refused
        return False
    return True


def ecb_equal_blocks():
    """Two equal 16-byte blocks of text give two equal blocks of ciphertext."""
    data = m_crypt.aes_ecb("attack at dawn!!" * 2, KEY16)
    return data[:16] == data[16:32]


def des_parity_twins():
    """DES ignores the lowest bit of every key byte: 56 of the 64 bits count."""
    twin = "".join(chr(ord(c) ^ 1) for c in KEY_DES)
    return twin, m_crypt.des("hello", KEY_DES) == m_crypt.des("hello", twin)


def php_wrong_iv():
    """php_decrypt with a wrong IV of 16 ASCII characters: how often it returns text."""
    rng = random.Random(SEED)
    text = "transfer 100 to account 4711"
    data = m_crypt.php(text, KEY16, IV)
    count = sum(silent(lambda: m_crypt.php_decrypt(data, KEY16, wrong(rng, IV, 16))) for _ in range(TRIES))
    return count


def php_wrong_key():
    """php_decrypt with a wrong key of 16 ASCII characters: how often it returns text."""
    rng = random.Random(SEED)
    text = "transfer 100 to account 4711"
    data = m_crypt.php(text, KEY16, IV)
    return sum(silent(lambda: m_crypt.php_decrypt(data, wrong(rng, KEY16, 16), IV)) for _ in range(TRIES))


def cbc_wrong_iv(text="first block.....second block....third block....."):
    """aes_cbc_decrypt with a wrong ASCII IV: how often it returns text, and whether that
    text always differs in its first 16 characters only."""
    rng = random.Random(SEED)
    data = m_crypt.aes_cbc(text, KEY16, IV)
    returned, first_block_only = 0, True
    for _ in range(TRIES):
        try:
            got = m_crypt.aes_cbc_decrypt(data, KEY16, wrong(rng, IV, 16))
        except (ValueError, UnicodeDecodeError):
            continue
        returned += 1
        first_block_only &= got[16:] == text[16:] and got[:16] != text[:16]
    return returned, first_block_only


def wrong_key_padding(tries=10 * TRIES):
    """aes_cbc_decrypt and des_decrypt with wrong keys: how often the padding check passes
    and the result is returned as text."""
    rng = random.Random(SEED)
    aes = m_crypt.aes_cbc("hello", KEY16, IV)
    des = m_crypt.des("hello", KEY_DES)
    aes_silent = sum(silent(lambda: m_crypt.aes_cbc_decrypt(aes, wrong(rng, KEY16, 16), IV)) for _ in range(tries))
    des_silent = sum(silent(lambda: m_crypt.des_decrypt(des, wrong(rng, KEY_DES, 8))) for _ in range(tries))
    return tries, aes_silent, des_silent


def php_trailing_nuls():
    return m_crypt.php_decrypt(m_crypt.php("abc\x00\x00", KEY16, IV), KEY16, IV)


def cbc_iv_edit():
    """Whoever can change the IV on its way changes the first block of the text at will:
    no error, no trace."""
    text = "pay 100 to alice"
    data = m_crypt.aes_cbc(text, KEY16, IV)
    edit = bytes(a ^ b ^ c for a, b, c in zip(IV.encode(), text.encode(), b"pay 900 to alice"))
    return m_crypt.aes_cbc_decrypt(data, KEY16, edit.decode("latin-1"))


def php_ciphertext_edit():
    """php_decrypt after one bit of the first ciphertext block was flipped, with random
    keys: the same bit of the second block of text flips ("100" becomes "900") and the
    first block turns to garbage. How often it returns that text without an error (the
    garbage has to pass as GBK)."""
    rng = random.Random(SEED)
    text = "order no. 000001pay 100 to alice"
    edited = 0
    for _ in range(TRIES):
        key = wrong(rng, "", 16)
        data = bytearray(m_crypt.php(text, key, IV))
        data[4] ^= ord("1") ^ ord("9")
        try:
            got = m_crypt.php_decrypt(bytes(data), key, IV)
        except UnicodeDecodeError:
            continue
        edited += got[-16:] == "pay 900 to alice"
    return edited


def cbc_padding_oracle():
    """A padding-oracle attack on aes_cbc_decrypt, knowing only whether each call raised
    ValueError (bad padding): the second block of a text, recovered without the key from
    its ciphertext by calls with a forged block in front of it. Returns the text recovered
    and the number of calls."""
    data = m_crypt.aes_cbc("account 4711....pay 100 to alice", KEY16, IV)
    before, target = data[:16], data[16:32]
    calls = 0

    def padding_passes(forged):
        nonlocal calls
        calls += 1
        try:
            m_crypt.aes_cbc_decrypt(forged + target, KEY16, IV)
        except UnicodeDecodeError:  # the padding passed; the text is garbage
            return True
        except ValueError:
            return False
        return True

    decrypted = bytearray(16)  # the block as AES decrypts it, before the XOR with `before`
    for pad in range(1, 17):
        at = 16 - pad
        for guess in range(256):
            forged = bytearray(16)
            forged[at + 1:] = bytes(b ^ pad for b in decrypted[at + 1:])
            forged[at] = guess
            if not padding_passes(bytes(forged)):
                continue
            if pad == 1:  # rule out a longer padding that happened to pass
                forged[at - 1] ^= 1
                if not padding_passes(bytes(forged)):
                    continue
            decrypted[at] = guess ^ pad
            break
    return bytes(a ^ b for a, b in zip(decrypted, before)).decode(), calls


def ecb_block_cut():
    """ECB ciphertext with a middle block taken out still decrypts, without error."""
    text = "user=alice......role=admin......note=hi"
    data = m_crypt.aes_ecb(text, KEY16)
    return m_crypt.aes_ecb_decrypt(data[:16] + data[32:], KEY16)


def rsa_key_bits():
    return {length: m_crypt.rsa_keys(length)[0].n.bit_length() for length in (1, 53, 117)}


def short_hs256_key():
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        m_crypt.token_decrypt(m_crypt.token("x", "secret"), "secret")
    return sorted({type(w.message).__name__ for w in caught}), len(caught)


def token_errors():
    key = "a secret of at least thirty-two characters"
    try:
        m_crypt.token_decrypt(m_crypt.token("x", key, exp_time=-1), key)
    except OSError as error:
        expired = type(error).__name__, issubclass(type(error), OSError)
    try:
        m_crypt.token_decrypt(m_crypt.token("x", key), key + "!")
    except Exception as error:
        other = type(error).__name__, type(error.__context__).__name__
    return expired, other


def main():
    print("ECB, two equal text blocks give equal ciphertext blocks:", ecb_equal_blocks())
    twin, same = des_parity_twins()
    print(f"DES, keys {KEY_DES!r} and {twin!r} encrypt alike:", same)
    print(f"php_decrypt, wrong ASCII IV: {php_wrong_iv()} of {TRIES} returned text without an error")
    print(f"php_decrypt, wrong ASCII key: {php_wrong_key()} of {TRIES} returned text without an error")
    returned, first_only = cbc_wrong_iv()
    print(f"aes_cbc_decrypt, wrong ASCII IV, 48-character text: {returned} of {TRIES} returned text"
          f" without an error; only the first 16 characters differ: {first_only}")
    returned, _ = cbc_wrong_iv("hello")
    print(f"aes_cbc_decrypt, wrong ASCII IV, 5-character text: {returned} of {TRIES} returned text without an error")
    tries, aes_silent, des_silent = wrong_key_padding()
    print(f"wrong key, 5-character text: aes_cbc_decrypt returned text in {aes_silent} of {tries},"
          f" des_decrypt in {des_silent} of {tries}")
    print("php_decrypt(php('abc\\x00\\x00')):", repr(php_trailing_nuls()))
    print("aes_cbc_decrypt with an edited IV:", repr(cbc_iv_edit()))
    print(f"php_decrypt after one flipped bit, random keys: {php_ciphertext_edit()} of {TRIES}"
          " returned the edited text without an error")
    print("aes_ecb_decrypt with the middle block cut out:", repr(ecb_block_cut()))
    print("aes_cbc_decrypt as a padding oracle (recovered, calls):", cbc_padding_oracle())
    print("rsa_keys(length) bits:", rsa_key_bits())
    print("token with the key 'secret':", short_hs256_key())
    print("token_decrypt errors (expired; wrong key with its __context__):", token_errors())


if __name__ == "__main__":
    start = time.perf_counter()
    main()
    print(f"({time.perf_counter() - start:.1f} s)")
