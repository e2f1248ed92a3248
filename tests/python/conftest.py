"""Shared fixtures of the Python suite."""

import collections.abc
import itertools
import os
import pathlib

import pytest

import morvik
import workspaces


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


@pytest.fixture
def build_workspace(test_tool, tmp_path, monkeypatch):
    """Returns a function laying out a workspace from a description and, unless
    told otherwise, pointing the environment's state and keychain directories
    at it."""
    tool = test_tool("frontend_workspace_tool")
    numbers = itertools.count()

    def build(description, activate=True):
        workspace = workspaces.build(tool, tmp_path / f"workspace-{next(numbers)}", description)
        if activate:
            workspace.activate(monkeypatch)
        return workspace

    return build


@pytest.fixture
def team(build_workspace):
    """The team workspace of workspaces.py, active."""
    return build_workspace(workspaces.TEAM)


@pytest.fixture
def open_as(team):
    """Returns a function opening the team vault as a user, through the keychain."""

    def open_vault(user, workspace=team):
        return morvik.Vault(workspace.vault, auth=morvik.Auth.from_keychain(user, passphrase=workspaces.PASSPHRASE))

    return open_vault
