"""The openssl command line as the peer of AES-ECB, AES-CBC, DES-ECB and RSA (PKCS#1 v1.5).

OpenSSL pads and unpads by itself here (PKCS#7 for the block ciphers, and `openssl enc -d`
refuses a wrong padding), so these check the module's padding as well as its ciphers. The
command lines are the recipes shown in the documentation (docs/interop/openssl.md), with
its placeholders filled in.
"""

import os
import re
import subprocess

import pytest
import rsa

from conftest import m
from peer_tools import PROGRAM_ENV, interop_page, program, run

# The recipes, exactly as the OpenSSL page writes them (placeholders in braces).
ENC_DECRYPT = "openssl enc -d -{cipher} -K {key_hex}"
ENC_ENCRYPT = "openssl enc -{cipher} -K {key_hex}"
IV_OPTION = " -iv {iv_hex}"
LEGACY = " -provider legacy -provider default"  # OpenSSL 3 keeps DES in its legacy provider
RSA_DECRYPT = "openssl pkeyutl -decrypt -inkey private.pem -pkeyopt rsa_padding_mode:pkcs1"
RSA_ENCRYPT = "openssl pkeyutl -encrypt -pubin -inkey public.pem -pkeyopt rsa_padding_mode:pkcs1"
PAGE_PLACEHOLDERS = {"key_hex": "$KEY_HEX", "iv_hex": "$IV_HEX"}

TEXTS = {
    "empty": "",
    "one-block": "0123456789abcdef",  # a whole block of padding follows
    "utf8": "中文测试：你好，世界",
    "longest": "x" * 53,  # 53 bytes: the most that a 512-bit RSA key holds
}
AES_KEYS = {
    "aes128-utf8": "密钥密钥abcd",  # 4 three-byte characters and 4 ASCII: 16 bytes
    "aes192": "0123456789abcdefghijklmn",
    "aes256": "0123456789abcdefghijklmnopqrstuv",
}
IV = "中文向量abcd"  # 16 UTF-8 bytes


@pytest.fixture(scope="module")
def openssl():
    return program("openssl", "openssl")


def enc(openssl, template, cipher, key, iv=None, legacy=False):
    """The argument list of an `openssl enc` recipe for text key and IV (hex of their UTF-8)."""
    line = template + (IV_OPTION if iv is not None else "") + (LEGACY if legacy else "")
    fields = {"cipher": cipher, "key_hex": key.encode().hex(), "iv_hex": iv.encode().hex() if iv else ""}
    return [openssl] + line.format(**fields).split()[1:]


@pytest.mark.parametrize("mode", ["ecb", "cbc"])
@pytest.mark.parametrize("key", AES_KEYS.values(), ids=AES_KEYS.keys())
def test_aes_both_ways(openssl, mode, key):
    cipher, iv = f"aes-{len(key.encode()) * 8}-{mode}", IV if mode == "cbc" else None
    encrypt, decrypt = (m.aes_ecb, m.aes_ecb_decrypt) if mode == "ecb" else (m.aes_cbc, m.aes_cbc_decrypt)
    extra = (iv,) if iv else ()
    for text in TEXTS.values():
        assert run(enc(openssl, ENC_DECRYPT, cipher, key, iv), encrypt(text, key, *extra)) == text.encode()
        assert decrypt(run(enc(openssl, ENC_ENCRYPT, cipher, key, iv), text.encode()), key, *extra) == text


@pytest.fixture(scope="module")
def des_legacy(openssl):
    """Whether `openssl enc` needs the legacy provider for DES (OpenSSL 3 does), checked to work."""
    version = run([openssl, "version"]).decode()
    if not re.match(r"OpenSSL [3-9]", version):
        return False
    probe = subprocess.run([openssl, "list", "-providers"] + LEGACY.split(), capture_output=True, env=PROGRAM_ENV)
    if probe.returncode != 0:
        message = f"{version.strip()} has no legacy provider, which DES needs"
        if os.environ.get("CI"):
            pytest.fail(message)
        pytest.skip(message)
    return True


DES_KEYS = {"ascii": "12345678", "utf8": "密钥ab"}  # both 8 UTF-8 bytes


@pytest.mark.parametrize("key", DES_KEYS.values(), ids=DES_KEYS.keys())
def test_des_both_ways(openssl, des_legacy, key):
    for text in TEXTS.values():
        assert run(enc(openssl, ENC_DECRYPT, "des-ecb", key, legacy=des_legacy), m.des(text, key)) == text.encode()
        made = run(enc(openssl, ENC_ENCRYPT, "des-ecb", key, legacy=des_legacy), text.encode())
        assert m.des_decrypt(made, key) == text


@pytest.fixture(scope="module", params=["rsa_keys", "openssl"])
def key_files(request, openssl, tmp_path_factory):
    """A key pair as python-rsa objects and as the PEM files that openssl reads: made by
    rsa_keys(53) and written with python-rsa's save_pkcs1, or made by openssl and loaded."""
    folder = tmp_path_factory.mktemp(request.param)
    private, public = folder / "private.pem", folder / "public.pem"
    if request.param == "rsa_keys":
        pub, pri = m.rsa_keys(53)
        private.write_bytes(pri.save_pkcs1())
        public.write_bytes(pub.save_pkcs1())
    else:
        run([openssl, "genrsa", "-traditional", "-out", str(private), "1024"])
        run([openssl, "rsa", "-in", str(private), "-RSAPublicKey_out", "-out", str(public)])
        pri = rsa.PrivateKey.load_pkcs1(private.read_bytes())
        pub = rsa.PublicKey.load_pkcs1(public.read_bytes())
    return pub, pri, private, public


def rsa_command(openssl, template, private, public):
    line = template.replace("private.pem", str(private)).replace("public.pem", str(public))
    return [openssl] + line.split()[1:]


@pytest.mark.parametrize("hexs", [False, True], ids=["raw", "hex"])
def test_rsa_both_ways(openssl, key_files, hexs):
    pub, pri, private, public = key_files
    for text in TEXTS.values():
        ciphertext = m.rsa(text, pub, hexs)
        raw = bytes.fromhex(ciphertext.decode()) if hexs else ciphertext
        assert run(rsa_command(openssl, RSA_DECRYPT, private, public), raw) == text.encode()
        raw = run(rsa_command(openssl, RSA_ENCRYPT, private, public), text.encode())
        assert m.rsa_decrypt(raw.hex().upper() if hexs else raw, pri, hexs) == text  # upper-case digits too


def test_docs_show_the_command_lines_that_run_here():
    page = interop_page("openssl")
    lines = [
        ENC_DECRYPT.format(cipher="aes-128-ecb", **PAGE_PLACEHOLDERS),
        (ENC_DECRYPT + IV_OPTION).format(cipher="aes-128-cbc", **PAGE_PLACEHOLDERS),
        ENC_ENCRYPT.format(cipher="aes-256-ecb", **PAGE_PLACEHOLDERS),
        (ENC_ENCRYPT + IV_OPTION).format(cipher="aes-256-cbc", **PAGE_PLACEHOLDERS),
        (ENC_DECRYPT + LEGACY).format(cipher="des-ecb", **PAGE_PLACEHOLDERS),
        (ENC_ENCRYPT + LEGACY).format(cipher="des-ecb", **PAGE_PLACEHOLDERS),
        RSA_DECRYPT,
        RSA_ENCRYPT,
    ]
    missing = [line for line in lines if line not in page]
    assert not missing
