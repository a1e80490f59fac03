"""Hostile objects: texts, bytes and plain objects whose protocols raise, lie or give
the wrong type. The hostile-input tests put them in every parameter of every method, and
the fuzz targets (fuzz/harness.py) draw from them too."""


class Boom(Exception):
    """What the hostile objects raise."""


class Bail(BaseException):
    """A hostile exception that is no Exception: token_decrypt lets it through."""


def boom(*args, **kwargs):
    raise Boom("hostile")


def bail(*args, **kwargs):
    raise Bail("bail")


def hostile(name, **members):
    """An instance of a new class `name` with the given members."""
    return type(name, (), members)()


class Text(str):
    pass


class Bytes(bytes):
    pass


class BadText(str):
    def encode(self, *args, **kwargs):
        raise Boom("encode")

    def __eq__(self, other):
        raise Boom("eq")

    __hash__ = str.__hash__


class EqAll(str):
    """A text equal to every other: as a keyword it names every parameter."""

    def __eq__(self, other):
        return True

    __hash__ = str.__hash__


class EqNone(str):
    """A text equal to nothing, itself included."""

    def __eq__(self, other):
        return False

    __hash__ = str.__hash__


class BadBytes(bytes):
    def __len__(self):
        raise Boom("len")

    def __eq__(self, other):
        raise Boom("eq")

    __hash__ = bytes.__hash__


BAD_BOOL = hostile("BadBool", __bool__=boom)

# Objects that lie through one protocol each (comparison, truth, length, encoding, index,
# arithmetic, attributes, the filler) or that are str/bytes subclasses that misbehave.
# The hostile-input tests put each in each parameter position; the fuzz targets draw
# from these and a few more.
LIES = [
    hostile("EqRaises", __eq__=boom, __hash__=lambda self: 1),
    hostile("EqWrongType", __eq__=lambda self, other: BAD_BOOL, __hash__=lambda self: 1),
    BAD_BOOL,
    hostile("BoolWrongType", __bool__=lambda self: 2),
    hostile("LenRaises", __len__=boom),
    hostile("LenWrongType", __len__=lambda self: "3"),
    hostile("LenNegative", __len__=lambda self: -1),
    hostile("LenHuge", __len__=lambda self: 1 << 100),
    hostile("EncodeRaises", encode=boom),
    hostile("EncodeGivesText", encode=lambda self, *a, **k: "text"),
    hostile("EncodeGivesNumber", encode=lambda self, *a, **k: 7),
    hostile("EncodeGivesNone", encode=lambda self, *a, **k: None),
    hostile("EncodeGivesBytearray", encode=lambda self, *a, **k: bytearray(b"0123456789abcdef")),
    hostile("EncodeGivesMemoryview", encode=lambda self, *a, **k: memoryview(b"01234567")),
    hostile("EncodeGivesBadBytes", encode=lambda self, *a, **k: BadBytes(b"0123456789abcdef")),
    hostile("EncodeGivesBadBool", encode=lambda self, *a, **k: BAD_BOOL),
    hostile("EncodeNotCallable", encode=3),
    hostile("IndexRaises", __index__=boom),
    hostile("IndexWrongType", __index__=lambda self: "1"),
    hostile("ArithmeticRaises", __add__=boom, __radd__=boom, __mul__=boom, __le__=boom),
    hostile("ArithmeticGivesBadBool", __add__=lambda self, o: self, __mul__=lambda self, o: self,
            __le__=lambda self, o: BAD_BOOL),
    hostile("AttributeRaises", __getattr__=boom),
    hostile("FillerRaises", _add_to_16=boom),
    hostile("FillerGivesText", _add_to_16=lambda value: "text"),
    BadText("0123456789abcdef"),
    BadBytes(b"0123456789abcdef"),
    Text("0123456789abcdef"),
    Bytes(b"01234567"),
]
