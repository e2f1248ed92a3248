"""Shared fixtures of the Python suite."""

import collections.abc
import os
import pathlib

import pytest


@pytest.fixture(scope="session")
def test_tool():
    """Returns a function giving the path of a test-only C++ tool by name."""
    tools = pathlib.Path(os.environ.get("MORVIK_TEST_TOOLS", "build/tests/cpp/tools"))

    def find(name: str) -> pathlib.Path:
        path = tools / name
        if not path.is_file():
            pytest.fail(f"test tool {name} not built in {tools}")
        return path

    return find


class _Items(collections.abc.Sequence):
    """A sequence that is not a list or tuple: only the Sequence protocol."""

    def __init__(self, items):
        self._items = list(items)

    def __getitem__(self, index):
        return self._items[index]

    def __len__(self):
        return len(self._items)


@pytest.fixture(scope="session")
def abc_sequence():
    """Returns a function wrapping items in a collections.abc.Sequence of its own class."""
    return _Items
