"""A vault keeps acting on the files it opened: a relative workspace or
state directory is taken from the current directory once, when the vault is
opened, and messages still show the paths as they were given."""

import pathlib
import shutil

import pytest

import morvik
from morvik import Auth, Vault
from workspaces import PASSPHRASE


def keychain():
    return Auth.from_keychain("alice", passphrase=PASSPHRASE)


def test_a_relative_workspace_stays_the_one_opened(team, open_as, tmp_path, monkeypatch):
    # Another copy of the same vault, sharing the state directory.
    copy = tmp_path / "copy"
    shutil.copytree(team.project, copy)
    copied = (copy / ".morvik" / "vault.cord").read_bytes()

    monkeypatch.chdir(team.project)
    vault = Vault(".morvik", auth=keychain())
    monkeypatch.chdir(copy)
    vault.set("app/db", "rotated")
    assert (copy / ".morvik" / "vault.cord").read_bytes() == copied
    assert open_as("alice").get("app/db") == "rotated"

    pathlib.Path(team.vault_file).unlink()
    with pytest.raises(morvik.MorvikError) as raised:
        vault.set("app/db", "again")
    assert raised.value.args == ("store error: vault file is missing at .morvik/vault.cord",)


def test_a_relative_state_directory_stays_the_one_opened(team, tmp_path, monkeypatch):
    workspace_dir = pathlib.Path(team.env["MORVIK_STATE_DIR"]).parent
    monkeypatch.chdir(workspace_dir)
    monkeypatch.setenv("MORVIK_STATE_DIR", "state")
    vault = Vault(team.vault, auth=keychain())
    monkeypatch.chdir(tmp_path)
    vault.set("app/db", "rotated")
    monkeypatch.setenv("MORVIK_STATE_DIR", team.env["MORVIK_STATE_DIR"])
    assert Vault(team.vault, auth=keychain()).get("app/db") == "rotated"

    ratchet = pathlib.Path(f"{workspace_dir}/state/{team.root.hex()}/ratchet.cord")
    ratchet.unlink()
    with pytest.raises(morvik.IdentityError) as raised:
        vault.set("app/db", "again")
    assert raised.value.args == (f"workspace is missing ratchet state at state/{team.root.hex()}/ratchet.cord",)
