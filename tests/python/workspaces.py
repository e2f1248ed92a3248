"""Workspaces laid out by the workspace builder (tests/cpp/tools/
frontend_workspace_tool.cpp, whose header describes the description format),
and the team workspace most tests start from:

    root  (1)  the vault's root, all authority
    alice (2)  handle "alice", reads and writes under "app"
    bob   (3)  handle "bob", reads under "app" as a member of the group "readers"
    carol (4)  handle "carol", no authority at all

in a vault with the handle "acme" holding "app/db" (primary "s3cret", field
"user" = "admin") and "app/api" (primary "key-1"), both written by alice.
Every member's identity is in the keychain under PASSPHRASE."""

import copy
import dataclasses
import json
import subprocess

PASSPHRASE = "correct horse"
ROOT, ALICE, BOB, CAROL = 1, 2, 3, 4
# A seed no user of the team vault has.
STRANGER = 9

TEAM = {
    "vault_handle": "acme",
    "users": [{"seed": ALICE, "handle": "alice"}, {"seed": BOB, "handle": "bob"}, {"seed": CAROL, "handle": "carol"}],
    "groups": [{"seed": 100, "handle": "readers", "members": [BOB]}],
    "grants": [
        {"seed": 200, "to": ALICE, "permission": "read", "prefix": ["app"]},
        {"seed": 201, "to": ALICE, "permission": "write", "prefix": ["app"]},
        {"seed": 202, "to": {"group": 100}, "permission": "read", "prefix": ["app"]},
    ],
    "identities": [{"seed": seed, "passphrase": PASSPHRASE} for seed in (ROOT, ALICE, BOB, CAROL)],
    "secrets": [
        {"by": ALICE, "selector": "app/db", "value": "s3cret", "fields": {"user": "admin"}},
        {"by": ALICE, "selector": "app/api", "value": "key-1"},
    ],
}

INVITE_VARIABLES = ("MORVIK_UNSAFE_INVITE", "MORVIK_UNSAFE_INVITE_FILE")


def team(**changes):
    """The team description with some of its entries replaced or added."""
    description = copy.deepcopy(TEAM)
    description.update(changes)
    return description


@dataclasses.dataclass
class Workspace:
    vault: str
    project: str
    env: dict
    root: bytes
    users: dict
    invites: list

    def user_id(self, seed):
        return self.users[str(seed)]

    @property
    def vault_file(self):
        return f"{self.vault}/vault.cord"

    def activate(self, monkeypatch):
        """Points the state and keychain directories here, with no invitation in the environment."""
        for name, value in self.env.items():
            monkeypatch.setenv(name, value)
        for name in INVITE_VARIABLES:
            monkeypatch.delenv(name, raising=False)


def build(tool, directory, description):
    done = subprocess.run(
        [str(tool)], input=json.dumps({"dir": str(directory), **description}), capture_output=True, text=True
    )
    assert done.returncode == 0, done.stderr
    summary = json.loads(done.stdout)
    return Workspace(
        vault=summary["vault"],
        project=summary["project"],
        env=summary["env"],
        root=bytes.fromhex(summary["root"]),
        users=summary["users"],
        invites=summary["invites"],
    )
