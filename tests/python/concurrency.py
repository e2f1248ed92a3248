"""Operations run on other threads and in other processes, for the tests of
how vault operations behave beside each other."""

import contextlib
import fcntl
import subprocess
import sys
import threading
import time

import pytest

from workspaces import PASSPHRASE

OPEN_ALICE = f"""
import sys
import morvik
vault = morvik.Vault(sys.argv[1], auth=morvik.Auth.from_keychain("alice", passphrase={PASSPHRASE!r}))
"""


@contextlib.contextmanager
def workspace_lock_held(workspace):
    """Holds the workspace lock, as another process writing would: every
    write of the vault waits for it."""
    with open(f"{workspace.vault}/vault.cord.lock", "a+b") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        yield


def run_python(code, *args, timeout=120):
    return subprocess.run(
        [sys.executable, "-c", code, *args], capture_output=True, text=True, timeout=timeout, check=False
    )


class Running:
    """A call on another thread, its outcome kept."""

    def __init__(self, call, *args):
        self.done = threading.Event()
        self.result = self.error = None

        def run():
            try:
                self.result = call(*args)
            except BaseException as error:  # noqa: B036 - handed to the test
                self.error = error
            finally:
                self.done.set()

        self.thread = threading.Thread(target=run)
        self.thread.start()

    def join(self):
        self.thread.join(timeout=60)
        assert self.done.is_set()
        if self.error:
            raise self.error
        return self.result


def wait_until_borrowed(vault):
    """Returns once an operation of another thread holds the vault."""
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        try:
            vault.__enter__()
        except RuntimeError:
            return
        time.sleep(0.01)
    pytest.fail("the operation never started")
