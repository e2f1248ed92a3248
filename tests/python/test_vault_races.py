"""Vault operations against what else runs on the machine: threads that
change the environment while an operation has left the interpreter lock,
other processes writing the same secret, writers killed mid-commit, and a
commit journal left pending."""

import os
import pathlib
import random
import shutil
import signal
import subprocess
import sys
import time

import pytest

import morvik
import workspaces
from workspaces import ALICE, BOB, PASSPHRASE

# Every read and write a Vault offers, run by a child process; at the end a
# getenv made through ctypes, which leaves the interpreter lock, shows the
# probe sees what it should.
PROBED_OPERATIONS = f"""
import ctypes
import sys
import morvik
vault = morvik.Vault(sys.argv[1], auth=morvik.Auth.from_keychain("alice", passphrase={PASSPHRASE!r}))
vault.get("app/db")
vault.fields("app/db")
vault.get_field("app/db", "user")
vault.list()
vault.set("app/new", "v")
vault.set_field("app/new", "f", "1")
vault.delete_field("app/new", "f")
vault.delete("app/new")
ctypes.CDLL(None).getenv(b"MORVIK_PROBE_CONTROL")
"""


@pytest.mark.parametrize("state_dir", ["chosen", "temporary"])
def test_no_environment_read_without_the_interpreter_lock(team, test_tool, tmp_path, state_dir):
    env = dict(os.environ)
    if state_dir == "temporary":
        # The last-resort directory under TMPDIR, with nothing else set.
        temporary = tmp_path / "tmp"
        temporary.mkdir()
        fallback = temporary / f"morvik-{os.geteuid()}"
        shutil.move(env.pop("MORVIK_STATE_DIR"), fallback)
        fallback.chmod(0o700)
        for name in ("XDG_STATE_HOME", "HOME"):
            env.pop(name, None)
        env["TMPDIR"] = str(temporary)
    log = tmp_path / "getenv.log"
    env["LD_PRELOAD"] = str(test_tool("getenv_probe.so"))
    env["MORVIK_GETENV_LOG"] = str(log)
    done = subprocess.run(
        [sys.executable, "-c", PROBED_OPERATIONS, team.vault], env=env, capture_output=True, text=True, timeout=120
    )
    assert done.returncode == 0, done.stderr
    names = [line.split()[1] for line in log.read_text().splitlines() if line.startswith("getenv ")]
    assert names == ["MORVIK_PROBE_CONTROL"], log.read_text()


# Changes two sessions make to one secret, and what each makes of the value
# (primary, fields) it applies to; None where the change is refused as
# NotFound. `set` keeps no fields.
CHANGES = {
    "set": (lambda vault, s: vault.set(s, "new"), lambda primary, fields: ("new", {})),
    "set_field new": (
        lambda vault, s: vault.set_field(s, "pass", "p"),
        lambda primary, fields: (primary, {**fields, "pass": "p"}),
    ),
    "set_field existing": (
        lambda vault, s: vault.set_field(s, "user", "root"),
        lambda primary, fields: (primary, {**fields, "user": "root"}),
    ),
    "delete_field": (
        lambda vault, s: vault.delete_field(s, "user"),
        lambda primary, fields: (primary, {k: v for k, v in fields.items() if k != "user"}) if "user" in fields else None,
    ),
}


def test_a_field_change_keeps_what_another_session_stored_meanwhile(team, open_as):
    """Both sessions are opened before either change, so the second one to
    write holds an outdated copy of the secret; what it writes is its change
    made to the value as it stands in the file."""
    setup, first, second = open_as("alice"), open_as("alice"), open_as("alice")
    pairs = [(a, b) for a in CHANGES for b in CHANGES if a != b]
    for number, (a, b) in enumerate(pairs):
        selector = f"app/race/{number}"
        setup.set(selector, "s3cret")
        setup.set_field(selector, "user", "admin")
        value = ("s3cret", {"user": "admin"})
        for vault, name in ((first, a), (second, b)):
            change, model = CHANGES[name]
            expected = model(*value)
            if expected is None:
                with pytest.raises(morvik.NotFound):
                    change(vault, selector)
            else:
                change(vault, selector)
                value = expected
        fresh = open_as("alice")
        assert (fresh.get(selector), fresh.fields(selector)) == value, (a, b)


FIELD_WRITER = f"""
import sys
import morvik
vault = morvik.Vault(sys.argv[1], auth=morvik.Auth.from_keychain("alice", passphrase={PASSPHRASE!r}))
for i in range(8):
    vault.set_field("app/db", sys.argv[2], str(i))
"""


def test_two_processes_changing_fields_of_one_secret_lose_nothing(team, open_as):
    processes = [
        subprocess.Popen([sys.executable, "-c", FIELD_WRITER, team.vault, key], stderr=subprocess.PIPE, text=True)
        for key in ("a", "b")
    ]
    for process in processes:
        assert process.wait(timeout=120) == 0, process.stderr.read()
    alice = open_as("alice")
    assert alice.get("app/db") == "s3cret"
    assert alice.fields("app/db") == {"a": "7", "b": "7", "user": "admin"}


ENDLESS_WRITER = f"""
import sys
import morvik
vault = morvik.Vault(sys.argv[1], auth=morvik.Auth.from_keychain("alice", passphrase={PASSPHRASE!r}))
print("ready", flush=True)
i = 0
while True:
    vault.set("app/api", str(i))
    i += 1
"""


def temporaries(*directories):
    return [path.name for directory in directories for path in pathlib.Path(directory).rglob("*") if ".tmp." in path.name]


def test_writers_killed_mid_commit_leave_no_temporaries_after_the_next_write(team, open_as):
    state = pathlib.Path(team.env["MORVIK_STATE_DIR"]) / team.root.hex()
    lookalike = pathlib.Path(team.vault) / ".vault.cord.tmp.notes"
    lookalike.write_text("mine")
    delays = random.Random(7)
    for _ in range(12):
        writer = subprocess.Popen(
            [sys.executable, "-c", ENDLESS_WRITER, team.vault], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True
        )
        assert writer.stdout.readline() == "ready\n", writer.stderr.read()
        time.sleep(delays.uniform(0.0, 0.2))
        writer.send_signal(signal.SIGKILL)
        writer.wait(timeout=30)
        writer.stdout.close()
        writer.stderr.close()
    open_as("alice").set("app/api", "after")
    assert temporaries(team.vault, state) == [lookalike.name]
    assert lookalike.read_text() == "mine"
    assert open_as("bob").get("app/api") == "after"


def test_a_pending_journal_refuses_the_keychain_road_and_the_invitation_road_completes_it(build_workspace):
    workspace = build_workspace(
        workspaces.team(
            invites=[{"seed": BOB, "version": 2}],
            interrupted_copy={"by": ALICE, "selector": "app/copied", "value": "from the copy"},
        )
    )
    copy = str(pathlib.Path(workspace.project).parent / "copy" / ".morvik")
    journal = pathlib.Path(workspace.env["MORVIK_STATE_DIR"]) / workspace.root.hex() / "transaction.cord"
    assert journal.exists()
    keychain = morvik.Auth.from_keychain("alice", passphrase=PASSPHRASE)
    invitation = morvik.Auth.from_invite(pathlib.Path(workspace.invites[0]["file"]).read_bytes())

    with pytest.raises(morvik.MorvikError, match=r"^a pending transaction [0-9a-f]{64} from .* blocks writes for this vault$"):
        morvik.Vault(workspace.vault, auth=keychain)
    assert journal.exists()
    # The invitation road has no barrier; opening the vault the journal
    # belongs to completes it.
    assert morvik.Vault(copy, auth=invitation).get("app/copied") == "from the copy"
    assert not journal.exists()
    assert morvik.Vault(copy, auth=keychain).get("app/copied") == "from the copy"
