"""The frame keeps nothing: no leaks over many calls, no allocation while binding."""

import os
import sys
import tracemalloc

import pytest

from conftest import blocks_growth
from crypt_main import _Crypt, m_crypt

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "bench"))
import pure_crypt  # noqa: E402  (the same steps written in Python)

# A few blocks may come and go with the interpreter's own caches between the two counts
# (free lists, the traceback code objects made on first use are made in the warm-up).
SLACK = 10


@pytest.mark.parametrize("call", [
    lambda: m_crypt.md5("some text", "upper"),
    lambda: m_crypt.sha256(value="some text", fmt="lower"),
    lambda: m_crypt.md5("x"),                        # binding failure
    lambda: m_crypt.md5("x", "lower", extra=1),      # keyword binding failure
    lambda: m_crypt.sha512(b"bytes", "lower"),       # failing body
    lambda: m_crypt.md5.__call__("x", fmt="lower"),  # the ordinary call protocol
], ids=["digest", "keywords", "too-few", "unexpected-keyword", "failing-body", "tp_call"])
def test_no_leak_over_many_calls(call):
    assert blocks_growth(call, 100_000) <= SLACK


def allocated_during(call):
    tracemalloc.start()
    try:
        call()  # warm-up
        tracemalloc.reset_peak()
        before = tracemalloc.get_traced_memory()[0]
        call()
        return tracemalloc.get_traced_memory()[1] - before
    finally:
        tracemalloc.stop()


def test_binding_a_vectorcall_allocates_nothing():
    init = _Crypt.__init__
    assert allocated_during(lambda: init(m_crypt)) == 0
    assert allocated_during(lambda: init(self=m_crypt)) == 0


def test_the_measure_sees_an_allocation():
    # an ordinary call with keywords builds a dictionary and a names tuple
    init = _Crypt.__init__
    assert allocated_during(lambda: init.__call__(self=m_crypt)) > 0


# Each intermediate is released once the call that consumed it returns, as the
# interpreter drops a temporary: the peak of one call on a large text is no higher than
# that of the same steps written in Python.
BIG = "a" * (1 << 18)
KEY, IV = "0123456789abcdef", "fedcba9876543210"


@pytest.mark.parametrize("method, args", [
    ("aes_ecb", (BIG, KEY)),
    ("aes_cbc", (BIG, KEY, IV)),
    ("des", (BIG, "8bytekey")),
    ("base64", (BIG,)),
    ("base64_decrypt", (m_crypt.base64(BIG),)),
    ("php", (BIG, "key", IV, True)),
    ("php_decrypt", (m_crypt.php(BIG, "key", IV), "key", IV)),
    ("_add_to_16", (BIG + "a",)),
])
def test_peak_memory_no_higher_than_in_python(method, args):
    module = allocated_during(lambda: getattr(m_crypt, method)(*args))
    pure = allocated_during(lambda: getattr(pure_crypt.m_crypt, method)(*args))
    assert module <= pure + 4096, (module, pure)
