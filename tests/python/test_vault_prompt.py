"""A Vault opened through the keychain without a passphrase asks for it on
the controlling terminal: a child process on a pseudo-terminal answers."""

import os
import pty
import select
import sys
import time

import workspaces

PROMPT = (
    b'Unlock Morvik keychain for user "alice" in project "acme" to use this identity from the Morvik Python SDK: '
)
# Opens the vault with no arguments at all: ".morvik" here, the keychain,
# the stored current user, the passphrase from the terminal.
CHILD = "import morvik; print('value:', morvik.Vault().get('app/db'), flush=True)"


def read_until(fd, wanted, timeout=30):
    seen = b""
    deadline = time.monotonic() + timeout
    while wanted not in seen:
        remaining = deadline - time.monotonic()
        assert remaining > 0, seen
        if select.select([fd], [], [], remaining)[0]:
            try:
                chunk = os.read(fd, 4096)
            except OSError:  # the child closed the terminal
                chunk = b""
            assert chunk, seen
            seen += chunk
    return seen


def run_on_terminal(project, answer):
    pid, fd = pty.fork()
    if pid == 0:
        os.chdir(project)
        os.execv(sys.executable, [sys.executable, "-c", CHILD])
    try:
        read_until(fd, PROMPT)
        os.write(fd, answer + b"\r")
        output = b""
        while True:
            try:
                chunk = os.read(fd, 4096)
            except OSError:
                break
            if not chunk:
                break
            output += chunk
        _, status = os.waitpid(pid, 0)
        return os.waitstatus_to_exitcode(status), output.decode(errors="replace")
    finally:
        os.close(fd)


def test_the_passphrase_is_asked_on_the_terminal(build_workspace):
    workspace = build_workspace(workspaces.team(current_user=workspaces.ALICE))
    code, output = run_on_terminal(workspace.project, workspaces.PASSPHRASE.encode())
    assert code == 0, output
    # Echo was off: the passphrase never appears.
    assert workspaces.PASSPHRASE not in output
    assert "value: s3cret" in output

    code, output = run_on_terminal(workspace.project, b"wrong")
    assert code == 1
    assert "morvik.IdentityError: identity keychain unlock failed" in output
