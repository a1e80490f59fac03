"""The frame keeps nothing: no leaks over many calls, no allocation while binding."""

import tracemalloc

import pytest

from conftest import blocks_growth
from crypt_main import _Crypt, m_crypt

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
