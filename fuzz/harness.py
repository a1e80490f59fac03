"""What the fuzz targets share: the reference (the same steps written in Python), the
hostile objects, a model of the argument binding, and the check that compares a call of
the module with the same call of the reference.

A target's TestOneInput raises `Finding` (an uncaught exception, so atheris records the
input as a crash) when the module does something that the reference and the rules of the
module do not allow: SystemError, an exception of another type or text than the
reference's, a result that differs, a missing traceback entry. Crashes and sanitizer
reports end the process by themselves.
"""

import binascii
import os
import sys
import time
import types
import warnings

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "bench"))
sys.path.insert(0, os.path.join(ROOT, "tests"))

import atheris  # noqa: E402

# Python code is not instrumented: the edges that guide the fuzzer, and that the runs
# report, are those of the module's C++.
import crypt_main  # noqa: E402
import pure_crypt  # noqa: E402
# (also handed on to the targets, which use them as harness.<name>)
from hostile_objects import (BAD_BOOL, LIES, BadText, Boom, Bytes, EqAll, EqNone, Text, bail,  # noqa: E402,F401
                             boom, hostile)

import jwt  # noqa: E402
import rsa as rsa_package  # noqa: E402
from Crypto.Cipher import AES, DES  # noqa: E402
from Crypto.Util.Padding import pad  # noqa: E402

warnings.simplefilter("ignore")  # PyJWT warns about short keys; both sides would

M = crypt_main.m_crypt
MODULE_CLASS = crypt_main._Crypt
MODULE_NS = crypt_main.__dict__
PURE_NS = pure_crypt.__dict__


class Finding(AssertionError):
    """The module did what it must not."""


# ---- the reference ----------------------------------------------------------------------
# bench/pure_crypt.py, with the one deliberate difference of the module: token() refuses an
# exp_time that is neither an int nor None (TypeError, after token_dict is made) instead of
# issuing a token that never expires.

def _token(data, key, exp_time=86400, issuer="Tarvex"):
    token_dict = {"data": data, "iat": int(time.time()), "iss": issuer}
    if isinstance(exp_time, int):
        token_dict.update(exp=int(time.time()) + exp_time)
    elif exp_time is not None:
        raise TypeError(f"exp_time must be an int or None, not {type(exp_time).__name__}")
    result = jwt.encode(token_dict, key, algorithm="HS256")
    return result


class Reference(pure_crypt._Crypt):
    pass


# Named as the module's class, so that messages that name the type of an instance agree.
Reference.__name__ = Reference.__qualname__ = "_Crypt"


# Its globals are the pure module's, so that rebinding a global there reaches it too.
Reference.token = staticmethod(types.FunctionType(_token.__code__, PURE_NS, "token", (86400, "Tarvex")))
REF = Reference()
PURE_NS["Reference"] = Reference

METHODS = [name for name in vars(MODULE_CLASS) if not name.startswith("__")] + ["__init__"]
STATIC = {name for name in METHODS if isinstance(vars(MODULE_CLASS)[name], staticmethod)}


def parameters(name):
    """The parameter names of a method (the module's own objects) and its defaults."""
    function = vars(MODULE_CLASS)[name]
    function = getattr(function, "__func__", function)
    code = function.__code__
    return code.co_varnames[:code.co_argcount], function.__defaults__ or ()


def definition_line(name):
    function = vars(MODULE_CLASS)[name]
    return getattr(function, "__func__", function).__code__.co_firstlineno


# ---- fixtures ---------------------------------------------------------------------------

CLOCK = float(int(time.time()))


class FixedClock:
    """The module global `time` on both sides: tokens are issued at one fixed second."""

    @staticmethod
    def time():
        return CLOCK


class FakeRsa(types.ModuleType):
    """The module global `rsa` on both sides: the package's encrypt and decrypt, and a
    newkeys that records the size asked for and hands out a pair made once."""

    def __init__(self, pair):
        super().__init__("rsa")
        self.pair = pair
        self.asked = []
        self.encrypt = rsa_package.encrypt
        self.decrypt = rsa_package.decrypt

    def newkeys(self, size):
        self.asked.append(size)
        return self.pair


class _DeterministicOs:
    """python-rsa pads with os.urandom: a fixed stream makes encryption repeatable, so the
    module's ciphertext can be compared with the reference's byte for byte."""

    @staticmethod
    def urandom(n):
        return bytes((i * 7 + 1) % 255 + 1 for i in range(n))


rsa_package.pkcs1.os = _DeterministicOs
# AES.new(key, AES.MODE_CBC, None) draws a random IV, other modes (reached when a fuzz
# target changes AES.MODE_ECB) a random nonce: fixed ones here, for the same reason.
for _module in list(sys.modules.values()):
    if getattr(_module, "__name__", "").startswith("Crypto.") and hasattr(_module, "get_random_bytes"):
        _module.get_random_bytes = _DeterministicOs.urandom

PUB, PRI = rsa_package.newkeys(512)
FAKE_RSA = FakeRsa((PUB, PRI))


def fresh(text):
    """A new str object equal to `text`: not the interned one."""
    return (text + "#")[:-1]


TEXT = fresh("some text, é and 世界")
KEY16 = fresh("0123456789abcdef")
KEY24 = fresh("0123456789abcdef01234567")
KEY32 = fresh("0123456789abcdef0123456789abcdef")
IV16 = fresh("fedcba9876543210")
KEY8 = fresh("8bytekey")
PHP_KEY = fresh("short key")
TOKEN_KEY = fresh("a token key of at least thirty-two bytes")
CT_ECB = AES.new(KEY16.encode(), AES.MODE_ECB).encrypt(pad(TEXT.encode(), 16))
CT_CBC = AES.new(KEY16.encode(), AES.MODE_CBC, IV16.encode()).encrypt(pad(TEXT.encode(), 16))
CT_DES = DES.new(KEY8.encode(), DES.MODE_ECB).encrypt(pad(TEXT.encode(), 8))
CT_PHP = REF.php(TEXT, PHP_KEY, IV16)
B64 = REF.base64(TEXT)
CT_RSA = rsa_package.encrypt(TEXT.encode(), PUB)
TOKEN = jwt.encode({"data": {"n": [1, 2]}, "iat": int(CLOCK), "iss": "Tarvex"}, TOKEN_KEY, algorithm="HS256")
HUGE_TEXT = "x" * (1 << 20)


def install_fixtures():
    """The clock and the stand-in for rsa, bound the same way on both sides."""
    for ns in (MODULE_NS, PURE_NS):
        ns["time"] = FixedClock
        ns["rsa"] = FAKE_RSA


# ---- hostile objects --------------------------------------------------------------------
# The objects themselves are the test suite's (tests/hostile_objects.py); the fuzz targets
# draw from the suite's list of lying objects and a few more, below.

class Reentrant:
    """encode() calls into the module (and the reference) before it answers."""

    def encode(self, *args, **kwargs):
        M.md5("inner", "upper")
        REF.md5("inner", "upper")
        return b"0123456789abcdef"


HOSTILE = LIES + [
    hostile("HashRaises", __hash__=boom),
    hostile("BoolBails", __bool__=bail),
    hostile("EncodeBails", encode=bail),
    hostile("EncodeGivesLenHuge", encode=lambda self, *a, **k: hostile("X", __len__=lambda s: 1 << 100)),
    hostile("EncodeTakesNothing", encode=lambda self: b"0123456789abcdef"),
    hostile("AttributeBails", __getattr__=bail),
    hostile("FormatRaises", __format__=boom, __str__=boom),
    Reentrant(),
    EqAll("upper"),
    EqNone("lower"),
    bytearray(b"0123456789abcdef"),
    memoryview(b"0123456789abcdef"),
    memoryview(b"0123456789abcdef0123456789abcdef")[::2],
]
VALID = [TEXT, KEY16, KEY24, KEY32, KEY8, IV16, PHP_KEY, "", CT_ECB, CT_CBC, CT_DES, CT_PHP, B64, CT_RSA,
         CT_RSA.hex(), CT_RSA.hex().upper().encode(), TOKEN, TOKEN_KEY, PUB, PRI, "upper", "lower", True, False,
         0, 53, 2048, -1, None, M, {"a": [1, 2.5, None]}, ("t",)]
ODD = [1 << 64, -(1 << 200), 0.5, float("nan"), float("inf"), 3j, object(), [], {}, set(), HUGE_TEXT,
       "\ud800", "ab\udc80cd", "\U0001F600", "\x00" * 17, "é" * 16, "密钥" * 3, b"", b"\xff" * 16, "0" * 129,
       boom, MODULE_CLASS, crypt_main, Ellipsis]
VALUES = VALID + HOSTILE + ODD


def to_reference(value, param="self"):
    """The reference's counterpart of the value of parameter `param`: the reference's
    instance for the module's as `self`, so that self._add_to_16 is the reference's."""
    return REF if value is M and param == "self" else value


# ---- calls and their comparison ---------------------------------------------------------

def outcome(call):
    """("ok", result) or ("raised", exception)."""
    try:
        return "ok", call()
    except (KeyboardInterrupt, SystemExit):
        raise
    except BaseException as e:  # noqa: BLE001 - every exception is part of the outcome
        return "raised", e


def crypt_entries(exc):
    entries = []
    tb = exc.__traceback__
    while tb is not None:
        code = tb.tb_frame.f_code
        if code.co_filename == "crypt_main.py":
            entries.append((code.co_name, tb.tb_lineno))
        tb = tb.tb_next
    return entries


def same_value(a, b):
    if type(a) is not type(b):
        return False
    try:
        if a == b:
            return True
    except Exception:  # noqa: BLE001
        pass
    return repr(a) == repr(b)


def describe(kind, value):
    if kind == "raised":
        return f"{type(value).__module__}.{type(value).__qualname__}: {value!r}"[:400]
    return f"result {value!r}"[:400]


def compare(name, got, expected, allowed=None, what=""):
    """The module's outcome `got` against the reference's `expected` for method `name`.

    `allowed`: the exception types that the module may raise for these inputs at all
    (None: whatever the reference raises)."""
    kind, value = got
    if kind == "raised":
        if isinstance(value, SystemError):
            raise Finding(f"{name}{what}: SystemError {value!r}") from value
        entries = crypt_entries(value)
        if not any(function == f"crypt_main._Crypt.{name}" for function, _ in entries):
            if not (type(value) is TypeError and str(value) == "keywords must be strings"):
                raise Finding(f"{name}{what}: no traceback entry of the method in {describe(kind, value)}")
        if allowed is not None and not isinstance(value, allowed):
            raise Finding(f"{name}{what}: {describe(kind, value)} is not among {allowed}")
    ekind, evalue = expected
    if kind != ekind:
        raise Finding(f"{name}{what}: module gave {describe(kind, value)}, reference {describe(ekind, evalue)}")
    if kind == "raised":
        if type(value) is not type(evalue) or str(value) != str(evalue):
            raise Finding(f"{name}{what}: module raised {describe(kind, value)}, "
                          f"reference {describe(ekind, evalue)}")
        if name == "token_decrypt" and type(value.__context__) is not type(evalue.__context__):
            raise Finding(f"{name}{what}: __context__ {value.__context__!r} against {evalue.__context__!r}")
    elif not same_value(value, evalue):
        raise Finding(f"{name}{what}: module gave {describe(kind, value)}, reference {describe(ekind, evalue)}")


def check_call(name, args, kwargs=None, allowed=None, via_class=False):
    """Calls method `name` of the module and of the reference with the same arguments
    (ordinary Python call) and compares; gives the module's outcome."""
    kwargs = kwargs or {}
    owner = MODULE_CLASS if via_class else M
    ref_owner = Reference if via_class else REF
    got = outcome(lambda: getattr(owner, name)(*args, **kwargs))
    ref_args = list(args)
    if via_class and name not in STATIC and ref_args:
        ref_args[0] = to_reference(ref_args[0])
    expected = outcome(lambda: getattr(ref_owner, name)(*ref_args, **{k: to_reference(v, k) for k, v in kwargs.items()}))
    compare(name, got, expected, allowed)
    return got


# Exception types that each method may raise for arguments of the ordinary kinds (text,
# bytes-likes, numbers, None), besides the TypeError of a call that does not fit.
_CIPHER = (AttributeError, UnicodeEncodeError, ValueError, TypeError)
_DECRYPT = (AttributeError, UnicodeEncodeError, UnicodeDecodeError, ValueError, TypeError)
_DIGEST = (AttributeError, UnicodeEncodeError, TypeError)
ALLOWED = {
    "aes_ecb": _CIPHER, "aes_cbc": _CIPHER, "des": _CIPHER, "php": _CIPHER,
    "aes_ecb_decrypt": _DECRYPT, "aes_cbc_decrypt": _DECRYPT, "des_decrypt": _DECRYPT,
    "php_decrypt": _DECRYPT + (binascii.Error,),
    "_add_to_16": (AttributeError, UnicodeEncodeError, TypeError),
    "base64": (AttributeError, UnicodeEncodeError, TypeError),
    "base64_decrypt": (AttributeError, UnicodeEncodeError, UnicodeDecodeError, binascii.Error, TypeError),
    "md5": _DIGEST, "sha1": _DIGEST, "sha256": _DIGEST, "sha384": _DIGEST, "sha512": _DIGEST,
    "md5_hmac": _DIGEST,
    "rsa_keys": (TypeError,),
    "rsa": (OverflowError, AttributeError, UnicodeEncodeError, TypeError),
    "rsa_decrypt": (rsa_package.pkcs1.DecryptionError, binascii.Error, ValueError, UnicodeDecodeError, TypeError,
                    AttributeError),
    "token": (TypeError, ValueError, jwt.exceptions.PyJWTError),
    "token_decrypt": (TimeoutError, Exception),  # and of Exception only the module's own, see below
}


def check_token_decrypt_error(got):
    kind, value = got
    if kind != "raised" or type(value) is TypeError and crypt_entries(value)[-1:] == [
            ("crypt_main._Crypt.token_decrypt", definition_line("token_decrypt"))]:
        return
    if type(value) is TimeoutError:
        if value.args != ("token已过期",):
            raise Finding(f"token_decrypt: {value!r}")
    elif type(value) is not Exception or not str(value).startswith("系统异常："):
        raise Finding(f"token_decrypt: {describe(kind, value)}")


# ---- running ----------------------------------------------------------------------------

def run(test_one_input):
    """Sets up the fixtures and hands over to libFuzzer (the arguments are libFuzzer's)."""
    install_fixtures()
    # libFuzzer starts itself again for -merge=1 with argv[0] as the command (through the
    # shell): the interpreter has to be part of it.
    command = f"{sys.executable} {os.path.abspath(sys.argv[0])}"
    atheris.Setup([command] + sys.argv[1:], test_one_input)
    atheris.Fuzz()
