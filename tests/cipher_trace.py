"""Stand-ins that record the order in which a cipher method reaches its inputs and globals."""

import crypt_main


class Proxy:
    """Stands for a module global: logs each attribute look-up, and each call of an attribute."""

    def __init__(self, label, target, log):
        self._label, self._target, self._log = label, target, log

    def __getattr__(self, name):
        self._log.append(f"{self._label}.{name}")
        value = getattr(self._target, name)
        if not callable(value):
            return value

        def call(*args, **kwargs):
            self._log.append(f"{self._label}.{name}()")
            return value(*args, **kwargs)

        return call


def logged_function(label, function, log):
    def call(*args):
        log.append(f"{label}()")
        return function(*args)

    return call


def traced_text(label, text, log, on_encode=None):
    """A str whose encode logs its arguments (and may run `on_encode` first)."""

    class Traced(str):
        def encode(self, *args, **kwargs):
            log.append(f"{label}.encode{args}")
            if on_encode is not None:
                on_encode()
            return str.encode(self, *args, **kwargs)

    return Traced(text)


def swap_global(name, value):
    crypt_main.__dict__[name] = value
