"""Java (JCE), Go and Node.js (node:crypto) as peers of every operation, both ways.

The recipes are the ones that docs/interop/{java,go,node}.md print: each page's code blocks
are put together into one source file, built and run with the page's own command lines,
beside a small program of tests/peers/programs that reads one task a line ("OP ARG...",
each argument in Base64) and answers each with "ok RESULT" or "error MESSAGE". All the
tasks of a peer go in one run, so the JVM's start and the Go build are paid once; Node runs
once more without OpenSSL's legacy provider, to show where DES stops. The inputs are those
of the PHP, OpenSSL and JOSE peer tests.
"""

import base64
import dataclasses
import json
import pathlib
import re
import subprocess
import time

import pytest
from Crypto.Cipher import AES

from conftest import m
from peer_tools import HERE, PROGRAM_ENV, program, unavailable
from readme_blocks import blocks
from test_peer_openssl import AES_KEYS, DES_KEYS, IV, TEXTS
from test_peer_php import CASES as PHP_CASES, IV_ASCII, KEYS as PHP_KEYS, TEXTS as PHP_TEXTS
from test_token_peers import DATA as TOKEN_DATA, KEY as TOKEN_KEY, OTHER_KEY

PAGES = HERE.parent.parent / "docs" / "interop"
ALL_TEXTS = list(dict.fromkeys([*TEXTS.values(), *PHP_TEXTS.values()]))
DIGESTS = ["md5", "sha1", "sha256", "sha384", "sha512"]
GO_PACKAGES = {"golang-github-golang-jwt-jwt-dev": "/usr/share/gocode/src/github.com/golang-jwt/jwt",
               "golang-golang-x-text-dev": "/usr/share/gocode/src/golang.org/x/text"}
NODE_REFUSES_RSA = ("RSA_PKCS1_PADDING is no longer supported for private decryption, "
                    "this can be reverted with --security-revert=CVE-2023-46809")
NODE_REFUSES_DES = "error:0308010C:digital envelope routines::unsupported"
LEGACY = " --openssl-legacy-provider"


@dataclasses.dataclass(frozen=True)
class Peer:
    name: str
    fence: str  # the language of the page's code blocks
    recipes: str  # the file that they make
    harness: str  # the program in tests/peers/programs that drives them
    needs: tuple  # (program, Debian package, lowest major version, command that prints it)
    checks_claims: bool  # verifyToken checks "exp" and "iss" itself
    euro: bytes  # what its GBK makes of "€"

    def source(self):
        found = [b.text for b in blocks(self.fence, PAGES / f"{self.name}.md")]
        assert found, f"no {self.fence} blocks in {self.name}.md"
        if self.name == "java":  # the imports, then the methods of one class
            return found[0] + "\nfinal class CryptMain {\n\n" + "\n".join(found[1:]) + "}\n"
        return "\n".join(found)

    def commands(self):
        """The page's command lines: the build (if any), then the run."""
        sh = blocks("sh", PAGES / f"{self.name}.md")
        assert len(sh) == 1
        lines = sh[0].text.strip().splitlines()
        return lines[:-1], lines[-1]


PEERS = [
    Peer("java", "java", "CryptMain.java", "Service.java",
         (("java", "openjdk-17-jdk-headless", 17, "-version"), ("javac", "openjdk-17-jdk-headless", 17, "-version")),
         False, b"\xa2\xe3"),
    Peer("go", "go", "crypt_main.go", "service.go", (("go", "golang-go", None, None),), True, b"\x80"),
    Peer("node", "js", "crypt_main.js", "service.js", (("node", "nodejs", 20, "--version"),), True, b"\x80"),
]


def check_installed(peer):
    for name, package, lowest, option in peer.needs:
        path = program(name, package)
        if lowest:
            shown = subprocess.run([path, option], capture_output=True, text=True, env=PROGRAM_ENV)
            major = int(re.search(r"(\d+)[.\d]*", shown.stdout + shown.stderr).group(1))
            if major < lowest:
                unavailable(f"{name} {major} is older than the {lowest} that the recipes need (Debian package {package})")
    if peer.name == "go":
        for package, folder in GO_PACKAGES.items():
            if not pathlib.Path(folder).is_dir():
                unavailable(f"{folder} missing (Debian package {package}; `make peers` installs it as root)")


@pytest.fixture(scope="session")
def built(tmp_path_factory):
    """build(peer) -> (folder, run line): the peer's program, built once, when first asked for."""
    done = {}

    def build(peer):
        if peer.name not in done:
            check_installed(peer)
            folder = tmp_path_factory.mktemp(peer.name)
            (folder / peer.recipes).write_text(peer.source(), encoding="utf-8")
            (folder / peer.harness).write_text((HERE / "programs" / peer.harness).read_text(encoding="utf-8"))
            build_lines, run_line = peer.commands()
            for line in build_lines:
                bash(line, folder)
            done[peer.name] = folder, run_line
        return done[peer.name]

    return build


def bash(line, folder, stdin=b""):
    done = subprocess.run(["bash", "-c", line], cwd=folder, input=stdin, capture_output=True, timeout=300,
                          env=PROGRAM_ENV)
    assert done.returncode == 0, f"{line}\n{done.stderr.decode(errors='replace')}"
    return done.stdout


@dataclasses.dataclass
class Answer:
    ok: bool
    value: bytes

    def result(self, kind=str):
        assert self.ok, f"the peer failed: {self.value.decode()}"
        return self.value.decode() if kind is str else self.value

    def error(self):
        assert not self.ok, f"the peer gave {self.value!r}, not an error"
        return self.value.decode()


def ask(folder, run_line, tasks):
    """Runs the peer once with these tasks, (op, argument...); returns an Answer for each."""
    def field(arg):
        return base64.b64encode(arg.encode() if isinstance(arg, str) else arg).decode()

    stdin = "".join(" ".join([op, *map(field, args)]) + "\n" for op, *args in tasks).encode()
    lines = bash(run_line, folder, stdin).decode().splitlines()
    assert len(lines) == len(tasks)
    return [Answer(status == "ok", base64.b64decode(value)) for status, value in (line.split(" ") for line in lines)]


# ---- what each operation sends, and what it checks of the answer -------------------------
# Each family gives (task, check) pairs; a check takes the peer's Answer.

def equals(expected):
    def check(answer):
        assert answer.result(type(expected)) == expected
    return check


def opened_here(decrypt, *args, text, same_as=None, base64_form=None):
    """The peer's ciphertext opens here to `text` (and is `same_as`, the module's own)."""
    def check(answer):
        made = answer.result(bytes)
        assert decrypt(made, *args) == text
        if same_as is not None:
            assert made == same_as
        if base64_form is not None:  # the php/php_decrypt form with base64s=True
            assert base64_form[0] == base64.b64encode(made).decode()
            assert base64_form[1](base64.b64encode(made).decode()) == text
    return check


def node_rsa(text):
    """Node on OpenSSL 3.0 and 3.1 refuses PKCS#1 v1.5 private decryption with its fixed
    message; on OpenSSL 3.2 and later, whose implicit rejection answers a bad padding
    with a made-up plaintext, it decrypts."""
    def check(answer):
        if answer.ok:
            equals(text)(answer)
        else:
            refused(re.escape(NODE_REFUSES_RSA))(answer)
    return check


def refused(pattern=""):
    """The peer refuses, with a message that matches `pattern` (in any case)."""
    def check(answer):
        assert re.search(pattern, answer.error(), re.IGNORECASE)
    return check


def digits(method, text):
    def check(answer):
        found = answer.result(str)
        assert found == getattr(m, method)(text, "lower") and found.upper() == getattr(m, method)(text, "upper")
    return check


def digests(peer, rsa_pems):
    for method in DIGESTS:
        for text in ALL_TEXTS:
            yield ("digest", method, text), digits(method, text)


def base64s(peer, rsa_pems):
    for text in ALL_TEXTS:
        yield ("base64_decode", m.base64(text)), equals(text)
        yield ("base64", text), opened_here(lambda made: m.base64_decrypt(made.decode()), text=text,
                                            same_as=m.base64(text).encode())


def hmac_md5(peer, rsa_pems):
    for text in ALL_TEXTS:
        for key in [*AES_KEYS.values(), *PHP_KEYS.values()]:
            yield ("hmac_md5", text, key), equals(m.md5_hmac(text, key))


def block_ciphers(name, encrypt, decrypt, keys, iv=()):
    for key in keys:
        for text in TEXTS.values():
            made = encrypt(text, key, *iv)
            yield (f"{name}_decrypt", made, key, *iv), equals(text)
            yield (f"{name}_encrypt", text, key, *iv), opened_here(decrypt, key, *iv, text=text, same_as=made)


def aes_ecb(peer, rsa_pems):
    yield from block_ciphers("aes_ecb", m.aes_ecb, m.aes_ecb_decrypt, AES_KEYS.values())


def aes_cbc(peer, rsa_pems):
    yield from block_ciphers("aes_cbc", m.aes_cbc, m.aes_cbc_decrypt, AES_KEYS.values(), (IV,))


def des(peer, rsa_pems):
    yield from block_ciphers("des", m.des, m.des_decrypt, DES_KEYS.values())


def php(peer, rsa_pems):
    for key, iv in (case.values for case in PHP_CASES):
        for text in PHP_TEXTS.values():
            made = m.php(text, key, iv)
            yield ("php_decrypt", made, key, iv), equals(text)
            yield ("php_encrypt", text, key, iv), opened_here(
                m.php_decrypt, key, iv, text=text, same_as=made,
                base64_form=(m.php(text, key, iv, True), lambda b64, key=key, iv=iv: m.php_decrypt(b64, key, iv, True)))
    # Trailing NUL characters are stripped on both sides, others kept.
    text, key = "abc\x00de\x00\x00", "key"
    yield ("php_decrypt", m.php(text, key, IV_ASCII), key, IV_ASCII), equals("abc\x00de")
    yield ("php_encrypt", text, key, IV_ASCII), opened_here(m.php_decrypt, key, IV_ASCII, text="abc\x00de")

    def euro_refused(answer):  # the peer's GBK has "€", Python's has not
        made = answer.result(bytes)
        plain = AES.new(b"key".ljust(16, b"\0"), AES.MODE_CBC, IV_ASCII.encode()).decrypt(made)
        assert plain.rstrip(b"\0") == b"5 " + peer.euro
        with pytest.raises(UnicodeDecodeError):
            m.php_decrypt(made, "key", IV_ASCII)
    yield ("php_encrypt", "5 €", "key", IV_ASCII), euro_refused


def rsa(peer, rsa_pems):
    public, private, pub, pri = rsa_pems
    for text in TEXTS.values():
        raw, digits = m.rsa(text, pub), m.rsa(text, pub, True)
        for made in (raw, bytes.fromhex(digits.decode())):
            yield ("rsa_decrypt", made, private), equals(text) if peer.name != "node" else node_rsa(text)

        def opened(answer, text=text):
            made = answer.result(bytes)
            assert m.rsa_decrypt(made, pri) == text
            assert m.rsa_decrypt(made.hex().upper(), pri, True) == text  # upper-case digits too
        yield ("rsa_encrypt", text, public), opened


def tokens(peer, rsa_pems):
    issuer = ("Tarvex",) if peer.checks_claims else ()

    def claims_of(data, lifetime):
        def check(answer):
            claims = json.loads(answer.result(str))
            assert claims["data"] == data and claims["iss"] == "Tarvex"
            assert ("exp" not in claims) if lifetime is None else claims["exp"] - claims["iat"] in (lifetime, lifetime + 1)
        return check

    for data in TOKEN_DATA:
        yield ("token_verify", m.token(data, TOKEN_KEY), TOKEN_KEY, *issuer), claims_of(data, 86400)
        now = int(time.time())
        claims = json.dumps({"data": data, "iat": now, "iss": "Tarvex", "exp": now + 600}, ensure_ascii=False)
        yield ("token_issue", claims, TOKEN_KEY), opened_here(lambda token: m.token_decrypt(token.decode(), TOKEN_KEY),
                                                              text=data)
    yield ("token_verify", m.token("x", TOKEN_KEY, None), TOKEN_KEY, *issuer), claims_of("x", None)
    yield ("token_verify", m.token("x", OTHER_KEY), TOKEN_KEY, *issuer), refused("signature")

    def wrong_key_refused(answer):
        with pytest.raises(Exception, match="^系统异常：Signature verification failed$"):
            m.token_decrypt(answer.result(str), TOKEN_KEY)
    yield ("token_issue", json.dumps({"data": 1, "iss": "Tarvex"}), OTHER_KEY), wrong_key_refused
    if peer.checks_claims:
        yield ("token_verify", m.token("x", TOKEN_KEY, -10), TOKEN_KEY, *issuer), refused("expired")
        yield ("token_verify", m.token("x", TOKEN_KEY, issuer="Shop"), TOKEN_KEY, *issuer), refused("issuer")


FAMILIES = {f.__name__: f for f in [digests, base64s, hmac_md5, aes_ecb, aes_cbc, php, des, rsa, tokens]}


@pytest.fixture(scope="module")
def rsa_pems():
    """The PEM text of a key pair of rsa_keys(53) (512 bits, as in the OpenSSL peer test), and the keys."""
    pub, pri = m.rsa_keys(53)
    return pub.save_pkcs1().decode(), pri.save_pkcs1().decode(), pub, pri


@pytest.fixture(scope="module", params=PEERS, ids=[p.name for p in PEERS])
def peer(request):
    return request.param


@pytest.fixture(scope="module")
def answers(peer, built, rsa_pems):
    """{family: [(task, check, answer)]}: one run of the peer for all of them."""
    work = [(name, task, check) for name, family in FAMILIES.items() for task, check in family(peer, rsa_pems)]
    folder, run_line = built(peer)
    replies = ask(folder, run_line, [task for _, task, _ in work])
    found = {name: [] for name in FAMILIES}
    for (name, task, check), answer in zip(work, replies):
        found[name].append((task, check, answer))
    return found


@pytest.mark.parametrize("family", FAMILIES)
def test_both_ways(peer, family, answers):
    failures = []
    for (op, *args), check, answer in answers[family]:
        try:
            check(answer)
        except Exception as error:
            shown = ", ".join(repr(a) if len(repr(a)) < 60 else repr(a)[:57] + "..." for a in args)
            failures.append(f"{op}({shown}): {type(error).__name__}: {error}")
    assert answers[family] and not failures, "\n".join(failures)


def test_node_refuses_des_without_the_legacy_provider(built):
    node = next(p for p in PEERS if p.name == "node")
    folder, run_line = built(node)
    assert LEGACY in run_line
    tasks = [("des_encrypt", "text", DES_KEYS["ascii"]), ("des_decrypt", m.des("text", DES_KEYS["ascii"]), DES_KEYS["ascii"]),
             ("aes_ecb_encrypt", "text", AES_KEYS["aes192"])]
    des_made, des_opened, aes_made = ask(folder, run_line.replace(LEGACY, ""), tasks)
    assert des_made.error() == des_opened.error() == NODE_REFUSES_DES
    assert m.aes_ecb_decrypt(aes_made.result(bytes), AES_KEYS["aes192"]) == "text"  # only DES is gone


@pytest.mark.parametrize("text", [NODE_REFUSES_RSA, NODE_REFUSES_DES], ids=["rsa", "des"])
def test_node_page_quotes_the_refusals(text):
    page = " ".join((PAGES / "node.md").read_text(encoding="utf-8").replace("\n  > ", " ").split())
    assert text in page
