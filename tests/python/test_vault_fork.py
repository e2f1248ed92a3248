"""A Vault inherited by a forked child: it keeps working there, beside the
parent's, when no operation was inside it at the fork; when one was, the
thread running it does not exist in the child, and every operation there
is refused at once instead of waiting for ever."""

import json
import multiprocessing
import os
import select
import signal
import time
import traceback
import warnings

import pytest

import morvik
from concurrency import Running, wait_until_borrowed, workspace_lock_held

POISONED = "Morvik vault session lock is poisoned"
# Longer than any child here takes; a child still running then has hung.
CHILD_SECONDS = 60


def fork():
    with warnings.catch_warnings():
        # Newer Pythons warn when a process with threads forks: the case under test.
        warnings.simplefilter("ignore", DeprecationWarning)
        return os.fork()


class Child:
    """`work` run in a forked child of this process, under a watchdog that
    ends the child if it hangs; its result comes back as JSON."""

    def __init__(self, work):
        reader, writer = os.pipe()
        self.pid = fork()
        if self.pid == 0:
            status = 1
            try:
                os.close(reader)
                signal.alarm(CHILD_SECONDS)
                try:
                    outcome = {"result": work()}
                    status = 0
                except BaseException:  # noqa: B036 - reported to the parent
                    outcome = {"error": traceback.format_exc()}
                os.write(writer, json.dumps(outcome).encode())
            finally:
                os._exit(status)
        os.close(writer)
        self.reader = reader

    def result(self):
        deadline = time.monotonic() + CHILD_SECONDS + 10
        output = b""
        try:
            while chunk := self._read(deadline):
                output += chunk
        finally:
            os.close(self.reader)
            if time.monotonic() > deadline:
                os.kill(self.pid, signal.SIGKILL)
            _, status = os.waitpid(self.pid, 0)
        code = os.waitstatus_to_exitcode(status)
        assert code >= 0, f"the child was ended by signal {-code}: it hung or crashed"
        outcome = json.loads(output)
        assert "error" not in outcome, outcome["error"]
        return outcome["result"]

    def _read(self, deadline):
        readable, _, _ = select.select([self.reader], [], [], max(0.0, deadline - time.monotonic()))
        if not readable:
            pytest.fail("the child hung")
        return os.read(self.reader, 65536)


def outcome(call):
    try:
        return ["returned", call()]
    except morvik.MorvikError as error:
        return [type(error).__name__, *error.args]


def test_an_idle_vault_keeps_working_in_the_child_beside_the_parent(open_as):
    alice = open_as("alice")
    assert alice.get("app/db") == "s3cret"

    def in_child():
        alice.set("app/child", "from the child")
        alice.set_field("app/api", "owner", "child")
        # The parent's write is listed only if it came before the child's.
        listed = [str(s) for s in alice.list() if str(s) != "app/parent"]
        return [alice.get("app/db"), alice.get("app/child"), alice.fields("app/api"), listed]

    child = Child(in_child)
    alice.set("app/parent", "from the parent")
    assert child.result() == ["s3cret", "from the child", {"owner": "child"}, ["app/api", "app/child", "app/db"]]
    # A write of the parent brings in what the child stored.
    alice.set("app/parent", "again")
    assert alice.get("app/child") == "from the child"
    assert alice.get_field("app/api", "owner") == "child"
    fresh = open_as("alice")
    assert [fresh.get(s) for s in ("app/child", "app/parent", "app/db")] == ["from the child", "again", "s3cret"]


def test_an_operation_in_flight_at_the_fork_poisons_the_vault_in_the_child(open_as, team):
    alice = open_as("alice")
    bob = open_as("bob")
    with workspace_lock_held(team):
        # The write holds alice's session mutex while it waits for the file lock.
        writing = Running(alice.set, "app/waited", "v")
        wait_until_borrowed(alice)
        time.sleep(0.2)

        def in_child():
            calls = [
                lambda: alice.get("app/db"),
                lambda: alice.fields("app/db"),
                lambda: alice.list(),
                lambda: alice.set("app/x", "y"),
                lambda: alice.delete_field("app/db", "user"),
                lambda: alice.get("app/db"),
            ]
            outcomes = [outcome(call) for call in calls]
            # Arguments are still converted first; another vault is not affected.
            try:
                alice.get("app/db", as_bytes=1)
            except TypeError:
                outcomes.append("TypeError")
            outcomes.append(outcome(lambda: bob.get("app/db")))
            return outcomes

        assert Child(in_child).result() == [["MorvikError", POISONED]] * 6 + ["TypeError", ["returned", "s3cret"]]
    # In the parent the write goes on and the vault stays usable.
    assert writing.join() is None
    assert alice.get("app/waited") == "v"
    assert alice.get("app/db") == "s3cret"


# The vault the workers of a pool inherit, as a server opens its secrets and
# then forks its workers.
inherited = {}


def worker(n):
    vault = inherited["vault"]
    vault.set(f"app/worker/{n}", str(n))
    return [vault.get("app/db"), vault.get(f"app/worker/{n}")]


def test_workers_forked_by_multiprocessing_use_the_inherited_vault(open_as):
    inherited["vault"] = alice = open_as("alice")
    try:
        with multiprocessing.get_context("fork").Pool(2) as pool:
            assert pool.map_async(worker, range(4)).get(timeout=CHILD_SECONDS) == [
                ["s3cret", str(n)] for n in range(4)
            ]
    finally:
        inherited.clear()
    alice.set("app/parent", "p")
    assert [alice.get(f"app/worker/{n}") for n in range(4)] == ["0", "1", "2", "3"]
