"""Binding: any method, through the instance and the class, by vectorcall (with any tuple
of keyword names, duplicates and non-str names included) and by the ordinary call
protocol, with a fuzzer-chosen mix of positional and keyword arguments whose values are
drawn from hostile objects.

The expected outcome comes from a model of the binding rules of the module: a call that
does not fit must fail with the model's TypeError text (or the exception that comparing
a keyword name raised); a call that fits must give what the reference gives for the
bound values.
"""

import sys

import _testcapi

import harness
from harness import M, MODULE_CLASS, REF, Reference, Finding, outcome, compare, to_reference


def count_error(name, required, count, m):
    word = "exactly" if required == count else "at least" if m < required else "at most"
    expected = required if word == "at least" else count
    return TypeError(f"{name[:200]}() takes {word} {expected} positional argument{'' if expected == 1 else 's'} "
                     f"({m} given)")


def equal(a, b):
    return a is b or bool(a == b)


def model_bind(name, params, defaults, args, kwnames, kwvalues):
    """The bound values, in parameter order; raises what binding raises."""
    count = len(params)
    required = count - len(defaults)
    n = len(args)
    slots = list(args[:count]) + [None] * (count - min(n, count))
    for i in range(max(n, required), count):
        slots[i] = defaults[i - required]
    if not kwnames:
        if not required <= n <= count:
            raise count_error(name, required, count, n)
        return slots
    if n > count:
        raise count_error(name, required, count, n)

    def find(param):
        for k, keyword in enumerate(kwnames):
            if keyword is param:
                return k
        for k, keyword in enumerate(kwnames):
            if equal(keyword, param):
                return k
        return -1

    unused = len(kwnames)
    for i in range(n, required):
        k = find(params[i])
        if k < 0:
            raise count_error(name, required, count, i)
        slots[i] = kwvalues[k]
        unused -= 1
    for i in range(max(n, required), count):
        if unused <= 0:
            break
        k = find(params[i])
        if k >= 0:
            slots[i] = kwvalues[k]
            unused -= 1
    if unused <= 0:
        return slots
    for k, keyword in enumerate(kwnames):
        index = next((i for i in range(n, count) if params[i] is keyword), -1)
        if index < 0:
            if not isinstance(keyword, str):
                raise TypeError(f"{name[:200]}() keywords must be strings")
            index = next((i for i in range(n, count) if equal(keyword, params[i])), -1)
        if index >= 0:
            slots[index] = kwvalues[k]
            continue
        shown = str.__str__(keyword)
        if any(equal(keyword, params[i]) for i in range(n)):
            raise TypeError(f"{name}() got multiple values for keyword argument '{shown}'")
        raise TypeError(f"{name}() got an unexpected keyword argument '{shown}'")
    return slots


ALL_PARAMS = sorted({p for name in harness.METHODS for p in harness.parameters(name)[0]})
NEAR_MISSES = ["valu", "Value", "value ", "vaIue", "keys", "iv_", "base64", "hex", "pubkey", "lengths",
               "exp", "issuer_", "tok", "self_", "", "\x00", "välue", "k\ud800"]


def keyword_name(fdp, params):
    choice = fdp.ConsumeIntInRange(0, 11)
    own = fdp.PickValueInList(list(params)) if params else "value"
    if choice <= 3:
        return own  # the parameter's own (interned) name object
    if choice == 4:
        return harness.fresh(own)  # an equal text, another object
    if choice == 5:
        return fdp.PickValueInList(ALL_PARAMS)
    if choice == 6:
        return fdp.PickValueInList(NEAR_MISSES)
    if choice == 7:
        return harness.Text(own)
    if choice == 8:
        return fdp.PickValueInList([harness.EqAll, harness.EqNone, harness.BadText])(own)
    if choice == 9:
        return fdp.PickValueInList([1, None, b"value", 2.5, ("value",), harness.HOSTILE[0]])
    if choice == 10:
        return fdp.ConsumeUnicode(8)
    return sys.intern(fdp.ConsumeUnicodeNoSurrogates(6) or "x")


def value(fdp):
    choice = fdp.ConsumeIntInRange(0, 9)
    if choice == 0:
        return fdp.ConsumeUnicode(40)
    if choice == 1:
        return fdp.ConsumeBytes(40)
    if choice == 2:
        return fdp.ConsumeIntInRange(-3000, 3000)
    return fdp.PickValueInList(harness.VALUES)


# name -> (callable from the module, callable from the reference, leading instance given)
def target(fdp):
    name = fdp.PickValueInList(harness.METHODS + ["<class>"])
    if name == "<class>":  # _Crypt(...): the type's call runs __init__ on a new instance
        return "__init__", MODULE_CLASS, Reference.__init__, True
    via_instance = fdp.ConsumeBool()
    static = name in harness.STATIC
    function = getattr(M if via_instance else MODULE_CLASS, name)
    reference = getattr(Reference, name)
    return name, function, reference, via_instance and not static


def TestOneInput(data):
    fdp = harness.atheris.FuzzedDataProvider(data)
    name, function, reference, instance_first = target(fdp)
    params, defaults = harness.parameters(name)

    args = [value(fdp) for _ in range(fdp.ConsumeIntInRange(0, len(params) + 1))]
    keywords = [(keyword_name(fdp, params), value(fdp)) for _ in range(fdp.ConsumeIntInRange(0, len(params) + 1))]
    protocol = fdp.ConsumeIntInRange(0, 3)
    if function is MODULE_CLASS:
        protocol = 3  # the type's call gathers the keywords in a dictionary before __init__ sees them

    if protocol == 0:  # vectorcall, keyword names as they are (duplicates and non-str names too)
        kwnames = tuple(k for k, _ in keywords)
        kwvalues = [v for _, v in keywords]
        got = outcome(lambda: _testcapi.pyobject_vectorcall(function, tuple(args) + tuple(kwvalues),
                                                            kwnames if keywords or fdp.ConsumeBool() else None))
    else:  # the ordinary protocol, with a dictionary (equal names merge; keys must be str)
        try:
            kwargs = dict(keywords)
        except harness.Boom:
            return
        kwnames = tuple(kwargs)
        kwvalues = list(kwargs.values())
        if protocol == 1:
            got = outcome(lambda: _testcapi.pyvectorcall_call(function, tuple(args), kwargs))
        elif protocol == 2:
            got = outcome(lambda: type(function).__call__(function, *args, **kwargs))
        else:
            got = outcome(lambda: function(*args, **kwargs))
        if kwnames and not all(isinstance(k, str) for k in kwnames):
            kind, error = got
            if kind != "raised" or type(error) is not TypeError:
                raise Finding(f"{name}: non-str keyword names gave {harness.describe(kind, error)}")
            return

    if function is MODULE_CLASS and got[0] == "ok":
        if type(got[1]) is not MODULE_CLASS:
            raise Finding(f"_Crypt(...) gave {got[1]!r}")
        got = ("ok", None)  # what __init__ returned
    leading = [M] if instance_first else []
    bound = outcome(lambda: model_bind(name, params, defaults, leading + args, kwnames, kwvalues))
    if bound[0] == "raised":
        expected = bound
        kind, error = got
        if kind == "raised" and type(error) is TypeError:
            entries = harness.crypt_entries(error)
            if entries[-1:] != [(f"crypt_main._Crypt.{name}", harness.definition_line(name))]:
                raise Finding(f"{name}: binding error {error!r} reported at {entries}")
    else:
        expected = outcome(lambda: reference(*[to_reference(v, p) for v, p in zip(bound[1], params)]))
    try:
        compare(name, got, expected, what=f" by protocol {protocol}")
    except Finding as finding:
        call = f"args={args!r:.300} keywords={keywords!r:.300} instance_first={instance_first} bound={bound!r:.300}"
        raise Finding(f"{finding}\n  call: {call}") from None


if __name__ == "__main__":
    harness.run(TestOneInput)
