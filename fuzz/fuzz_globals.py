"""Module globals and package attributes rebound, deleted or replaced by odd objects
between calls (and in the middle of one): the remembered look-ups of the module must see
every change exactly as a fresh look-up would.

Each input is a short program of steps: change something (in the module's namespace and
the reference's alike, or in a package that both use, or on the class and the instance),
or call a method with working arguments. Every call is compared with the reference's.
Everything is put back at the end of the input.
"""

import base64 as base64_module
import builtins
import hashlib
import types

import jwt
from Crypto.Cipher import AES

import harness
from harness import M, MODULE_CLASS, MODULE_NS, PURE_NS, Reference, REF, check_call

GLOBALS = ["base64", "hashlib", "hmac", "time", "a2b_hex", "b2a_hex", "jwt", "rsa", "AES", "DES", "pad", "unpad",
           "TimeoutError", "_Crypt", "m_crypt", "str", "Exception", "staticmethod"]
# Names that the bodies never look up (the built-in str type and Exception are used as
# they are): changed in the module's namespace only, they must change nothing.
MODULE_ONLY = {"str", "Exception"}


def namespaces(name):
    return (MODULE_NS,) if name in MODULE_ONLY else (MODULE_NS, PURE_NS)

WORKING = {
    "aes_ecb": [harness.TEXT, harness.KEY16],
    "aes_ecb_decrypt": [harness.CT_ECB, harness.KEY16],
    "aes_cbc": [harness.TEXT, harness.KEY16, harness.IV16],
    "aes_cbc_decrypt": [harness.CT_CBC, harness.KEY16, harness.IV16],
    "des": [harness.TEXT, harness.KEY8],
    "des_decrypt": [harness.CT_DES, harness.KEY8],
    "php": [harness.TEXT, harness.PHP_KEY, harness.IV16, True],
    "php_decrypt": [harness.CT_PHP, harness.PHP_KEY, harness.IV16],
    "_add_to_16": [harness.TEXT],
    "base64": [harness.TEXT],
    "base64_decrypt": [harness.B64],
    "md5": [harness.TEXT, "upper"],
    "sha1": [harness.TEXT, "lower"],
    "sha256": [harness.TEXT, "upper"],
    "md5_hmac": [harness.TEXT, b"key"],
    "rsa_keys": [53],
    "rsa": [harness.TEXT, harness.PUB, True],
    "rsa_decrypt": [harness.CT_RSA, harness.PRI],
    "token": [{"a": 1}, harness.TOKEN_KEY, 600],
    "token_decrypt": [harness.TOKEN, harness.TOKEN_KEY],
}
EXPIRED = jwt.encode({"data": 1, "iss": "Tarvex", "exp": 2}, harness.TOKEN_KEY, algorithm="HS256")


class Namespace(types.ModuleType):
    """A module of another type: its attributes are not read through a plain module's dictionary."""


def proxy_of(module):
    """A plain module with the same names: answers as the original until changed."""
    copy = types.ModuleType(module.__name__)
    copy.__dict__.update({k: v for k, v in vars(module).items() if k not in ("__name__",)})
    return copy


class Getattr:
    """Finds every attribute through __getattr__, from the module it stands for."""

    def __init__(self, module):
        self._module = module

    def __getattr__(self, name):
        return getattr(self._module, name)


class Rebinder:
    """A value whose encode() changes a global of the namespace being called, mid-call."""

    target = None  # the namespace of the side being called, set before each call

    def __init__(self, name, value):
        self.name, self.value = name, value

    def encode(self, *args, **kwargs):
        if Rebinder.target is PURE_NS and self.name in MODULE_ONLY:
            pass
        elif self.value is harness.Boom:
            Rebinder.target.pop(self.name, None)
        else:
            Rebinder.target[self.name] = self.value
        return harness.KEY16.encode()


def replacement(fdp, name):
    original = MODULE_NS.get(name)
    choice = fdp.ConsumeIntInRange(0, 9)
    if choice == 0:
        return None
    if choice == 1 and isinstance(original, types.ModuleType):
        return proxy_of(original)
    if choice == 2 and isinstance(original, types.ModuleType):
        namespace = Namespace(original.__name__)
        namespace.__dict__.update(vars(original))
        return namespace
    if choice == 3 and original is not None:
        return Getattr(original)
    if choice == 4:
        return fdp.PickValueInList([1, "text", b"", object(), harness.BAD_BOOL, harness.boom, type])
    if choice == 5:
        return fdp.PickValueInList([hashlib, base64_module, AES, jwt, harness.FAKE_RSA, builtins])
    if choice == 6:
        return types.ModuleType("empty")
    if choice == 7:
        return harness.hostile("AttributeRaises", __getattr__=harness.boom)
    return original  # bound again to what it was: a change all the same


# Package attributes that the bodies read, and what they may become for a while.
PACKAGE_ATTRIBUTES = [
    (AES, "new"), (AES, "block_size"), (AES, "MODE_ECB"), (AES, "MODE_CBC"), (hashlib, "md5"), (hashlib, "sha256"),
    (base64_module, "encodebytes"), (base64_module, "decodebytes"), (jwt, "decode"), (jwt, "encode"),
    (jwt, "exceptions"), (harness.FAKE_RSA, "encrypt"), (harness.FAKE_RSA, "newkeys"), (builtins, "TimeoutError"),
    (jwt.exceptions, "ExpiredSignatureError"),
]
ATTRIBUTE_VALUES = [None, 16, 8, 0, "x", harness.boom, lambda *a, **k: b"0" * 16, lambda *a, **k: None,
                    ValueError, (ValueError, KeyError), types.ModuleType("m"), harness.BAD_BOOL]


class Changes:
    """What an input changed, to be put back afterwards."""

    log = []  # what the current input did, for the report of a finding

    def __init__(self):
        Changes.log = []
        self.namespaces = {id(ns): (ns, dict(ns)) for ns in (MODULE_NS, PURE_NS)}
        self.attributes = []

    def set_attribute(self, owner, name, value):
        self.attributes.append((owner, name, name in vars(owner), vars(owner).get(name)))
        if value is harness.Boom:
            if name in vars(owner):
                delattr(owner, name)
        else:
            setattr(owner, name, value)

    def undo(self):
        for owner, name, had, old in reversed(self.attributes):
            if had:
                setattr(owner, name, old)
            elif name in vars(owner):
                delattr(owner, name)
        for ns, saved in self.namespaces.values():
            ns.clear()
            ns.update(saved)


def step(fdp, changes):
    choice = fdp.ConsumeIntInRange(0, 10)
    if choice <= 2:  # a global of both namespaces rebound or deleted
        name = fdp.PickValueInList(GLOBALS)
        value = harness.Boom if fdp.ConsumeIntInRange(0, 3) == 0 else replacement(fdp, name)
        Changes.log.append(f"global {name} = {value!r:.80}")
        for ns in namespaces(name):
            if value is harness.Boom:
                ns.pop(name, None)
            else:
                ns[name] = value
    elif choice == 3:  # keys that are not exact str in the namespaces
        key = fdp.PickValueInList([1, harness.Text("AES"), harness.EqAll("zz"), (1,)])
        add = fdp.ConsumeBool()
        Changes.log.append(f"odd key {key!r} {'added' if add else 'removed'}")
        for ns in (MODULE_NS, PURE_NS):
            if add:
                ns[key] = "odd"
            else:
                ns.pop(key, None)
    elif choice == 4:  # a package attribute, seen by both sides
        owner, name = fdp.PickValueInList(PACKAGE_ATTRIBUTES)
        value = harness.Boom if fdp.ConsumeIntInRange(0, 3) == 0 else fdp.PickValueInList(ATTRIBUTE_VALUES)
        Changes.log.append(f"{getattr(owner, '__name__', owner)}.{name} = {value!r:.80}")
        changes.set_attribute(owner, name, value)
    elif choice == 5:  # the filler on the class or on the instance
        value = fdp.PickValueInList([staticmethod(lambda v: b"0" * 16), staticmethod(harness.boom), harness.Boom,
                                     staticmethod(lambda v: "text"), lambda *a: b"1" * 32])
        on_instance = fdp.ConsumeBool()
        Changes.log.append(f"_add_to_16 on {'instance' if on_instance else 'class'} = {value!r:.80}")
        for owner in ((M, REF) if on_instance else (MODULE_CLASS, Reference.__base__)):
            changes.set_attribute(owner, "_add_to_16", value if not on_instance or value is harness.Boom
                                  else getattr(value, "__func__", value))
    elif choice == 6:  # many changes of one namespace in a row
        name = fdp.PickValueInList(GLOBALS)
        Changes.log.append(f"global {name} stored again and again")
        for _ in range(fdp.ConsumeIntInRange(1, 40)):
            for ns in namespaces(name):
                ns[name] = ns.get(name)
    else:
        call(fdp)


FILLER = vars(MODULE_CLASS)["_add_to_16"]


def call(fdp):
    name = fdp.PickValueInList(list(WORKING))
    if name == "_add_to_16" and (vars(MODULE_CLASS).get(name) is not FILLER or name in vars(M)):
        name = "php"  # the filler is not the module's for now: through php, which calls it
    args = list(WORKING[name])
    if fdp.ConsumeIntInRange(0, 3) == 0:
        at = fdp.ConsumeIntInRange(0, len(args) - 1)
        args[at] = Rebinder(fdp.PickValueInList(GLOBALS), fdp.PickValueInList([harness.Boom, None, AES, 7]))
    if name == "token_decrypt" and fdp.ConsumeBool():
        args[0] = EXPIRED
    Changes.log.append(f"call {name}{tuple(args)!r:.200}")
    for _ in range(fdp.ConsumeIntInRange(1, 3)):  # again: a remembered answer is used
        Rebinder.target = MODULE_NS
        got = harness.outcome(lambda: getattr(M, name)(*args))
        Rebinder.target = PURE_NS
        expected = harness.outcome(lambda: getattr(REF, name)(*args))
        harness.compare(name, got, expected, what=" after changes")


def TestOneInput(data):
    fdp = harness.atheris.FuzzedDataProvider(data)
    changes = Changes()
    try:
        for _ in range(fdp.ConsumeIntInRange(1, 8)):
            step(fdp, changes)
        call(fdp)
    except harness.Finding as finding:
        raise harness.Finding(f"{finding}\n  steps: " + "\n    ".join(Changes.log)) from None
    finally:
        changes.undo()


if __name__ == "__main__":
    harness.run(TestOneInput)
