"""Shared fixtures of the Python suite."""

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
