"""The one table of calls: every method of _Crypt with its working calls and its failing
ones, each failure with the traceback entries, the message and the exception being
handled that it must show.

Each family test checks the failures of its methods from here; the leak sweep runs every
row many times; the hostile sweep starts from the working calls; the thread and
allocation-failure sweeps take the rows that stand for a class of failure (`swept`: the
working calls and the `fails` rows). Expected results are computed with the packages
themselves, not with crypt_main.
"""

import base64
import binascii
import contextlib
import dataclasses
import hashlib
import hmac
import importlib.util
import json
import re
import types

import jwt
import pytest
import rsa as rsa_package
from Crypto.Cipher import AES, DES

from conftest import DELETE, module_global, raises_at
from crypt_main import _Crypt, m_crypt


def fresh(text):
    """A new str object equal to `text` (literals are interned and often immortal)."""
    return (text + "#")[:-1]


TEXT = fresh("some text, é and 世界")
KEY16 = fresh("0123456789abcdef")
IV16 = fresh("向量0123456789")  # 12 characters, 16 UTF-8 bytes
KEY8 = fresh("8bytekey")
PHP_KEY = fresh("short key")
HMAC_KEY = fresh("hmac key")
TOKEN_KEY = fresh("a token key of at least thirty-two bytes")
CLOCK = 1_700_000_000.75
SURROGATE = "\udc80"

# Where each method is defined in crypt_main.py: a failure to bind its arguments shows
# this line.
DEFINED_AT = {"__init__": 32, "aes_ecb": 60, "aes_ecb_decrypt": 66, "aes_cbc": 73, "aes_cbc_decrypt": 79,
              "base64": 86, "base64_decrypt": 91, "des": 96, "des_decrypt": 102, "md5": 109, "md5_hmac": 125,
              "php": 135, "php_decrypt": 142, "_add_to_16": 150, "rsa_keys": 157, "rsa": 171, "rsa_decrypt": 177,
              "sha1": 183, "sha256": 196, "sha384": 209, "sha512": 222, "token": 235, "token_decrypt": 243}

# Calls per batch in the leak sweep: for a row that stands for its class of failure (and
# for the calls that the families' own leak tests made), and for the further rows of a
# class (a leak of one block in thirty calls still shows).
COUNT = 3000
MORE = 300


@dataclasses.dataclass
class Case:
    method: str
    kind: str  # "ok" or what fails
    args: tuple = ()
    kwargs: dict = dataclasses.field(default_factory=dict)
    error: type | None = None  # None: the call succeeds; else exactly this type is raised
    entries: tuple = ()  # a failure's traceback entries in the module, outermost first, as (method, line)
    match: str | None = None  # a pattern that a failure's message matches
    handling: type | None = None  # the type of the exception that a failure was raised while handling
    expected: object = None  # the result, for a working call whose result is fixed
    check: object = None  # or a test of the result
    globals: dict = dataclasses.field(default_factory=dict)  # module globals bound for the call
    count: int = COUNT  # calls per batch in the leak sweep
    swept: bool = True  # stands for its class: the thread and allocation-failure sweeps take it
    owner: object = m_crypt  # what the method is read from: the instance, or _Crypt

    def __post_init__(self):
        # the watched arguments get counts of their own (literals are shared and immortal)
        self.args = tuple(fresh(a) if type(a) is str else a for a in self.args)
        self.kwargs = {k: fresh(v) if type(v) is str else v for k, v in self.kwargs.items()}

    @property
    def id(self):
        return f"{self.method}-{self.kind}"

    def function(self):
        return getattr(self.owner, self.method)

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

    def raises(self, call=None, bind_globals=True):
        """Makes this failing call once (or `call`, a variant of it) and checks its
        exception: of exactly the row's type, with its entries, message and the type of
        the exception it was raised while handling. Returns the exception."""
        with self.context() if bind_globals else contextlib.nullcontext():
            error = raises_at(self.error, call or self.call, *self.entries, match=self.match)
        assert type(error) is self.error
        assert type(error.__context__) is (type(None) if self.handling is None else self.handling), error.__context__
        return error


def ok(method, *args, expected=None, check=None, count=COUNT, globals=None, **kwargs):
    return Case(method, "ok", args, kwargs, expected=expected, check=check, globals=globals or {}, count=count)


def fails(method, kind, error, *args, at, match=None, handling=None, count=COUNT, globals=None, swept=True,
          owner=m_crypt, **kwargs):
    """A failing call that stands for its class of failure. `at`: the line in `method`,
    or the whole list of entries."""
    entries = ((method, at),) if isinstance(at, int) else tuple(at)
    return Case(method, kind, args, kwargs, error, entries, match, handling, globals=globals or {}, count=count,
                swept=swept, owner=owner)


def also(method, kind, error, *args, count=MORE, **options):
    """A further failure of a class that a `fails` row stands for: checked by its family
    test and the leak sweep (fewer calls), left out of the thread and allocation sweeps."""
    return fails(method, kind, error, *args, count=count, swept=False, **options)


def missing(method, name, *args, at, row=fails, **options):
    return row(method, f"missing-{name}", NameError, *args, at=at, match=f"^name '{name}' is not defined$",
               globals={name: DELETE}, **options)


def failures(*methods, binding=False):
    """The failing rows of `methods` (all methods when none is named) as parameters:
    those of argument binding when `binding`, else the others."""
    return [pytest.param(c, id=c.id) for c in CASES
            if c.error is not None and (not methods or c.method in methods) and c.kind.startswith("binding") == binding]


# ---- stand-ins ------------------------------------------------------------------------


class FixedClock:
    """Stands in for the module global `time`: tokens become deterministic."""

    @staticmethod
    def time():
        return CLOCK


class FailingClock:
    """A `time` whose every `every`-th reading fails: with 2, a call that issues a token
    with an expiry gets its first reading and fails at the second, call after call."""

    def __init__(self, every):
        self.every, self.readings = every, 0

    def time(self):
        self.readings += 1
        if self.readings % self.every == 0:
            raise LookupError("no reading")
        return CLOCK


class FakeRsa(types.ModuleType):
    """Stands in for the module global `rsa`: newkeys hands out `pair`, or calls it when
    it is callable (a new result, or a failure, at each call), and keeps the size last
    asked for; encryption and decryption are the package's."""

    def __init__(self, pair=None):
        super().__init__("rsa")
        self.pair = (PUB, PRI) if pair is None else pair
        self.size = None
        self.encrypt = rsa_package.encrypt
        self.decrypt = rsa_package.decrypt

    def newkeys(self, size):
        self.size = size
        return self.pair() if callable(self.pair) else self.pair


def no_keys():
    raise AssertionError("newkeys is not reached")


def endless():
    while True:
        yield "key"


def failing_after_one():
    yield "pub"
    raise KeyError("second")


def entropy_fails():
    raise RuntimeError("no entropy")


class Length:
    """A length whose `(length + 11) * 8` is itself and whose `<=` against each bound
    answers from `answers`: a value taken for its truth, or an exception class raised."""

    def __init__(self, **answers):
        self.answers = answers

    def __add__(self, other):
        return self

    __mul__ = __add__

    def __le__(self, bound):
        answer = self.answers[f"at{bound}"]
        if isinstance(answer, type):
            raise answer(bound)
        return answer


class EncodesTo:
    """A value whose encode() returns `result` whatever it is asked."""

    def __init__(self, result):
        self.result = result

    def encode(self, *args, **kwargs):
        return self.result


class EqRaises:
    """Compares unequal to everything but `text` (any text when None), where comparing raises."""

    def __init__(self, text=None):
        self.text = text

    def __eq__(self, other):
        if self.text is None or other == self.text:
            raise ArithmeticError("no comparison")
        return False

    __hash__ = object.__hash__


class BoolRaises:
    def __bool__(self):
        raise ArithmeticError("no truth")


class AddRaises(int):
    def __radd__(self, other):
        raise ArithmeticError("no sum")


def interrupted(*args, **kwargs):
    raise KeyboardInterrupt


# ---- the ciphers: aes_ecb, aes_cbc, des and their inverses ------------------------------


def pkcs7(data, block):
    n = block - len(data) % block
    return data + bytes([n]) * n


@dataclasses.dataclass(frozen=True)
class Cipher:
    name: str
    module: object
    mode: str
    keys: tuple  # the first is the default; all of the right length in UTF-8 bytes
    line: int  # the encryptor's first line; the decryptor's is `dline`
    dline: int
    cbc: bool = False

    def args(self, value, key=None, iv=IV16):
        return (value, key or self.keys[0]) + ((iv,) if self.cbc else ())

    def encrypt(self, value, key=None, iv=IV16):
        return getattr(m_crypt, self.name)(*self.args(value, key, iv))

    def decrypt(self, value, key=None, iv=IV16):
        return getattr(m_crypt, self.name + "_decrypt")(*self.args(value, key, iv))

    def raw(self, plain, key=None, iv=IV16):
        """The raw cipher over `plain`, bytes padded or not, with no padding of its own."""
        extra = (iv.encode(),) if self.cbc else ()
        return self.module.new((key or self.keys[0]).encode(), getattr(self.module, self.mode), *extra).encrypt(plain)

    @property
    def block(self):
        return self.module.block_size

    @property
    def key_length(self):
        return len(self.keys[0].encode())

    @property
    def module_name(self):
        return self.module.__name__.rsplit(".")[-1]


AES_KEYS = (KEY16, "0123456789abcdefghijklmn", "0123456789abcdefghijklmnopqrstuv", "密钥密钥密钥密钥")
CIPHERS = [
    Cipher("aes_ecb", AES, "MODE_ECB", AES_KEYS, 62, 68),
    Cipher("aes_cbc", AES, "MODE_CBC", AES_KEYS, 75, 81, cbc=True),
    Cipher("des", DES, "MODE_ECB", (KEY8, "éàüö"), 98, 104),
]
CT_ECB, CT_CBC, CT_DES = (c.raw(pkcs7(TEXT.encode(), c.block)) for c in CIPHERS)


# The failures of each cipher method that stand for their class (one for each way through
# the body's steps): the thread and allocation sweeps take them with the working calls.
CIPHER_SWEPT = {
    "aes_ecb": {"bad-length", "wrong-type", "bad-encoding", "missing-AES", "missing-pad"},
    "aes_ecb_decrypt": {"key-surrogate", "wrong-type", "bad-length", "library-error", "missing-unpad"},
    "aes_cbc": {"iv-bytes", "bad-length", "bad-encoding", "missing-AES"},
    "aes_cbc_decrypt": {"wrong-type", "bad-length", "library-error", "missing-unpad"},
    "des": {"key-bytes", "bad-length", "bad-encoding", "missing-DES"},
    "des_decrypt": {"wrong-type", "bad-length", "library-error", "missing-DES"},
}


def cipher_cases(c):
    n = c.key_length
    short, long_utf8 = "a" * (n - 1), "é" + "a" * (n - 1)  # n characters, n + 1 bytes
    enc, dec, a = c.name, c.name + "_decrypt", c.args
    ciphertext = c.raw(pkcs7(TEXT.encode(), c.block))
    rows = [
        ok(enc, *a(TEXT), expected=ciphertext),
        also(enc, "bad-length", ValueError, *a(TEXT, short), at=c.line, match="key length"),
        also(enc, "key-long-utf8", ValueError, *a("x", long_utf8), at=c.line, match="key length"),
        also(enc, "key-before-value", ValueError, *a(5, short), at=c.line, match="key length"),
        also(enc, "key-bytes", AttributeError, *a("x", b"k" * n), at=c.line, match="'bytes'"),
        also(enc, "key-surrogate", UnicodeEncodeError, *a("x", SURROGATE * n), at=c.line),
        also(enc, "wrong-type", AttributeError, *a(12345678901234567890), at=c.line + 1, match="'int'"),
        also(enc, "value-bytes", AttributeError, *a(b"text"), at=c.line + 1, match="'bytes'"),
        also(enc, "bad-encoding", UnicodeEncodeError, *a("ab\udc80cd"), at=c.line + 1),
        missing(enc, c.module_name, *a(TEXT), at=c.line, row=also),
        missing(enc, "pad", *a(5), at=c.line + 1, row=also),  # looked up before the value's encode

        ok(dec, *a(ciphertext), expected=TEXT),
        also(dec, "key-before-value", ValueError, *a("not bytes", short), at=c.dline, match="key length"),
        also(dec, "key-int", AttributeError, *a(b"", 12345678), at=c.dline, match="'int'"),
        also(dec, "key-surrogate", UnicodeEncodeError, *a(ciphertext, SURROGATE * n), at=c.dline),
        also(dec, "wrong-type", TypeError, *a("00112233445566778899aabbccddeeff"), at=c.dline + 1),  # hex: not decoded
        also(dec, "bad-length", ValueError, *a(ciphertext[:-1]), at=c.dline + 1),
        also(dec, "empty", ValueError, *a(b""), at=c.dline + 2, count=COUNT),  # fails in unpad
        also(dec, "library-error", ValueError, *a(c.raw(b"a" * (c.block - 1) + b"\x00")), at=c.dline + 2,
             match="[Pp]adding"),
        also(dec, "not-utf8", UnicodeDecodeError, *a(c.raw(pkcs7(b"\xff\xfe", c.block))), at=c.dline + 2),
        missing(dec, "unpad", *a(ciphertext), at=c.dline + 2, row=also),
        missing(dec, c.module_name, *a(ciphertext), at=c.dline, row=also),
    ]
    if c.cbc:
        rows += [
            also(enc, "iv-bytes", AttributeError, *a(TEXT, iv=b"iv"), at=c.line, match="'bytes'"),
            also(enc, "key-before-iv", AttributeError, *a("x", b"k", 16), at=c.line, match="'bytes'"),
            also(enc, "iv-before-key-length", AttributeError, *a("x", short, b"iv"), at=c.line, match="'bytes'",
                 count=COUNT),
            also(enc, "iv-short", ValueError, *a("x", iv="a" * 15), at=c.line, match="IV"),
            also(enc, "iv-long-utf8", ValueError, *a("x", iv="é" + "a" * 15), at=c.line, match="IV"),
            also(enc, "iv-before-value", ValueError, *a(5, iv="short"), at=c.line, match="IV"),
            also(enc, "iv-surrogate", UnicodeEncodeError, *a("x", iv=SURROGATE * 16), at=c.line),
            also(dec, "iv-none", AttributeError, *a(b"", iv=None), at=c.dline, match="'NoneType'"),
        ]
    for row in rows:
        if row.kind in CIPHER_SWEPT[row.method]:
            row.swept, row.count = True, COUNT
    return rows


# ---- php, php_decrypt and the filler _add_to_16 ------------------------------------------


def add_to_16(data):
    return data + b"\0" * (-len(data) % 16)


FILLER = ("_add_to_16", 152)
CT_PHP = AES.new(add_to_16(PHP_KEY.encode("gbk")), AES.MODE_CBC, IV16.encode()).encrypt(add_to_16(TEXT.encode("gbk")))
B64_PHP = base64.b64encode(CT_PHP).decode()
NOT_GBK = AES.new(add_to_16(PHP_KEY.encode()), AES.MODE_CBC, IV16.encode()).encrypt(add_to_16(b"\xff\xff"))

PHP_CASES = [
    ok("php", TEXT, PHP_KEY, IV16, expected=CT_PHP),
    ok("php", TEXT, PHP_KEY, IV16, base64s=True, expected=B64_PHP),
    fails("php", "wrong-type", AttributeError, "x", b"key", 16, at=[("php", 136), FILLER], match="'bytes'"),  # key, then IV
    also("php", "key-not-gbk", UnicodeEncodeError, "x", "😀", IV16, at=[("php", 136), FILLER]),
    fails("php", "bad-length", ValueError, 5, "k" * 33, IV16, at=136, match="key length"),  # the key before the value
    fails("php", "library-error", ValueError, TEXT, "", IV16, at=136, match="key length"),
    also("php", "iv-before-key-length", AttributeError, "x", "", b"iv", at=136, match="'bytes'"),
    also("php", "iv-short", ValueError, "x", PHP_KEY, "a" * 15, at=136, match="IV"),  # the IV is not filled
    also("php", "iv-long-utf8", ValueError, "x", PHP_KEY, "é" + "a" * 15, at=136, match="IV"),
    also("php", "value-bytes", AttributeError, b"text", PHP_KEY, IV16, at=[("php", 137), FILLER], match="'bytes'"),
    fails("php", "bad-encoding", UnicodeEncodeError, "not gbk: 😀", PHP_KEY, IV16, at=[("php", 137), FILLER]),
    fails("php", "flag-raises", ArithmeticError, TEXT, PHP_KEY, IV16, BoolRaises(), at=138),
    missing("php", "AES", TEXT, PHP_KEY, IV16, at=136),
    missing("php", "base64", TEXT, PHP_KEY, IV16, True, at=139),

    ok("php_decrypt", CT_PHP, PHP_KEY, IV16, expected=TEXT),
    ok("php_decrypt", base64.encodebytes(CT_PHP).decode(), PHP_KEY, IV16, True, expected=TEXT),
    also("php_decrypt", "key-int", AttributeError, b"", 5, IV16, at=[("php_decrypt", 143), FILLER], match="'int'"),
    also("php_decrypt", "key-long", ValueError, b"", "k" * 33, IV16, at=143, match="key length"),
    also("php_decrypt", "key-not-gbk", UnicodeEncodeError, b"", "€", IV16, at=[("php_decrypt", 143), FILLER]),
    also("php_decrypt", "iv-none", AttributeError, b"", PHP_KEY, None, at=143, match="'NoneType'"),
    also("php_decrypt", "flag-raises", ArithmeticError, b"", PHP_KEY, IV16, BoolRaises(), at=144),
    also("php_decrypt", "base64-bytes", AttributeError, b"AAAA", PHP_KEY, IV16, True, at=145, match="'bytes'"),
    fails("php_decrypt", "bad-encoding", binascii.Error, "abc", PHP_KEY, IV16, True, at=145),
    fails("php_decrypt", "bad-length", ValueError, CT_PHP[:-1], PHP_KEY, IV16, at=146),
    fails("php_decrypt", "wrong-type", TypeError, B64_PHP, PHP_KEY, IV16, at=146),  # Base64 not asked for
    also("php_decrypt", "not-gbk", UnicodeDecodeError, NOT_GBK, PHP_KEY, IV16, at=146),
    missing("php_decrypt", "base64", 5, PHP_KEY, IV16, True, at=145),  # looked up before the value's encode

    ok("_add_to_16", TEXT, expected=add_to_16(TEXT.encode("gbk"))),
    fails("_add_to_16", "wrong-type", AttributeError, b"bytes have no encode", at=152),
    also("_add_to_16", "none", AttributeError, None, at=152),
    fails("_add_to_16", "bad-encoding", UnicodeEncodeError, "\U0001F600 is not gbk", at=152),
    fails("_add_to_16", "library-error", TypeError, EncodesTo(12345678901234567890), at=153),
]


# ---- base64, the digests and md5_hmac --------------------------------------------------

B64 = base64.encodebytes(TEXT.encode()).decode().replace("\n", "")

BASE64_CASES = [
    ok("base64", TEXT, expected=B64),
    fails("base64", "wrong-type", AttributeError, TEXT.encode(), at=88),
    fails("base64", "bad-encoding", UnicodeEncodeError, "x\udfff", at=88),
    missing("base64", "base64", TEXT, at=88),

    ok("base64_decrypt", B64, expected=TEXT),
    fails("base64_decrypt", "wrong-type", AttributeError, B64.encode(), at=93),
    also("base64_decrypt", "none", AttributeError, None, at=93),
    fails("base64_decrypt", "bad-length", binascii.Error, "abcde", at=93),  # one more than a multiple of four
    also("base64_decrypt", "unfinished", binascii.Error, "abc", at=93),  # last group not completed by "="
    fails("base64_decrypt", "bad-encoding", UnicodeDecodeError, "//79", at=93),  # FF FE FD
    also("base64_decrypt", "surrogate", UnicodeEncodeError, "\ud800", at=93),
    missing("base64_decrypt", "base64", B64, at=93),
]

# name -> the line of the hashlib constructor call; the update and the two tests of fmt follow
DIGEST_LINE = {"md5": 111, "sha1": 185, "sha256": 198, "sha384": 211, "sha512": 224}


def digest_cases(name):
    first = DIGEST_LINE[name]
    update, upper_test = (115, 117) if name == "md5" else (first + 1, first + 3)
    expected = getattr(hashlib, name)(TEXT.encode()).hexdigest()
    rows = [
        ok(name, TEXT, "upper", expected=expected.upper()),
        ok(name, value=TEXT, fmt="lower-case", expected=expected),
        fails(name, "wrong-type", AttributeError, 12345678901234567890, "upper", at=update),
        fails(name, "bad-encoding", UnicodeEncodeError, "ab\ud800cd", "lower", at=update),
        fails(name, "library-error", TypeError, EncodesTo("not bytes"), "lower", at=update),
        fails(name, "fmt-eq-raises", ArithmeticError, TEXT, EqRaises(), at=upper_test),
        also(name, "fmt-lower-raises", ArithmeticError, TEXT, EqRaises("lower"), at=upper_test + 2),
        missing(name, "hashlib", TEXT, "lower", at=first),
    ]
    if name == "md5":  # bytes are hashed as they are; other bytes-like values are not
        rows += [ok(name, TEXT.encode(), None, expected=expected),
                 also(name, "bytearray", AttributeError, bytearray(b"abc"), "lower", at=update)]
    else:
        rows.append(fails(name, "bytes", AttributeError, TEXT.encode(), "lower", at=update))
    return rows


HMAC = hmac.new(HMAC_KEY.encode(), TEXT.encode(), hashlib.md5).digest()
HMAC_CASES = [
    ok("md5_hmac", TEXT, HMAC_KEY, expected=HMAC),
    ok("md5_hmac", TEXT.encode(), HMAC_KEY.encode(), expected=HMAC),
    fails("md5_hmac", "wrong-type", AttributeError, None, None, at=128),  # the key is never looked at
    also("md5_hmac", "bytearray", AttributeError, bytearray(b"m"), HMAC_KEY, at=128),
    also("md5_hmac", "value-surrogate", UnicodeEncodeError, SURROGATE, HMAC_KEY, at=128),
    also("md5_hmac", "key-none", AttributeError, TEXT, None, at=130, count=COUNT),
    fails("md5_hmac", "bad-encoding", UnicodeEncodeError, TEXT, "k\ud800", at=130),
    fails("md5_hmac", "library-error", TypeError, EncodesTo("not bytes"), HMAC_KEY, at=131),
    also("md5_hmac", "key-not-bytes", TypeError, TEXT, EncodesTo("k"), at=131),
    missing("md5_hmac", "hmac", TEXT, HMAC_KEY, at=131),
    missing("md5_hmac", "hashlib", TEXT, HMAC_KEY, at=131),
    also("md5_hmac", "missing-both", NameError, TEXT, HMAC_KEY, at=131, match="^name 'hmac' is not defined$",
         globals={"hmac": DELETE, "hashlib": DELETE}),
    also("md5_hmac", "digest-fails", AttributeError, TEXT, HMAC_KEY, at=132,
         globals={"hmac": types.SimpleNamespace(new=lambda *args, **kwargs: types.SimpleNamespace())}),
]


# ---- rsa_keys, rsa and rsa_decrypt -----------------------------------------------------

# One small key pair, made once: key generation is far too slow for loops.
PUB, PRI = rsa_package.newkeys(512)
CT_RSA = rsa_package.encrypt(TEXT.encode(), PUB)
FAKE_RSA = FakeRsa()


def rsa_round_trip(hexs):
    def check(result):
        raw = base64.b16decode(result.upper()) if hexs else result
        return type(result) is bytes and rsa_package.decrypt(raw, PRI) == TEXT.encode()
    return check


def pair_fails(kind, error, pair, match, count=MORE):
    return also("rsa_keys", kind, error, 53, at=168, match=match, globals={"rsa": FakeRsa(pair)}, count=count)


def comparison_fails(kind, error, line, **answers):
    return also("rsa_keys", kind, error, Length(**answers), at=line, globals={"rsa": FakeRsa(no_keys)})


TOO_MANY = r"^too many values to unpack \(expected 2\)$"
RSA_CASES = [
    ok("rsa_keys", 53, expected=(PUB, PRI), globals={"rsa": FAKE_RSA}),
    ok("rsa_keys", expected=(PUB, PRI), globals={"rsa": FAKE_RSA}),
    ok("rsa_keys", 53, check=lambda pair: type(pair) is tuple and len(pair) == 2,  # a new tuple of new items
       globals={"rsa": FakeRsa(lambda: [object(), object()])}),
    fails("rsa_keys", "wrong-type", TypeError, "16", at=159, match=r'can only concatenate str \(not "int"\)'),
    comparison_fails("first-comparison-fails", ValueError, 160, at512=ValueError),
    comparison_fails("first-truth-fails", ArithmeticError, 160, at512=BoolRaises()),
    comparison_fails("second-comparison-fails", ValueError, 162, at512=False, at1024=ValueError),
    comparison_fails("third-truth-fails", ArithmeticError, 164, at512=False, at1024=False, at2048=BoolRaises()),
    fails("rsa_keys", "library-error", ValueError, 53, at=168, match=TOO_MANY, globals={"rsa": FakeRsa((PUB, PRI, PUB))}),
    pair_fails("endless", ValueError, endless, TOO_MANY),
    pair_fails("one", ValueError, lambda: [object()], r"^need more than 1 value to unpack$", count=COUNT),
    pair_fails("none", ValueError, lambda: iter(()), r"^need more than 0 values to unpack$"),
    pair_fails("not-iterable", TypeError, 5, "^cannot unpack non-iterable int object$"),
    pair_fails("failing-iterator", KeyError, failing_after_one, "second"),
    pair_fails("newkeys-fails", RuntimeError, entropy_fails, "^no entropy$"),
    missing("rsa_keys", "rsa", 53, at=168),

    ok("rsa", TEXT, PUB, check=rsa_round_trip(False), count=500),
    ok("rsa", TEXT, PUB, True, check=rsa_round_trip(True), count=500),
    fails("rsa", "wrong-type", AttributeError, TEXT.encode(), PUB, at=173),
    fails("rsa", "bad-length", OverflowError, "世" * 18, PUB, at=173),  # 54 UTF-8 bytes: one too many
    fails("rsa", "bad-encoding", UnicodeEncodeError, "x\ud800", PUB, at=173),
    fails("rsa", "library-error", AttributeError, TEXT, "not a key", at=173),
    also("rsa", "flag-raises", ArithmeticError, TEXT, PUB, BoolRaises(), at=174),
    missing("rsa", "rsa", TEXT, PUB, at=173),
    missing("rsa", "b2a_hex", TEXT, PUB, True, at=174, count=500),

    ok("rsa_decrypt", CT_RSA, PRI, expected=TEXT, count=300),
    ok("rsa_decrypt", CT_RSA.hex().upper(), PRI, hexs=True, expected=TEXT, count=300),
    also("rsa_decrypt", "flag-raises", ArithmeticError, b"x", PRI, BoolRaises(), at=179),  # before the digits are read
    fails("rsa_decrypt", "bad-length", binascii.Error, "abc", PRI, True, at=179),
    also("rsa_decrypt", "not-hex", binascii.Error, "zz" * 64, PRI, True, at=179),
    also("rsa_decrypt", "hex-not-ascii", ValueError, "é" * 128, PRI, True, at=179, match="ASCII"),
    also("rsa_decrypt", "hex-int", TypeError, 12345, PRI, True, at=179, match="'int'"),
    fails("rsa_decrypt", "wrong-type", TypeError, CT_RSA.hex(), PRI, at=180),  # without hexs, raw bytes only
    also("rsa_decrypt", "public-key", AttributeError, CT_RSA, PUB, at=180, match="'blinded_decrypt'"),
    also("rsa_decrypt", "pem-text", AttributeError, CT_RSA, PRI.save_pkcs1().decode(), at=180, match="'n'"),
    fails("rsa_decrypt", "bad-encoding", UnicodeDecodeError, rsa_package.encrypt(b"\xff\xfe", PUB), PRI, at=180,
          count=300),
    fails("rsa_decrypt", "library-error", rsa_package.DecryptionError, CT_RSA[::-1], PRI, at=180, count=300),
    also("rsa_decrypt", "flipped", rsa_package.DecryptionError, bytes([CT_RSA[0] ^ 1]) + CT_RSA[1:], PRI, at=180),
    missing("rsa_decrypt", "rsa", CT_RSA, PRI, at=180),
    missing("rsa_decrypt", "a2b_hex", CT_RSA.hex(), PRI, True, at=179),
]


# ---- token and token_decrypt -----------------------------------------------------------

TOKEN_DATA = {"user": fresh("someone"), "n": [1, 2, 3]}
TOKEN = jwt.encode({"data": TOKEN_DATA, "iat": int(CLOCK), "iss": "Tarvex"}, TOKEN_KEY, algorithm="HS256")
EXPIRED = jwt.encode({"data": 1, "iat": 1, "iss": "Tarvex", "exp": 2}, TOKEN_KEY, algorithm="HS256")
OTHER_ISSUER = jwt.encode({"data": 1, "iat": 1, "iss": "A"}, TOKEN_KEY, algorithm="HS256")
CLOCKED = {"time": FixedClock}
SYSTEM_ERROR = "^系统异常："


def verification_fails(kind, token, key, library_error, row=also, match="", count=1000):
    return row("token_decrypt", kind, Exception, token, key, at=251, match=SYSTEM_ERROR + match,
               handling=library_error, count=count)


def b64url(raw):
    return base64.urlsafe_b64encode(raw).rstrip(b"=").decode()


def signed(header, claims, key=TOKEN_KEY):
    """An HS256 token with exactly this header (a dict, or the raw bytes of its JSON) and
    these claims, signed with `key` by hmac itself: PyJWT refuses to write most of those
    that the advisories below are about."""
    head = ".".join(b64url(part if isinstance(part, bytes) else json.dumps(part).encode())
                    for part in (header, claims))
    key = key.encode() if isinstance(key, str) else key
    return head + "." + b64url(hmac.new(key, head.encode(), hashlib.sha256).digest())


def respelled(token):
    """The same token with the last character of its signature spelled otherwise: the two
    bits it carries beyond the 32 bytes set, so that it decodes to the same bytes."""
    alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"
    return token[:-1] + alphabet[alphabet.index(token[-1]) ^ 1]


HS256 = {"alg": "HS256", "typ": "JWT"}
CLAIMS = {"data": 1, "iss": "Tarvex"}
# Public-key material used as the HMAC secret: whoever has the public key can sign with it.
JWK = json.dumps({"kty": "RSA", "e": "AQAB", "n": b64url(PUB.n.to_bytes(64, "big"))})
JWKS = json.dumps({"keys": [json.loads(JWK)]})
DER = PUB.save_pkcs1("DER")
# The advisories of PyJWT that reach token or token_decrypt, each refused from the floor of
# pyproject.toml on (SECURITY.md lists them): a version below it accepts these tokens
# (none of them raises) or keys.
ADVISORY_CASES = [
    # CVE-2024-53861, fixed in 2.10.1: an issuer matched as a substring of the one expected
    verification_fails("cve-2024-53861-issuer-substring", signed(HS256, {"data": 1, "iss": "Tarv"}), TOKEN_KEY,
                       jwt.exceptions.InvalidIssuerError),
    # CVE-2026-32597, fixed in 2.12.0: a critical header parameter that no one understands
    verification_fails("cve-2026-32597-unknown-crit",
                       signed({**HS256, "crit": ["x-unknown"], "x-unknown": 1}, CLAIMS), TOKEN_KEY,
                       jwt.exceptions.InvalidTokenError, match="Unsupported critical extension: x-unknown$"),
    # GHSA-w7vc-732c-9m39, 2.13.0: "b64": false with a payload, refused before it is decoded
    verification_fails("ghsa-w7vc-b64-false", signed({**HS256, "b64": False, "crit": ["b64"]}, CLAIMS),
                       TOKEN_KEY, jwt.exceptions.DecodeError, match="Payload segment must be empty"),
    # GHSA-xgmm-8j9v-c9wx, 2.13.0; GHSA-r6x4-923q-g947 and the others of 2.14.0: a public
    # key as a JWK, a JWK set or DER taken as the HMAC secret
    verification_fails("ghsa-xgmm-jwk-as-secret", signed(HS256, CLAIMS, JWK), JWK, jwt.exceptions.InvalidKeyError),
    verification_fails("ghsa-r6x4-jwk-set-as-secret", signed(HS256, CLAIMS, JWKS), JWKS,
                       jwt.exceptions.InvalidKeyError),
    # (PyJWT tells a DER key from a secret with cryptography, which a free-threaded CPython
    # 3.13 cannot have here: there it takes the key as a secret)
    *([verification_fails("ghsa-r6x4-der-as-secret", signed(HS256, CLAIMS, DER), DER,
                          jwt.exceptions.InvalidKeyError)] if importlib.util.find_spec("cryptography") else []),
    also("token", "ghsa-xgmm-jwk-as-secret", jwt.exceptions.InvalidKeyError, 1, JWK, at=240, match="like a JWK"),
    # GHSA-hxm8-2xgr-2p9m, 2.14.0: the same signature spelled otherwise, a token that a
    # list of used or revoked tokens does not recognise
    verification_fails("ghsa-hxm8-respelled-signature", respelled(signed(HS256, CLAIMS)), TOKEN_KEY,
                       jwt.exceptions.DecodeError, match="Invalid crypto padding$"),
    # GHSA-8wjv-2p76-3863, 2.14.0: a header nested deeper than the interpreter recurses,
    # PyJWT's DecodeError rather than a RecursionError (before the signature is checked)
    verification_fails("ghsa-8wjv-nested-header",
                       b64url(b"[" * 100_000 + b"]" * 100_000) + "." + b64url(b"{}") + ".c2ln", TOKEN_KEY,
                       jwt.exceptions.DecodeError, count=30),
]


def refused(exp_time):
    return also("token", f"exp-{type(exp_time).__name__}", TypeError, 1, TOKEN_KEY, exp_time, at=238, globals=CLOCKED,
                match=f"^exp_time must be an int or None, not {type(exp_time).__name__}$", count=1000)


TOKEN_CASES = [
    ok("token", TOKEN_DATA, TOKEN_KEY, globals=CLOCKED, count=1000,
       expected=jwt.encode({"data": TOKEN_DATA, "iat": int(CLOCK), "iss": "Tarvex", "exp": int(CLOCK) + 86400},
                           TOKEN_KEY, algorithm="HS256")),
    ok("token", TOKEN_DATA, TOKEN_KEY, exp_time=None, issuer="someone else", globals=CLOCKED, count=1000,
       expected=jwt.encode({"data": TOKEN_DATA, "iat": int(CLOCK), "iss": "someone else"}, TOKEN_KEY,
                           algorithm="HS256")),
    also("token", "first-reading-fails", LookupError, 1, TOKEN_KEY, at=237, globals={"time": FailingClock(1)}),
    refused(3600.0),
    refused("3600"),
    also("token", "second-reading-fails", LookupError, 1, TOKEN_KEY, at=239, globals={"time": FailingClock(2)}),
    fails("token", "bad-exp", ArithmeticError, 1, TOKEN_KEY, AddRaises(5), at=239, globals=CLOCKED, count=1000),
    fails("token", "wrong-type", TypeError, object(), TOKEN_KEY, at=240, count=1000),  # jwt.encode refuses the data
    missing("token", "jwt", 1, TOKEN_KEY, at=240),
    missing("token", "time", 1, TOKEN_KEY, at=237),

    ok("token_decrypt", TOKEN, TOKEN_KEY, expected=TOKEN_DATA, count=1000),
    also("token_decrypt", "interrupted", KeyboardInterrupt, TOKEN, TOKEN_KEY, at=246, count=1000,
         globals={"jwt": types.SimpleNamespace(decode=interrupted, exceptions=jwt.exceptions)}),
    fails("token_decrypt", "expired", TimeoutError, EXPIRED, TOKEN_KEY, at=249, match="^token已过期$",
          handling=jwt.exceptions.ExpiredSignatureError, count=1000),
    verification_fails("library-error", TOKEN, "another key of at least thirty-two bytes",
                       jwt.exceptions.InvalidSignatureError, row=fails),
    verification_fails("wrong-issuer", OTHER_ISSUER, TOKEN_KEY, jwt.exceptions.InvalidIssuerError),
    verification_fails("not-a-token", "not a token at all", TOKEN_KEY, jwt.exceptions.DecodeError),
    verification_fails("wrong-type", 12345678901234567890, TOKEN_KEY, jwt.exceptions.DecodeError, row=fails),
    # looked up again by the handler: the second failure is raised while handling the first
    fails("token_decrypt", "missing-jwt", NameError, TOKEN, TOKEN_KEY, at=248, match="^name 'jwt' is not defined$",
          handling=NameError, globals={"jwt": DELETE}),
    # not an advisory: from 2.13.0 PyJWT refuses an empty key, which only warned before
    also("token", "empty-key", jwt.exceptions.InvalidKeyError, 1, "", at=240, match="^HMAC key must not be empty.$"),
    *ADVISORY_CASES,
]


# ---- binding arguments to parameters ---------------------------------------------------


def count_error(name, given, at_least=None, at_most=None):
    """A call through the class with `given` positionals (the instance counted) and the
    TypeError that binding reports."""
    takes = at_least if at_least == at_most else at_least if given < at_least else at_most
    bound = "exactly" if at_least == at_most else "at least" if given < at_least else "at most"
    message = f"{name}() takes {bound} {takes} positional argument{'s' * (takes != 1)} ({given} given)"
    return also(name, f"binding-{given}", TypeError, *[object()] * given, at=DEFINED_AT[name],
                match=f"^{re.escape(message)}$", owner=_Crypt)


def keyword_error(name, kind, message, *args, **kwargs):
    return also(name, f"binding-{kind}", TypeError, *args, at=DEFINED_AT[name], match=f"^{re.escape(message)}$",
                **kwargs)


BINDING_CASES = [
    fails("__init__", "binding", TypeError, 1, at=32, match=r"^__init__\(\) takes exactly 1 positional argument"),
    fails("aes_ecb", "binding", TypeError, TEXT, KEY16, extra=1, at=60,
          match=r"^aes_ecb\(\) got an unexpected keyword argument 'extra'$"),
    *[count_error("__init__", n, 1, 1) for n in (0, 2)],
    *[count_error(name, n, 1, 1) for name in ("base64", "base64_decrypt", "_add_to_16") for n in (0, 2)],
    *[count_error(name, n, 2, 2) for name in ("aes_ecb", "aes_ecb_decrypt", "des", "des_decrypt", "md5_hmac", "md5",
                                              "sha1", "sha256", "sha384", "sha512") for n in (0, 1, 3)],
    *[count_error(name, n, 3, 3) for name in ("aes_cbc", "aes_cbc_decrypt") for n in (2, 4)],
    *[count_error(name, n, 4, 5) for name in ("php", "php_decrypt") for n in (0, 3, 6)],
    count_error("rsa_keys", 2, 0, 1),
    *[count_error(name, n, 2, 3) for name in ("rsa", "rsa_decrypt", "token_decrypt") for n in (1, 4)],
    *[count_error("token", n, 2, 4) for n in (0, 1, 5)],
    # a plain method called through the instance counts the instance too
    keyword_error("php", "instance-counted", "php() takes at least 4 positional arguments (3 given)", "v", "k"),
    keyword_error("php_decrypt", "instance-counted", "php_decrypt() takes at most 5 positional arguments (6 given)",
                  1, 2, 3, 4, 5),
    # a missing required parameter is reported by its position
    keyword_error("token", "first-missing", "token() takes at least 2 positional arguments (0 given)", key="k"),
    keyword_error("token", "second-missing", "token() takes at least 2 positional arguments (1 given)", "d",
                  issuer="i"),
    keyword_error("md5", "value-twice", "md5() takes exactly 2 positional arguments (1 given)", "x", value="y"),
    keyword_error("md5", "fmt-only", "md5() takes exactly 2 positional arguments (0 given)", fmt="lower"),
    keyword_error("aes_cbc", "key-missing", "aes_cbc() takes exactly 3 positional arguments (1 given)", "v",
                  iv="i", value="w"),
    # too many positionals are counted before keywords are looked at
    keyword_error("md5", "too-many-and-keyword", "md5() takes exactly 2 positional arguments (3 given)", 1, 2, 3,
                  fmt="x"),
    keyword_error("md5", "unexpected", "md5() got an unexpected keyword argument 'extra'", "x", "lower", extra=1),
    keyword_error("md5", "multiple", "md5() got multiple values for keyword argument 'value'", "x", "lower",
                  value="y"),
    keyword_error("rsa_keys", "unexpected", "rsa_keys() got an unexpected keyword argument 'size'", size=1),
    keyword_error("rsa_keys", "multiple", "rsa_keys() got multiple values for keyword argument 'length'", 1,
                  length=2),
    keyword_error("token", "multiple", "token() got multiple values for keyword argument 'exp_time'", "d", "k", 1,
                  "i", exp_time=2),
    # the first offending keyword, in call order, decides
    keyword_error("token", "multiple-first", "token() got multiple values for keyword argument 'data'", "d", data=1,
                  zzz=2, key="k"),
    keyword_error("token", "unexpected-first", "token() got an unexpected keyword argument 'zzz'", "d", "k", zzz=2,
                  data=1),
    keyword_error("php", "self-by-keyword", "php() got multiple values for keyword argument 'self'", "v", "k", "i",
                  self=1),
]


CASES = [
    ok("__init__", expected=None),
    *(row for c in CIPHERS for row in cipher_cases(c)),
    *PHP_CASES,
    *BASE64_CASES,
    *(row for name in DIGEST_LINE for row in digest_cases(name)),
    *HMAC_CASES,
    *RSA_CASES,
    *TOKEN_CASES,
    *BINDING_CASES,
]
BY_ID = {case.id: case for case in CASES}

METHOD_NAMES = sorted({case.method for case in CASES})
