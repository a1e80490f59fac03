"""The shell recipes of the README and of the documentation's pages, run as printed: the
sessions ("$ command" lines and the output printed under each), the `od` lines that give
the hex digits of a key and an IV, and every openssl line, each with the files it names
made by the module (or opened by it afterwards). The pages of the PHP, OpenSSL and JOSE
recipes are read, and the other pages of docs/ besides the interoperability pages of
other peers, which have tests of their own."""

import os
import re
import subprocess
import sys

import pytest
import rsa

from conftest import m
from peer_tools import PROGRAM_ENV, program
from readme_blocks import DOCS, README, TOP_PAGES, blocks, run_python, section

PAGES = [README, *TOP_PAGES, *sorted(DOCS.glob("*.md")),
         *(DOCS / "interop" / f"{peer}.md" for peer in ("php", "openssl", "jose"))]
SH = [block for page in PAGES for block in blocks("sh", page)]
# The blocks that build or run the project itself (make targets, the CI script): not run
# here. Each of their lines is one of these commands.
NOT_RUN = ("make ", "bash .ci/run", "CI=true bash .ci/run")
SESSIONS = [b for b in SH if b.text.startswith("$ ")]
HEX = [b for b in SH if "od -v" in b.text]
OPENSSL = [line for b in SH for line in b.text.splitlines() if line.startswith("openssl ")]
PHP_SCRIPTS = {re.search(r"// php (\w+\.php)", b.text).group(1): b.text for page in PAGES for b in blocks("php", page)}
# the block that writes the key pair as PEM files, for the openssl pkeyutl lines
PEM_BLOCK = [b for page in PAGES for b in blocks("python", page) if ".pem\").write_bytes(" in b.text]

TEXT = "中文测试：你好，世界"
# The example key and IV that the OpenSSL page gives for the od lines; its key is two
# equal 16-byte lines, which od folds into "*" without -v.
EXAMPLE = re.search(r"`KEY=(\S+) IV=(\S+)`", section("The OpenSSL command line", DOCS / "interop" / "openssl.md"))
KEYS = {
    "aes-128": "密钥密钥abcd",  # 16 UTF-8 bytes
    "aes-192": "0123456789abcdefghijklmn",
    "aes-256": EXAMPLE.group(1),
    "des": "12345678",
}
IV = EXAMPLE.group(2)


def test_every_shell_block_is_run_or_builds_the_project():
    for block in SH:
        lines = [line for line in block.text.splitlines() if line and not line.startswith("#")]
        run_here = block in SESSIONS or block in HEX or all(line.startswith("openssl ") for line in lines)
        assert run_here or all(line.startswith(NOT_RUN) for line in lines), block.id
    # the sessions: the README's and the getting-started page's (md5), and the PHP page's
    assert len(SESSIONS) == 3 and len(HEX) == 1 and len(OPENSSL) == 8 and len(PEM_BLOCK) == 1
    assert set(PHP_SCRIPTS) == {"decrypt.php", "encrypt.php"}


@pytest.fixture(scope="module")
def bash():
    return program("bash", "bash")


@pytest.fixture
def folder(tmp_path, monkeypatch):
    """A folder where `.venv/bin/python` is this interpreter (as after `make`), with the
    PHP page's scripts saved as its session says."""
    wrapper = tmp_path / ".venv" / "bin" / "python"
    wrapper.parent.mkdir(parents=True)
    preload = os.environ.get("LD_PRELOAD")  # a sanitizer runtime: the module needs it too
    env = f"LD_PRELOAD='{preload}' " if preload else ""
    wrapper.write_text(f"#!/bin/sh\n{env}exec '{sys.executable}' \"$@\"\n")
    wrapper.chmod(0o755)
    for name, text in PHP_SCRIPTS.items():
        (tmp_path / name).write_text(text, encoding="utf-8")
    monkeypatch.chdir(tmp_path)
    return tmp_path


def shell(bash, script, folder, **variables):
    done = subprocess.run([bash, "-c", script], cwd=folder, capture_output=True, timeout=60,
                          env=dict(PROGRAM_ENV, **variables))
    assert done.returncode == 0, f"{script}\n{done.stderr.decode(errors='replace')}"
    return done.stdout


@pytest.mark.parametrize("block", SESSIONS, ids=[b.id for b in SESSIONS])
def test_session_runs_as_printed(block, bash, folder):
    steps = re.findall(r"^\$ (.*)\n((?:(?!\$ ).*\n)*)", block.text, re.MULTILINE)
    assert steps
    for command, output in steps:
        if command.startswith("php "):
            program("php", "php-cli")
        # (the PHP scripts end their output without a line break, which a terminal
        # shows the same, with the prompt after it)
        assert shell(bash, command, folder).decode("utf-8").rstrip("\n") == output.rstrip("\n"), command


@pytest.mark.parametrize("key, iv", [(EXAMPLE.group(1), IV), (KEYS["aes-128"], "中文向量abcd"), ("k" * 64, "i" * 16)],
                         ids=["page-example", "utf8", "four-equal-lines"])
def test_hex_digits_of_key_and_iv(key, iv, bash, folder):
    script = HEX[0].text + 'printf "%s %s" "$KEY_HEX" "$IV_HEX"\n'
    assert shell(bash, script, folder, KEY=key, IV=iv).decode() == f"{key.encode().hex()} {iv.encode().hex()}"


def encryption(cipher):
    """The module's pair of operations for an `openssl enc` cipher, with their key (and IV)."""
    if cipher == "des-ecb":
        return m.des, m.des_decrypt, (KEYS["des"],)
    family, mode = cipher.rsplit("-", 1)
    key = KEYS[family]
    if mode == "ecb":
        return m.aes_ecb, m.aes_ecb_decrypt, (key,)
    return m.aes_cbc, m.aes_cbc_decrypt, (key, IV)


@pytest.fixture
def openssl():
    path = program("openssl", "openssl")
    if "des-ecb" in os.environ.get("PYTEST_CURRENT_TEST", ""):
        probe = subprocess.run([path, "list", "-providers", "-provider", "legacy", "-provider", "default"],
                               capture_output=True, env=PROGRAM_ENV)
        if probe.returncode != 0:
            message = "this openssl has no legacy provider, which DES needs"
            if os.environ.get("CI"):
                pytest.fail(message)
            pytest.skip(message)
    return path


def line_id(line):
    cipher = re.search(r"-(aes-\d+-\w+|des-ecb) |pkeyutl", line).group(0).strip(" -")
    return f"{cipher}-{'decrypt' if re.search(r' -d | -decrypt ', line) else 'encrypt'}"


@pytest.mark.parametrize("line", OPENSSL, ids=[line_id(line) for line in OPENSSL])
def test_openssl_line_runs_as_printed(line, bash, folder, openssl):
    decrypting = " -d " in line or " -decrypt " in line
    if "pkeyutl" in line:
        run_python(PEM_BLOCK[0].text, PEM_BLOCK[0].name)  # writes public.pem and private.pem here
        pub = rsa.PublicKey.load_pkcs1((folder / "public.pem").read_bytes())
        pri = rsa.PrivateKey.load_pkcs1((folder / "private.pem").read_bytes())
        encrypt, decrypt, extra = (lambda text, key: m.rsa(text, pub)), (lambda data, key: m.rsa_decrypt(data, pri)), (None,)
        variables = {}
    else:
        cipher = re.search(r"-(aes-\d+-\w+|des-ecb) ", line).group(1)
        encrypt, decrypt, extra = encryption(cipher)
        variables = {"KEY": extra[0], "IV": IV}
    script = (HEX[0].text if variables else "") + line + "\n"
    if decrypting:
        (folder / "secret.bin").write_bytes(encrypt(TEXT, *extra))
        assert shell(bash, script, folder, **variables) == TEXT.encode()
    else:
        (folder / "plain.txt").write_bytes(TEXT.encode())
        out = shell(bash, script, folder, **variables)
        made = (folder / "secret.bin").read_bytes() if "-out secret.bin" in line else out
        assert decrypt(made, *extra) == TEXT
