"""The methods of _Crypt: kinds, names, docstrings, defaults, signatures, lines."""

import builtins
import dis
import inspect
import pickle
import pydoc
import types

import pytest

import crypt_main
from crypt_main import _Crypt, m_crypt
from method_cases import DEFINED_AT

# name: (plain?, parameters, defaults, further locals, docstring); the definition lines: DEFINED_AT
METHODS = {
    "__init__": (True, "self", None, "", "_Crypt.__init__(self)"),
    "aes_ecb": (False, "value key", None, "cryptor result", "_Crypt.aes_ecb(value, key)"),
    "aes_ecb_decrypt": (False, "value key", None, "cryptor text result", "_Crypt.aes_ecb_decrypt(value, key)"),
    "aes_cbc": (False, "value key iv", None, "cryptor result", "_Crypt.aes_cbc(value, key, iv)"),
    "aes_cbc_decrypt": (False, "value key iv", None, "cryptor text result",
                        "_Crypt.aes_cbc_decrypt(value, key, iv)"),
    "base64": (False, "value", None, "result", "_Crypt.base64(value)"),
    "base64_decrypt": (False, "value", None, "result", "_Crypt.base64_decrypt(value)"),
    "des": (False, "value key", None, "cryptor result", "_Crypt.des(value, key)"),
    "des_decrypt": (False, "value key", None, "cryptor text result", "_Crypt.des_decrypt(value, key)"),
    "md5": (False, "value fmt", None, "result", "_Crypt.md5(value, fmt)"),
    "md5_hmac": (False, "value key", None, "result", "_Crypt.md5_hmac(value, key)"),
    "php": (True, "self value key iv base64s", (False,), "cryptor result",
            "_Crypt.php(self, value, key, iv, base64s=False)"),
    "php_decrypt": (True, "self value key iv base64s", (False,), "cryptor text result",
                    "_Crypt.php_decrypt(self, value, key, iv, base64s=False)"),
    "_add_to_16": (False, "value", None, "", "_Crypt._add_to_16(value)"),
    "rsa_keys": (False, "length", (2048,), "required_bits key_length pub_key pri_key",
                 "_Crypt.rsa_keys(length=2048)"),
    "rsa": (False, "value pub_key hexs", (False,), "text result", "_Crypt.rsa(value, pub_key, hexs=False)"),
    "rsa_decrypt": (False, "value pri_key hexs", (False,), "result",
                    "_Crypt.rsa_decrypt(value, pri_key, hexs=False)"),
    "sha1": (False, "value fmt", None, "result", "_Crypt.sha1(value, fmt)"),
    "sha256": (False, "value fmt", None, "result", "_Crypt.sha256(value, fmt)"),
    "sha384": (False, "value fmt", None, "result", "_Crypt.sha384(value, fmt)"),
    "sha512": (False, "value fmt", None, "result", "_Crypt.sha512(value, fmt)"),
    "token": (False, "data key exp_time issuer", (86400, "Tarvex"), "token_dict result",
              "_Crypt.token(data, key, exp_time=86400, issuer=u'Tarvex')"),
    "token_decrypt": (False, "token key issuer", ("Tarvex",), "token_dict e",
                      "_Crypt.token_decrypt(token, key, issuer=u'Tarvex')"),
}


def function(name):
    """The method's function object, unwrapped from its staticmethod."""
    attr = _Crypt.__dict__[name]
    return attr.__func__ if isinstance(attr, staticmethod) else attr


def test_class_namespace_in_table_order():
    assert list(_Crypt.__dict__)[:2] == ["__module__", "__init__"]
    assert [k for k in _Crypt.__dict__ if k in METHODS] == list(METHODS)
    assert _Crypt.__bases__ == (object,)
    assert _Crypt.__doc__ is None
    assert (_Crypt.__module__, _Crypt.__qualname__, _Crypt.__name__) == ("crypt_main", "_Crypt", "_Crypt")
    assert type(m_crypt) is _Crypt and vars(m_crypt) == {}


@pytest.mark.parametrize("name", METHODS)
def test_function_code_signature_and_binding(name):
    plain, params, defaults, local_names, doc = METHODS[name]
    f = function(name)
    assert (f.__name__, f.__qualname__, f.__module__, f.__doc__) == (name, "_Crypt." + name, "crypt_main", doc)
    assert f.__defaults__ == defaults and f.__kwdefaults__ is None and f.__globals__ is crypt_main.__dict__
    if defaults:
        assert all(type(d) is type(e) for d, e in zip(f.__defaults__, defaults))
    parameters = params.split()
    code = f.__code__
    assert code.co_varnames == tuple(parameters + local_names.split())
    assert (code.co_argcount, code.co_posonlyargcount, code.co_kwonlyargcount) == (len(parameters), 0, 0)
    assert code.co_firstlineno == DEFINED_AT[name]
    # A function made from the code fails cleanly, as one made from the interpreter's own
    # empty code objects does, at the definition line.
    depth = peak = 0  # what the bytecode pushes at most: the stack its frames are given must hold it
    for instruction in dis.get_instructions(code):
        depth += dis.stack_effect(instruction.opcode, instruction.arg, jump=False)
        peak = max(peak, depth)
    assert code.co_stacksize >= peak > 0
    made = types.FunctionType(code, f.__globals__, name, f.__defaults__)
    with pytest.raises(AssertionError) as info:
        made(*parameters)
    assert (info.traceback[-1].lineno + 1, info.traceback[-1].name) == (DEFINED_AT[name], name)

    n = len(parameters) - len(defaults or ())
    shown = parameters[:n] + [f"{p}={d!r}" for p, d in zip(parameters[n:], defaults or ())]
    assert str(inspect.signature(f)) == f"({', '.join(shown)})"
    assert str(inspect.signature(getattr(m_crypt, name))) == f"({', '.join(shown[1:] if plain else shown)})"

    assert getattr(_Crypt, name) is f
    if plain:
        assert _Crypt.__dict__[name] is f
        bound = getattr(m_crypt, name)
        assert bound.__self__ is m_crypt and bound.__func__ is f
    else:
        assert type(_Crypt.__dict__[name]) is staticmethod and getattr(m_crypt, name) is f


def test_help_lists_every_public_method_with_its_docstring():
    text = pydoc.render_doc(m_crypt, renderer=pydoc.plaintext)
    for name, (_, _, _, _, doc) in METHODS.items():
        assert name == "_add_to_16" or f"{name}(" in text and doc in text, name  # pydoc hides private names


def test_functions_pickle_by_reference_and_show_their_name():
    assert pickle.loads(pickle.dumps(m_crypt.md5)) is m_crypt.md5
    assert pickle.loads(pickle.dumps(m_crypt.php)).__func__ is _Crypt.php
    assert repr(m_crypt.md5).startswith("<function _Crypt.md5 at ")


def test_defaults_are_read_only():
    with pytest.raises(AttributeError):
        m_crypt.token.__defaults__ = (1, "x")
    assert m_crypt.token.__defaults__ == (86400, "Tarvex")


def test_init_and_construction():
    assert _Crypt.__init__(m_crypt) is None
    other = _Crypt()
    assert type(other) is _Crypt and vars(other) == {}
    assert other.md5("abc", "lower") == m_crypt.md5("abc", "lower")
    with pytest.raises(TypeError, match=r"^__init__\(\) takes exactly 1 positional argument \(2 given\)$"):
        _Crypt(1)
    assert crypt_main.__builtins__ is builtins
