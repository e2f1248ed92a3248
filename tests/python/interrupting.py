"""Values whose conversion runs code of their own that raises a given
exception: a sequence's length or item, an item's __index__, or the
__class__ that an isinstance check reads. The conversions must let
KeyboardInterrupt and MemoryError through unchanged, and may take an
ordinary exception for "not a value of this kind"."""

import collections.abc

import pytest


class LengthRaises(collections.abc.Sequence):
    def __init__(self, error):
        self.error = error

    def __len__(self):
        raise self.error

    def __getitem__(self, index):
        return 0


class ItemRaises(collections.abc.Sequence):
    def __init__(self, error):
        self.error = error

    def __len__(self):
        return 2

    def __getitem__(self, index):
        raise self.error


class IndexRaises:
    def __init__(self, error):
        self.error = error

    def __index__(self):
        raise self.error


class ClassRaises:
    """Not a sequence by the interpreter's check, so collections.abc.Sequence is asked."""

    def __init__(self, error):
        self.error = error

    @property
    def __class__(self):
        raise self.error


HOOKS = {
    "length": LengthRaises,
    "item": ItemRaises,
    "item's __index__": lambda error: [1, IndexRaises(error)],
    "__class__": ClassRaises,
}

INTERRUPTIONS = [KeyboardInterrupt, MemoryError]


def value(hook, kind):
    """A value whose `hook` raises a new `kind`, and that exception."""
    error = kind(hook)
    return HOOKS[hook](error), error


def params(kind, wrap=None, *rest):
    """Test parameters, one for each hook: its value raising `kind`, passed
    through `wrap` when given, then `rest`. Named here, since pytest's own
    look at a value would meet the raising __class__."""
    shown = f"{wrap.__name__} of " if wrap else ""
    return [
        pytest.param(
            wrap(value(hook, kind)[0]) if wrap else value(hook, kind)[0],
            *rest,
            id=f"{shown}{hook} raising {kind.__name__}",
        )
        for hook in HOOKS
    ]
