"""Every method of _Crypt with one working call and one call per way it can fail.

Shared by the reliability tests (leak sweep, threads, allocation failures). Expected
results are computed with the packages themselves, not with crypt_main.
"""

import base64
import contextlib
import dataclasses
import hashlib
import hmac
import types

import jwt
import rsa as rsa_package
from Crypto.Cipher import AES, DES
from Crypto.Util.Padding import pad

from conftest import DELETE, module_global
from crypt_main import m_crypt


def fresh(text):
    """A new str object equal to `text` (literals are interned and often immortal)."""
    return (text + "#")[:-1]


TEXT = fresh("some text, é and 世界")
KEY16 = fresh("0123456789abcdef")
IV16 = fresh("fedcba9876543210")
KEY8 = fresh("8bytekey")
PHP_KEY = fresh("short key")
HMAC_KEY = fresh("hmac key")
TOKEN_KEY = fresh("a token key of at least thirty-two bytes")
CLOCK = 1_700_000_000.75


def add_to_16(data):
    return data + b"\0" * (-len(data) % 16)


CT_ECB = AES.new(KEY16.encode(), AES.MODE_ECB).encrypt(pad(TEXT.encode(), 16))
CT_CBC = AES.new(KEY16.encode(), AES.MODE_CBC, IV16.encode()).encrypt(pad(TEXT.encode(), 16))
CT_PHP = AES.new(add_to_16(PHP_KEY.encode("gbk")), AES.MODE_CBC, IV16.encode()).encrypt(add_to_16(TEXT.encode("gbk")))
CT_DES = DES.new(KEY8.encode(), DES.MODE_ECB).encrypt(pad(TEXT.encode(), 8))
B64 = base64.encodebytes(TEXT.encode()).decode().replace("\n", "")

# One small key pair, made once: key generation is far too slow for loops.
PUB, PRI = rsa_package.newkeys(512)
CT_RSA = rsa_package.encrypt(TEXT.encode(), PUB)
CT_RSA_NOT_UTF8 = rsa_package.encrypt(b"\xff\xfe", PUB)

TOKEN_DATA = {"user": fresh("someone"), "n": [1, 2, 3]}
TOKEN = jwt.encode({"data": TOKEN_DATA, "iat": int(CLOCK), "iss": "Tarvex"}, TOKEN_KEY, algorithm="HS256")
EXPIRED = jwt.encode({"data": 1, "iat": 1, "iss": "Tarvex", "exp": 2}, TOKEN_KEY, algorithm="HS256")


class FixedClock:
    """Stands in for the module global `time`: tokens become deterministic."""

    @staticmethod
    def time():
        return CLOCK


class FakeRsa(types.ModuleType):
    """Stands in for the module global `rsa`: newkeys hands out the one small pair (and
    keeps the size last asked for); encryption and decryption are the package's."""

    def __init__(self, pair=(PUB, PRI)):
        super().__init__("rsa")
        self.pair = pair
        self.size = None
        self.encrypt = rsa_package.encrypt
        self.decrypt = rsa_package.decrypt

    def newkeys(self, size):
        self.size = size
        return self.pair


class EncodesTo:
    """A value whose encode() returns `result` whatever it is asked."""

    def __init__(self, result):
        self.result = result

    def encode(self, *args, **kwargs):
        return self.result


class EqRaises:
    def __eq__(self, other):
        raise ArithmeticError("no comparison")

    __hash__ = object.__hash__


class BoolRaises:
    def __bool__(self):
        raise ArithmeticError("no truth")


class AddRaises(int):
    def __radd__(self, other):
        raise ArithmeticError("no sum")


@dataclasses.dataclass
class Case:
    method: str
    kind: str  # "ok" or the class of failure
    args: tuple = ()
    kwargs: dict = dataclasses.field(default_factory=dict)
    error: type | tuple | None = None  # None: the call succeeds
    expected: object = None  # the result, for a working call whose result is fixed
    check: object = None  # or a test of the result
    globals: dict = dataclasses.field(default_factory=dict)  # module globals bound for the call
    count: int = 3000  # calls in the leak sweep

    @property
    def id(self):
        return f"{self.method}-{self.kind}"

    def function(self):
        return getattr(m_crypt, self.method)

    def call(self):
        return self.function()(*self.args, **self.kwargs)

    @contextlib.contextmanager
    def context(self):
        with contextlib.ExitStack() as stack:
            for name, value in self.globals.items():
                stack.enter_context(module_global(name, value))
            yield

    def verify(self, result):
        """Whether `result` is what this working call must give."""
        if self.check is not None:
            return self.check(result)
        return type(result) is type(self.expected) and result == self.expected


def ok(method, *args, expected=None, check=None, count=3000, globals=None, **kwargs):
    return Case(method, "ok", args, kwargs, None, expected, check, globals or {}, count)


def fails(method, kind, error, *args, count=3000, globals=None, **kwargs):
    return Case(method, kind, args, kwargs, error, globals=globals or {}, count=count)


def missing(method, name, *args, count=3000, **kwargs):
    return Case(method, f"missing-{name}", args, kwargs, NameError, globals={name: DELETE}, count=count)


def rsa_round_trip(hexs):
    def check(result):
        raw = base64.b16decode(result.upper()) if hexs else result
        return type(result) is bytes and rsa_package.decrypt(raw, PRI) == TEXT.encode()
    return check


def digest_cases(name, line_bytes_ok):
    expected = getattr(hashlib, name)(TEXT.encode()).hexdigest()
    cases = [
        ok(name, TEXT, "upper", expected=expected.upper()),
        ok(name, value=TEXT, fmt=fresh("lower-case"), expected=expected),
        fails(name, "wrong-type", AttributeError, 12345678901234567890, "upper"),
        fails(name, "bad-encoding", UnicodeEncodeError, fresh("ab\ud800cd"), "lower"),
        fails(name, "library-error", TypeError, EncodesTo(fresh("not bytes")), "lower"),
        fails(name, "fmt-eq-raises", ArithmeticError, TEXT, EqRaises()),
        missing(name, "hashlib", TEXT, "lower"),
    ]
    if line_bytes_ok:
        cases.append(ok(name, TEXT.encode(), None, expected=expected))
    else:
        cases.append(fails(name, "bytes", AttributeError, TEXT.encode(), "lower"))
    return cases


CASES = [
    ok("__init__", expected=None),
    fails("__init__", "binding", TypeError, 1),

    ok("aes_ecb", TEXT, KEY16, expected=CT_ECB),
    fails("aes_ecb", "wrong-type", AttributeError, 12345678901234567890, KEY16),
    fails("aes_ecb", "bad-length", ValueError, TEXT, fresh("short")),
    fails("aes_ecb", "bad-encoding", UnicodeEncodeError, fresh("ab\udc80cd"), KEY16),
    fails("aes_ecb", "binding", TypeError, TEXT, KEY16, extra=1),
    missing("aes_ecb", "AES", TEXT, KEY16),
    missing("aes_ecb", "pad", TEXT, KEY16),

    ok("aes_ecb_decrypt", CT_ECB, KEY16, expected=TEXT),
    fails("aes_ecb_decrypt", "wrong-type", TypeError, fresh("not bytes at all"), KEY16),
    fails("aes_ecb_decrypt", "bad-length", ValueError, CT_ECB[:-1], KEY16),
    fails("aes_ecb_decrypt", "library-error", ValueError, CT_ECB, fresh("0123456789abcdeX")),
    fails("aes_ecb_decrypt", "bad-encoding", UnicodeEncodeError, CT_ECB, fresh("\udc80" * 16)),
    missing("aes_ecb_decrypt", "unpad", CT_ECB, KEY16),

    ok("aes_cbc", TEXT, KEY16, IV16, expected=CT_CBC),
    fails("aes_cbc", "wrong-type", AttributeError, TEXT, KEY16, IV16.encode()),
    fails("aes_cbc", "bad-length", ValueError, TEXT, KEY16, fresh("short iv")),
    fails("aes_cbc", "bad-encoding", UnicodeEncodeError, fresh("x\ud800"), KEY16, IV16),
    missing("aes_cbc", "AES", TEXT, KEY16, IV16),

    ok("aes_cbc_decrypt", CT_CBC, KEY16, IV16, expected=TEXT),
    fails("aes_cbc_decrypt", "wrong-type", TypeError, fresh("not bytes at all"), KEY16, IV16),
    fails("aes_cbc_decrypt", "bad-length", ValueError, CT_CBC + b"x", KEY16, IV16),
    fails("aes_cbc_decrypt", "library-error", ValueError, CT_CBC, fresh("0123456789abcdeX"), IV16),
    missing("aes_cbc_decrypt", "unpad", CT_CBC, KEY16, IV16),

    ok("php", TEXT, PHP_KEY, IV16, expected=CT_PHP),
    ok("php", TEXT, PHP_KEY, IV16, base64s=True,
       expected=base64.encodebytes(CT_PHP).decode().replace("\n", "")),
    fails("php", "wrong-type", AttributeError, TEXT, PHP_KEY.encode(), IV16),
    fails("php", "bad-length", ValueError, TEXT, fresh("k" * 33), IV16),
    fails("php", "bad-encoding", UnicodeEncodeError, fresh("not gbk: \U0001F600"), PHP_KEY, IV16),
    fails("php", "library-error", ValueError, TEXT, fresh(""), IV16),
    fails("php", "flag-raises", ArithmeticError, TEXT, PHP_KEY, IV16, BoolRaises()),
    missing("php", "AES", TEXT, PHP_KEY, IV16),
    missing("php", "base64", TEXT, PHP_KEY, IV16, True),

    ok("php_decrypt", CT_PHP, PHP_KEY, IV16, expected=TEXT),
    ok("php_decrypt", base64.encodebytes(CT_PHP).decode(), PHP_KEY, IV16, True, expected=TEXT),
    fails("php_decrypt", "wrong-type", TypeError, fresh("not bytes at all"), PHP_KEY, IV16),
    fails("php_decrypt", "bad-length", ValueError, CT_PHP[:-1], PHP_KEY, IV16),
    fails("php_decrypt", "bad-encoding", Exception, fresh("abc"), PHP_KEY, IV16, True),  # binascii.Error
    missing("php_decrypt", "base64", fresh("QUJD"), PHP_KEY, IV16, True),

    ok("_add_to_16", TEXT, expected=add_to_16(TEXT.encode("gbk"))),
    fails("_add_to_16", "wrong-type", AttributeError, b"bytes have no encode"),
    fails("_add_to_16", "bad-encoding", UnicodeEncodeError, fresh("\U0001F600 is not gbk")),
    fails("_add_to_16", "library-error", TypeError, EncodesTo(12345678901234567890)),

    ok("des", TEXT, KEY8, expected=CT_DES),
    fails("des", "wrong-type", AttributeError, TEXT, KEY8.encode()),
    fails("des", "bad-length", ValueError, TEXT, fresh("7 bytes")),
    fails("des", "bad-encoding", UnicodeEncodeError, fresh("x\ud800"), KEY8),
    missing("des", "DES", TEXT, KEY8),

    ok("des_decrypt", CT_DES, KEY8, expected=TEXT),
    fails("des_decrypt", "wrong-type", TypeError, fresh("not bytes at all"), KEY8),
    fails("des_decrypt", "bad-length", ValueError, CT_DES[:-1], KEY8),
    fails("des_decrypt", "library-error", (ValueError, UnicodeDecodeError), CT_DES, fresh("8bytekeX")),
    missing("des_decrypt", "DES", CT_DES, KEY8),

    ok("base64", TEXT, expected=B64),
    fails("base64", "wrong-type", AttributeError, TEXT.encode()),
    fails("base64", "bad-encoding", UnicodeEncodeError, fresh("x\udfff")),
    missing("base64", "base64", TEXT),

    ok("base64_decrypt", B64, expected=TEXT),
    fails("base64_decrypt", "wrong-type", AttributeError, B64.encode()),
    fails("base64_decrypt", "bad-length", Exception, fresh("abcde")),  # binascii.Error
    fails("base64_decrypt", "bad-encoding", UnicodeDecodeError, fresh("//79")),
    missing("base64_decrypt", "base64", B64),

    *digest_cases("md5", True),
    *digest_cases("sha1", False),
    *digest_cases("sha256", False),
    *digest_cases("sha384", False),
    *digest_cases("sha512", False),

    ok("md5_hmac", TEXT, HMAC_KEY, expected=hmac.new(HMAC_KEY.encode(), TEXT.encode(), hashlib.md5).digest()),
    ok("md5_hmac", TEXT.encode(), HMAC_KEY.encode(),
       expected=hmac.new(HMAC_KEY.encode(), TEXT.encode(), hashlib.md5).digest()),
    fails("md5_hmac", "wrong-type", AttributeError, None, HMAC_KEY),
    fails("md5_hmac", "bad-encoding", UnicodeEncodeError, TEXT, fresh("k\ud800")),
    fails("md5_hmac", "library-error", TypeError, EncodesTo(fresh("not bytes")), HMAC_KEY),
    missing("md5_hmac", "hmac", TEXT, HMAC_KEY),
    missing("md5_hmac", "hashlib", TEXT, HMAC_KEY),

    ok("rsa_keys", 53, expected=(PUB, PRI), globals={"rsa": FakeRsa()}),
    ok("rsa_keys", expected=(PUB, PRI), globals={"rsa": FakeRsa()}),
    fails("rsa_keys", "wrong-type", TypeError, fresh("16")),
    fails("rsa_keys", "library-error", ValueError, 53, globals={"rsa": FakeRsa(pair=(PUB, PRI, PUB))}),
    missing("rsa_keys", "rsa", 53),

    ok("rsa", TEXT, PUB, check=rsa_round_trip(False), count=500),
    ok("rsa", TEXT, PUB, True, check=rsa_round_trip(True), count=500),
    fails("rsa", "wrong-type", AttributeError, TEXT.encode(), PUB),
    fails("rsa", "bad-length", OverflowError, fresh("x" * 54), PUB),
    fails("rsa", "bad-encoding", UnicodeEncodeError, fresh("x\ud800"), PUB),
    fails("rsa", "library-error", Exception, TEXT, fresh("not a key")),
    missing("rsa", "rsa", TEXT, PUB),
    missing("rsa", "b2a_hex", TEXT, PUB, True, count=500),

    ok("rsa_decrypt", CT_RSA, PRI, expected=TEXT, count=300),
    ok("rsa_decrypt", CT_RSA.hex().upper(), PRI, hexs=True, expected=TEXT, count=300),
    fails("rsa_decrypt", "wrong-type", Exception, fresh("not bytes at all"), PRI),
    fails("rsa_decrypt", "bad-length", Exception, fresh("abc"), PRI, True),  # binascii.Error
    fails("rsa_decrypt", "bad-encoding", UnicodeDecodeError, CT_RSA_NOT_UTF8, PRI, count=300),
    fails("rsa_decrypt", "library-error", rsa_package.DecryptionError, CT_RSA[::-1], PRI, count=300),
    missing("rsa_decrypt", "rsa", CT_RSA, PRI),
    missing("rsa_decrypt", "a2b_hex", CT_RSA.hex(), PRI, True),

    ok("token", TOKEN_DATA, TOKEN_KEY, globals={"time": FixedClock}, count=1000,
       expected=jwt.encode({"data": TOKEN_DATA, "iat": int(CLOCK), "iss": "Tarvex", "exp": int(CLOCK) + 86400},
                           TOKEN_KEY, algorithm="HS256")),
    ok("token", TOKEN_DATA, TOKEN_KEY, exp_time=None, issuer=fresh("someone else"), globals={"time": FixedClock},
       count=1000, expected=jwt.encode({"data": TOKEN_DATA, "iat": int(CLOCK), "iss": "someone else"}, TOKEN_KEY,
                                       algorithm="HS256")),
    fails("token", "wrong-type", TypeError, object(), TOKEN_KEY, count=1000),
    fails("token", "bad-exp", ArithmeticError, 1, TOKEN_KEY, AddRaises(5), globals={"time": FixedClock}, count=1000),
    missing("token", "jwt", 1, TOKEN_KEY),
    missing("token", "time", 1, TOKEN_KEY),

    ok("token_decrypt", TOKEN, TOKEN_KEY, expected=TOKEN_DATA, count=1000),
    fails("token_decrypt", "expired", TimeoutError, EXPIRED, TOKEN_KEY, count=1000),
    fails("token_decrypt", "library-error", Exception, TOKEN, fresh("another key of at least thirty-two bytes"), count=1000),
    fails("token_decrypt", "wrong-type", Exception, 12345678901234567890, TOKEN_KEY, count=1000),
    missing("token_decrypt", "jwt", TOKEN, TOKEN_KEY),
]

METHOD_NAMES = sorted({case.method for case in CASES})
