"""A tour of the morvik Python API on a throwaway workspace.

morvik itself never creates vaults, users, identities or invitations, so the
workspace builder (a test tool of this project) lays one out first: a vault
whose root hands a developer, alice, read and write authority under "demo"
and a CI runner, ci, read authority there; alice's identity sealed in the
keychain under a passphrase; and an invitation file for ci. Then alice works
with secrets through the keychain, and ci reads them through the invitation
on a machine that has never seen the vault.

    make run

builds the module and the builder, then runs this with
--builder build/tests/cpp/tools/frontend_workspace_tool."""

import argparse
import json
import os
import subprocess
import tempfile

import morvik

PASSPHRASE = "correct horse battery staple"
ALICE, CI = 2, 3

DESCRIPTION = {
    "vault_handle": "demo-app",
    "users": [{"seed": ALICE, "handle": "alice"}, {"seed": CI, "handle": "ci"}],
    "grants": [
        {"seed": 200, "to": ALICE, "permission": "read", "prefix": ["demo"]},
        {"seed": 201, "to": ALICE, "permission": "write", "prefix": ["demo"]},
        {"seed": 202, "to": CI, "permission": "read", "prefix": ["demo"]},
    ],
    "identities": [{"seed": ALICE, "passphrase": PASSPHRASE}],
    "invites": [{"seed": CI, "version": 2}],
}


def build_workspace(builder, directory):
    done = subprocess.run(
        [builder], input=json.dumps({"dir": directory, **DESCRIPTION}), capture_output=True, text=True, check=True
    )
    return json.loads(done.stdout)


def step(text, value=None):
    print(f"  {text}" + ("" if value is None else f": {value!r}"))


def as_alice(vault_path):
    print("alice, through the keychain:")
    auth = morvik.Auth.from_keychain("alice", passphrase=PASSPHRASE)
    with morvik.Vault(vault_path, auth=auth) as vault:
        vault.set("demo/db@env=prod", "s3cret-password")
        step("set demo/db@env=prod")
        step("get demo/db@env=prod", vault.get("demo/db@env=prod"))
        vault.set_field("demo/db@env=prod", "user", "app")
        vault.set_field("demo/db@env=prod", "host", "db.internal")
        step("set the fields user and host; fields", vault.fields("demo/db@env=prod"))
        vault.set(morvik.Selector(["demo", "api-key"]), b"\x00\x01binary")
        step("set demo/api-key as bytes; get with as_bytes=True", vault.get("demo/api-key", as_bytes=True))
        step("list demo", [str(selector) for selector in vault.list("demo")])
        try:
            vault.set("ops/other", "x")
        except morvik.PermissionDenied as error:
            step("set ops/other is refused", str(error))


def as_ci(vault_path, invite_file, directory):
    print("ci, through an invitation named by the environment, on a fresh machine:")
    os.environ["MORVIK_STATE_DIR"] = os.path.join(directory, "ci-state")
    # A short invitation can also come as text in MORVIK_UNSAFE_INVITE.
    os.environ["MORVIK_UNSAFE_INVITE_FILE"] = invite_file
    vault = morvik.Vault(vault_path, auth=morvik.Auth.from_env())
    step("get demo/db@env=prod", vault.get("demo/db@env=prod"))
    step("get_field host", vault.get_field("demo/db@env=prod", "host"))
    try:
        vault.delete("demo/db@env=prod")
    except morvik.PermissionDenied as error:
        step("delete is refused", str(error))
    del os.environ["MORVIK_UNSAFE_INVITE_FILE"]


def cleanup_as_alice(vault_path, state_dir):
    print("alice again:")
    os.environ["MORVIK_STATE_DIR"] = state_dir
    vault = morvik.Vault(vault_path, auth=morvik.Auth.from_keychain("alice", passphrase=PASSPHRASE))
    vault.delete_field("demo/db@env=prod", "host")
    step("delete_field host; fields", vault.fields("demo/db@env=prod"))
    vault.delete("demo/api-key")
    step("delete demo/api-key; list", [str(selector) for selector in vault.list()])
    try:
        vault.get("demo/api-key")
    except morvik.NotFound as error:
        step("get demo/api-key", str(error))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--builder", required=True, help="the workspace builder tool")
    builder = parser.parse_args().builder
    with tempfile.TemporaryDirectory(prefix="morvik-quickstart-") as directory:
        workspace = build_workspace(builder, directory)
        print(f"workspace laid out in {directory}")
        # This machine's state and keychain directories.
        os.environ.update(workspace["env"])
        as_alice(workspace["vault"])
        as_ci(workspace["vault"], workspace["invites"][0]["file"], directory)
        cleanup_as_alice(workspace["vault"], workspace["env"]["MORVIK_STATE_DIR"])


if __name__ == "__main__":
    main()
