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
