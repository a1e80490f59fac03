"""What the benchmarks run: every operation, three ways.

Each case holds the arguments and three statements that do the same work:
  module  - the call of crypt_main.m_crypt's method, as a user writes it;
  pure    - the same call of the pure-Python class in pure_crypt.py;
  inline  - the method's steps written out at the call site: the same package calls
            in the same order, with no method around them.
The statements run in a namespace that holds the module globals of crypt_main
(hashlib, AES, pad, ...) as globals, like a user's module; the arguments are locals.
"""

import base64
import binascii
import dataclasses
import hashlib
import hmac
import random
import time
import types
from binascii import a2b_hex, b2a_hex

import jwt
import rsa
import rsa.randnum
from Crypto.Cipher import AES, DES
from Crypto.Util.Padding import pad, unpad

import crypt_main
import pure_crypt

KEY16 = "0123456789abcdef"
IV16 = "fedcba9876543210"
KEY8 = "k8bytes!"
PHP_KEY = "php key"
HMAC_KEY = "hmac key"
TOKEN_KEY = "a token secret of 32 bytes or so!"
SHORT = "The quick brown fox 你好"       # 26 UTF-8 bytes, GBK-encodable
LONG = SHORT * 158                       # about 4 KiB

# python-rsa draws its primes from os.urandom; the key-generation benchmark replaces
# that source with a seeded one, reseeded before every call, so every call does the
# same work and the three variants can be compared.
_rng = random.Random()


def reseed():
    _rng.seed(20240101)


def seeded_rsa_random():
    rsa.randnum.os = types.SimpleNamespace(urandom=_rng.randbytes)


def namespace():
    """The globals the statements see."""
    return {
        "M": crypt_main.m_crypt,
        "P": pure_crypt.m_crypt,
        "base64": base64,
        "hashlib": hashlib,
        "hmac": hmac,
        "time": time,
        "a2b_hex": a2b_hex,
        "b2a_hex": b2a_hex,
        "jwt": jwt,
        "rsa": rsa,
        "AES": AES,
        "DES": DES,
        "pad": pad,
        "unpad": unpad,
        "reseed": reseed,
        "binascii": binascii,
        "MOD": crypt_main,
        "PMOD": pure_crypt,
    }


@dataclasses.dataclass
class Case:
    op: str          # method name
    label: str       # what the input is
    args: dict       # parameter name -> argument, bound as locals of the statements
    module: str
    pure: str
    inline: str
    cheap: bool = False     # measured in instruction-count mode too
    exact: bool = True      # the three give equal results (no randomness, no clock)
    result: str = "result"  # the local that holds the inline statement's result
    prefix: str = ""        # a statement run before each call of the module and the pure class
    error: str = ""         # a failing call: the exception it raises, caught by the statement

    def prefix_for(self, variant):
        """The prefix statement for the module or the pure class: `{mod}` in it names the
        module that holds the class that is called."""
        return self.prefix.format(mod={"module": "MOD", "pure": "PMOD"}[variant])

    def statement(self, variant):
        if variant == "inline":
            stmt = self.inline
        else:
            stmt = self.prefix_for(variant) + getattr(self, variant)
        if self.error and stmt is not None:
            body = "\n".join("    " + line for line in stmt.splitlines())
            stmt = f"try:\n{body}\nexcept {self.error}:\n    pass"
        return stmt

    @property
    def name(self):
        return f"{self.op} ({self.label})" if self.label else self.op

    @property
    def setup(self):
        names = list(self.args)
        if not names:
            return "pass"
        return f"{', '.join(names)}, = _args"


def call(op, params):
    return f"M.{op}({params})", f"P.{op}({params})"


# The steps of each method written out; `result` holds what the method returns.
DIGEST_INLINE = """\
result = hashlib.{ctor}()
result.update(value.encode(encoding="utf-8"))
result = result.hexdigest()
if fmt == "upper":
    result = result.upper()
elif fmt == "lower":
    result = result.lower()"""

MD5_INLINE = """\
result = hashlib.md5()
if isinstance(value, bytes):
    result.update(value)
else:
    result.update(value.encode(encoding="utf-8"))
result = result.hexdigest()
if fmt == "upper":
    result = result.upper()
elif fmt == "lower":
    result = result.lower()"""

INLINE = {
    "aes_ecb": """\
cryptor = AES.new(key.encode("utf-8"), AES.MODE_ECB)
result = cryptor.encrypt(pad(value.encode("utf-8"), AES.block_size))""",
    "aes_ecb_decrypt": """\
cryptor = AES.new(key.encode("utf-8"), AES.MODE_ECB)
text = cryptor.decrypt(value)
result = unpad(text, AES.block_size).decode()""",
    "aes_cbc": """\
cryptor = AES.new(key.encode("utf-8"), AES.MODE_CBC, iv.encode("utf-8"))
result = cryptor.encrypt(pad(value.encode("utf-8"), AES.block_size))""",
    "aes_cbc_decrypt": """\
cryptor = AES.new(key.encode("utf-8"), AES.MODE_CBC, iv.encode("utf-8"))
text = cryptor.decrypt(value)
result = unpad(text, AES.block_size).decode()""",
    "base64": """\
result = str(base64.encodebytes(value.encode()), encoding="utf-8").replace("\\n", "")""",
    "base64_decrypt": """\
result = str(base64.decodebytes(value.encode(encoding="utf-8")), encoding="utf-8")""",
    "des": """\
cryptor = DES.new(key.encode("utf-8"), DES.MODE_ECB)
result = cryptor.encrypt(pad(value.encode("utf-8"), DES.block_size))""",
    "des_decrypt": """\
cryptor = DES.new(key.encode("utf-8"), DES.MODE_ECB)
text = cryptor.decrypt(value)
result = unpad(text, DES.block_size).decode()""",
    "md5": MD5_INLINE,
    "md5_hmac": """\
message = value if isinstance(value, bytes) else value.encode(encoding="utf-8")
secret = key if isinstance(key, bytes) else key.encode(encoding="utf-8")
result = hmac.new(secret, message, digestmod=hashlib.md5)
result = result.digest()""",
    # php and php_decrypt: the block filler written out where the method calls it
    "php": """\
key_bytes = key.encode("gbk")
while len(key_bytes) % 16 != 0:
    key_bytes += "\\x00".encode()
cryptor = AES.new(key_bytes, AES.MODE_CBC, iv.encode("utf-8"))
plain = value.encode("gbk")
while len(plain) % 16 != 0:
    plain += "\\x00".encode()
result = cryptor.encrypt(plain)
if base64s:
    result = str(base64.encodebytes(result), encoding="utf-8").replace("\\n", "")""",
    "php_decrypt": """\
key_bytes = key.encode("gbk")
while len(key_bytes) % 16 != 0:
    key_bytes += "\\x00".encode()
cryptor = AES.new(key_bytes, AES.MODE_CBC, iv.encode("utf-8"))
data = base64.decodebytes(value.encode()) if base64s else value
text = cryptor.decrypt(data).decode("gbk")
result = text.rstrip("\\x00")""",
    "_add_to_16": """\
result = value.encode("gbk")
while len(result) % 16 != 0:
    result += "\\x00".encode()""",
    "rsa_keys": """\
reseed()
required_bits = (length + 11) * 8
if required_bits <= 512:
    key_length = 512
elif required_bits <= 1024:
    key_length = 1024
elif required_bits <= 2048:
    key_length = 2048
else:
    key_length = 4096
pub_key, pri_key = rsa.newkeys(key_length)
result = (pub_key, pri_key)""",
    "rsa": """\
text = rsa.encrypt(value.encode(), pub_key)
result = b2a_hex(text) if hexs else text""",
    "rsa_decrypt": """\
data = a2b_hex(value) if hexs else value
result = rsa.decrypt(data, pri_key).decode()""",
    "token": """\
token_dict = {"data": data, "iat": int(time.time()), "iss": issuer}
if isinstance(exp_time, int):
    token_dict.update(exp=int(time.time()) + exp_time)
result = jwt.encode(token_dict, key, algorithm="HS256")""",
    "token_decrypt": """\
try:
    token_dict = jwt.decode(token, key, issuer=issuer, algorithms=["HS256"])
    result = token_dict.get("data")
except jwt.exceptions.ExpiredSignatureError:
    raise TimeoutError("token已过期")
except Exception as e:
    raise Exception("系统异常：" + f"{e}")""",
}
for _ctor in ("sha1", "sha256", "sha384", "sha512"):
    INLINE[_ctor] = DIGEST_INLINE.format(ctor=_ctor)


def case(op, label, args, params=None, *, cheap=False, exact=True, prefix=""):
    params = ", ".join(args) if params is None else params
    module, pure = call(op, params)
    return Case(op, label, args, module, pure, INLINE[op], cheap=cheap, exact=exact, prefix=prefix)


def failing(op, label, args, error, params=None, *, inline=True):
    """A call that fails with `error` (the name of its class, as an except clause
    spells it); `inline=False` for a failure that only a method has (binding)."""
    params = ", ".join(args) if params is None else params
    module, pure = call(op, params)
    # Python words its own binding errors differently: only their type is the same.
    return Case(op, f"fails: {label}", args, module, pure, INLINE[op] if inline else None, cheap=True,
                exact=inline, error=error)


# A token that expired long ago and a valid one, both under TOKEN_KEY.
EXPIRED_TOKEN = jwt.encode({"data": 1, "iat": 1, "iss": "Tarvex", "exp": 2}, TOKEN_KEY, algorithm="HS256")


# Rebinding a global between calls: a counter in the namespace of the module that holds
# the class, and one in a package's namespace that the method reads (hashlib). A dunder
# name, made by the first rebinding, so that importing this file changes no namespace.
REBIND = {"own namespace": '{mod}.__calls__ = getattr({mod}, "__calls__", 0) + 1\n',
          "hashlib": 'hashlib.__calls__ = getattr(hashlib, "__calls__", 0) + 1\n'}


def rebinding_cases():
    """md5 with an unrelated global rebound before every call."""
    rows = []
    for where, prefix in REBIND.items():
        row = case("md5", f"short, a global of {where} rebound", {"value": SHORT, "fmt": "upper"}, cheap=True,
                   prefix=prefix)
        row.inline = None
        rows.append(row)
    return rows


def rebinding_alone():
    """The rebinding statements on their own, per variant: subtracted from the rows above."""
    return {(where, variant): prefix.format(mod={"module": "MOD", "pure": "PMOD"}[variant])
            for where, prefix in REBIND.items() for variant in ("module", "pure")}


def failure_cases():
    """One failing call for each class of failure: binding, a body step, a package's
    error, and the two ways token_decrypt turns a failure into its own exception."""
    token = jwt.encode({"data": 1, "iat": 1, "iss": "Tarvex"}, TOKEN_KEY, algorithm="HS256")
    return [
        failing("md5", "binding", {"value": "x"}, "TypeError", inline=False),
        failing("md5", "body step", {"value": 1, "fmt": "lower"}, "AttributeError"),
        failing("base64_decrypt", "package error", {"value": "abc"}, "binascii.Error"),
        failing("aes_ecb", "key length", {"value": "hello, world", "key": "short"}, "ValueError"),
        failing("aes_ecb_decrypt", "padding", {"value": bytes(16), "key": KEY16}, "ValueError"),
        failing("token_decrypt", "token expiry", {"token": EXPIRED_TOKEN, "key": TOKEN_KEY, "issuer": "Tarvex"},
                "TimeoutError", "token, key"),
        failing("token_decrypt", "token rejection", {"token": token, "key": TOKEN_KEY[::-1], "issuer": "Tarvex"},
                "Exception", "token, key"),
    ]


def operation_cases():
    """Every operation, with a short and a long input where the size matters."""
    p = pure_crypt.m_crypt
    pub, pri = p.rsa_keys(53)
    cases = []
    for label, text in (("short", SHORT), ("4 KiB", LONG)):
        cheap = label == "short"
        cases += [
            case("aes_ecb", label, {"value": text, "key": KEY16}, cheap=cheap),
            case("aes_ecb_decrypt", label, {"value": p.aes_ecb(text, KEY16), "key": KEY16}, cheap=cheap),
            case("aes_cbc", label, {"value": text, "key": KEY16, "iv": IV16}),
            case("aes_cbc_decrypt", label, {"value": p.aes_cbc(text, KEY16, IV16), "key": KEY16, "iv": IV16}),
            case("base64", label, {"value": text}, cheap=cheap),
            case("base64_decrypt", label, {"value": p.base64(text)}, cheap=cheap),
            case("des", label, {"value": text, "key": KEY8}),
            case("des_decrypt", label, {"value": p.des(text, KEY8), "key": KEY8}),
            case("md5", label, {"value": text, "fmt": "upper"}, cheap=cheap),
            case("sha1", label, {"value": text, "fmt": "upper"}),
            case("sha256", label, {"value": text, "fmt": "upper"}, cheap=cheap),
            case("sha384", label, {"value": text, "fmt": "upper"}),
            case("sha512", label, {"value": text, "fmt": "upper"}),
            case("md5_hmac", label, {"value": text, "key": HMAC_KEY}, cheap=cheap),
            case("_add_to_16", label, {"value": text}, cheap=cheap),
            case("php", label, {"value": text, "key": PHP_KEY, "iv": IV16, "base64s": False}),
            case("php_decrypt", label, {"value": p.php(text, PHP_KEY, IV16), "key": PHP_KEY, "iv": IV16,
                                        "base64s": False}),
        ]
    cases += [
        case("md5", "short, lower", {"value": SHORT, "fmt": "lower"}, cheap=True),
        case("md5", "short, bytes", {"value": SHORT.encode(), "fmt": "upper"}, cheap=True),
        case("md5", "short, keywords", {"value": SHORT, "fmt": "upper"}, "value=value, fmt=fmt", cheap=True),
        case("md5_hmac", "short, bytes", {"value": SHORT.encode(), "key": HMAC_KEY.encode()}, cheap=True),
        case("php", "short, base64s", {"value": SHORT, "key": PHP_KEY, "iv": IV16, "base64s": True}),
        case("php_decrypt", "short, base64s", {"value": p.php(SHORT, PHP_KEY, IV16, True), "key": PHP_KEY,
                                               "iv": IV16, "base64s": True}),
        case("rsa_keys", "53: 512 bits, seeded", {"length": 53}, prefix="reseed()\n"),
        case("rsa", "512 bits", {"value": SHORT, "pub_key": pub, "hexs": False}, exact=False),
        case("rsa", "512 bits, hexs", {"value": SHORT, "pub_key": pub, "hexs": True}, exact=False),
        case("rsa_decrypt", "512 bits", {"value": p.rsa(SHORT, pub), "pri_key": pri, "hexs": False}),
        case("rsa_decrypt", "512 bits, hexs", {"value": p.rsa(SHORT, pub, True), "pri_key": pri, "hexs": True}),
        case("token", "", {"data": {"user": 42}, "key": TOKEN_KEY, "exp_time": 86400, "issuer": "Tarvex"},
             "data, key", exact=False),
        case("token_decrypt", "", {"token": p.token({"user": 42}, TOKEN_KEY), "key": TOKEN_KEY, "issuer": "Tarvex"},
             "token, key"),
    ]
    order = {name: i for i, name in enumerate(crypt_main._Crypt.__dict__)}
    cases.sort(key=lambda c: order.get(c.op, 0))  # stable: keeps short before long
    return cases + rebinding_cases() + failure_cases()


def frame_statements():
    """The calling frame on its own: __init__ does nothing, so only the frame costs.

    Every callable is a local, so each statement is one call of a local with one
    argument; `literal` spells the attribute look-up out as a user would.
    """
    def nop(self):
        pass

    ns = namespace()
    ns.update(_Crypt=crypt_main._Crypt, m_crypt=crypt_main.m_crypt)
    setup = ("init = _Crypt.__init__; pinit = P.__class__.__init__; builtin_id = id; m = m_crypt; "
             "nop = _nop")
    ns["_nop"] = nop
    statements = {
        "init(m)": "init(m)",
        "id(m)": "builtin_id(m)",
        "nop(m)": "nop(m)",
        "pure init(m)": "pinit(m)",
        "init(self=m)": "init(self=m)",
        "nop(self=m)": "nop(self=m)",
        "pure init(self=m)": "pinit(self=m)",
        "init() fails": "try:\n    init()\nexcept TypeError:\n    pass",
        "pure init() fails": "try:\n    pinit()\nexcept TypeError:\n    pass",
        "_Crypt.__init__(m_crypt)": "_Crypt.__init__(m_crypt)",
        "id(m_crypt)": "id(m_crypt)",
    }
    return ns, setup, statements
