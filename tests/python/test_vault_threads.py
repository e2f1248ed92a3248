"""Vault operations and threads: the interpreter lock is released while an
operation works, the session mutex serialises the operations on one vault
and is poisoned by one that ends abnormally, the borrow flag refuses
`__enter__` meanwhile, processes sharing a workspace lose nothing, and a
daemon thread still inside an operation when the interpreter shuts down
does not take the process down."""

import concurrent.futures
import subprocess
import sys
import time

import pytest

from concurrency import OPEN_ALICE, Running, run_python, wait_until_borrowed, workspace_lock_held


def test_an_operation_leaves_the_interpreter_lock_to_other_threads(open_as, team):
    alice = open_as("alice")
    with workspace_lock_held(team):
        writing = Running(alice.set, "app/waited", "v")
        wait_until_borrowed(alice)
        # This thread runs while the write waits for the file lock.
        spins, deadline = 0, time.monotonic() + 0.3
        while time.monotonic() < deadline:
            spins += 1
        assert spins > 1000
        assert not writing.done.is_set()

        with pytest.raises(RuntimeError) as raised:
            alice.__enter__()
        assert raised.value.args == ("Already borrowed",)
        assert alice.__exit__(None, None, None) is False
        # Arguments are converted before the session mutex is waited for.
        with pytest.raises(TypeError, match="'as_bytes'"):
            alice.get("app/db", as_bytes=1)
        # Another operation waits for the mutex the write holds.
        reading = Running(alice.get, "app/db")
        assert not reading.done.wait(0.3)
    assert writing.join() is None
    assert reading.join() == "s3cret"
    assert alice.get("app/waited") == "v"
    with alice as entered:
        assert entered is alice


def test_eight_threads_on_one_vault(open_as):
    alice = open_as("alice")

    def work(n):
        for i in range(4):
            alice.set(f"app/t{n}", f"{n}.{i}")
            assert alice.get(f"app/t{n}") == f"{n}.{i}"
            assert alice.get("app/db") == "s3cret"
        return n

    with concurrent.futures.ThreadPoolExecutor(8) as pool:
        assert sorted(pool.map(work, range(8))) == list(range(8))
    for n in range(8):
        assert alice.get(f"app/t{n}") == f"{n}.3"
    assert open_as("alice").get("app/t7") == "7.3"


def test_two_processes_writing_one_workspace_lose_nothing(team, open_as):
    writer = OPEN_ALICE + 'for i in range(8):\n    vault.set(f"app/{sys.argv[2]}/{i}", str(i))\n'
    processes = [
        subprocess.Popen([sys.executable, "-c", writer, team.vault, name], stderr=subprocess.PIPE, text=True)
        for name in ("p", "q")
    ]
    for process in processes:
        assert process.wait(timeout=120) == 0, process.stderr.read()
    alice = open_as("alice")
    for name in ("p", "q"):
        for i in range(8):
            assert alice.get(f"app/{name}/{i}") == str(i)


def test_an_operation_ending_abnormally_poisons_the_session(team):
    """Memory runs out inside a write: the allocation fails with the session
    mutex held, and every later operation is refused."""
    code = OPEN_ALICE + """
import resource
value = b"x" * (64 << 20)
with open("/proc/self/statm") as statm:
    in_use = int(statm.read().split()[0]) * resource.getpagesize()
limits = resource.getrlimit(resource.RLIMIT_AS)
# Room for the argument's copy, not for the write's copies of it.
resource.setrlimit(resource.RLIMIT_AS, (in_use + (100 << 20), limits[1]))
try:
    vault.set("app/big", value)
except MemoryError:
    pass
resource.setrlimit(resource.RLIMIT_AS, limits)
for call in (lambda: vault.get("app/db"), lambda: vault.set("app/x", "y"), lambda: vault.list()):
    try:
        call()
    except morvik.MorvikError as error:
        print(type(error).__name__, error)
try:
    vault.get("app/db", as_bytes=1)
except TypeError:
    print("TypeError")
"""
    done = run_python(code, team.vault)
    assert done.returncode == 0, done.stderr
    poisoned = "MorvikError Morvik vault session lock is poisoned"
    assert done.stdout.splitlines() == [poisoned, poisoned, poisoned, "TypeError"]


def test_a_daemon_thread_in_an_operation_at_shutdown_ends_quietly(team, open_as):
    """The daemon's write waits for the workspace lock until the interpreter is
    shutting down; taking the interpreter lock back then ends its thread."""
    code = OPEN_ALICE + """
import fcntl, threading, time

class ReleaseAtShutdown:
    # Freed while the interpreter shuts down: lets the write finish, then
    # keeps the interpreter alive while the daemon takes its lock back.
    def __init__(self, lock):
        self.lock, self.sleep = lock, time.sleep
    def __del__(self):
        self.lock.close()
        self.sleep(2.5)

lock = open(sys.argv[1] + "/vault.cord.lock", "a+b")
fcntl.flock(lock, fcntl.LOCK_EX)
release = ReleaseAtShutdown(lock)
threading.Thread(target=vault.set, args=("app/late", "written"), daemon=True).start()
time.sleep(0.3)
"""
    done = run_python(code, team.vault)
    assert (done.returncode, done.stderr) == (0, "")
    assert open_as("alice").get("app/late") == "written"
