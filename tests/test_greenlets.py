"""Calls interleaved on one thread by greenlets, suspended and resumed in any order:
each gets its own result."""

import pytest

from conftest import hexdigest, raises_at, tool
from crypt_main import m_crypt

greenlet = tool("greenlet")


class Suspends(str):
    """Text whose encode hands control to the parent greenlet first, suspending the
    method call that asked for it; a KeyError thrown in is caught when `catches`."""

    catches = True

    def encode(self, *args, **kwargs):
        try:
            greenlet.getcurrent().parent.switch()
        except KeyError:
            if not self.catches:
                raise
        return str.encode(self, *args, **kwargs)


class Uncaught(Suspends):
    catches = False


# how the call that began first is resumed: it ends before the one that began after it
RESUMED = {
    "switch": (Suspends, lambda g: g.switch()),
    "throw-caught": (Suspends, lambda g: g.throw(KeyError)),
    "throw-uncaught": (Uncaught, lambda g: g.throw(KeyError)),
}


@pytest.mark.parametrize("text_type, resume", RESUMED.values(), ids=RESUMED)
def test_calls_suspended_in_greenlets_may_end_in_any_order(text_type, resume):
    first = greenlet.greenlet(lambda: m_crypt.sha1(text_type("a"), "lower"))
    second = greenlet.greenlet(lambda: m_crypt.sha1(Suspends("b"), "lower"))
    first.switch()
    second.switch()  # both suspended inside their calls
    if text_type is Uncaught:
        raises_at(KeyError, lambda: resume(first), ("sha1", 186))
    else:
        assert resume(first) == hexdigest("sha1", "a")
    assert second.switch() == hexdigest("sha1", "b")


def test_a_call_suspended_in_a_greenlet_outlives_the_call_that_started_it():
    inner = greenlet.greenlet(lambda: m_crypt.md5(Suspends("inner"), "lower"))

    class StartsInner(str):
        def encode(self, *args, **kwargs):
            inner.switch()  # the inner call begins, and is suspended until after this call
            return str.encode(self, *args, **kwargs)

    assert m_crypt.md5(StartsInner("outer"), "lower") == hexdigest("md5", "outer")
    assert inner.switch() == hexdigest("md5", "inner")
