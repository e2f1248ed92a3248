"""The Python module beside the tools a user would otherwise pick, on the same
payloads: vaults of 100 to 100,000 secrets of 64 bytes each, against age
(through pyrage) decrypting the same values and python-dotenv reading them as
plain lines.

For each size it times, as medians:
  open cold    Vault(...) with no verification cache: every signature checked
  open warm    Vault(...) with the cache the previous open left
  get          one secret from an open vault
  get all      every secret, one get each
  set          one secret written (a durable commit)
  age one      pyrage decrypting one value
  age each     pyrage decrypting N values, each its own file
  age file     pyrage decrypting one file of N lines
  dotenv       python-dotenv reading a file of N plain lines
and prints the ratios the module aims at: get at most half of age's one
decrypt, and a warm open faster than dotenv reading the same N secrets.
It also reports the peak resident memory of a fresh process that imported the
module and opened the vault once, cold (the builder's cache removed) and warm,
beside the vault file's size and the interpreter's own peak before the open.

    make bench

builds the module and the workspace builder (a test tool), then runs this with
--builder build/tests/cpp/tools/frontend_workspace_tool. The vaults are
opened through an invitation, which involves no passphrase: the keychain's
Argon2 would add its own, deliberate, cost to every open."""

import argparse
import json
import os
import pathlib
import statistics
import subprocess
import sys
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor

import dotenv
import pyrage

import morvik

SIZES = (100, 1000, 10_000, 100_000)
WRITER = 2
VALUE = "v" * 64


def description(directory, count):
    """A vault whose one user reads and writes `count` secrets under "app",
    with an invitation for that user, whom the keychain names as current so
    that opens find the user's verification cache."""
    return {
        "dir": str(directory),
        "vault_handle": "bench",
        "users": [{"seed": WRITER, "handle": "writer"}],
        "grants": [
            {"seed": 200, "to": WRITER, "permission": "read", "prefix": ["app"]},
            {"seed": 201, "to": WRITER, "permission": "write", "prefix": ["app"]},
        ],
        "current_user": WRITER,
        "secrets": [{"by": WRITER, "selector": selector(i), "value": VALUE} for i in range(count)],
        "one_commit": True,
        "invites": [{"seed": WRITER, "version": 2}],
    }


def selector(index):
    return f"app/secret-{index:06d}"


def build_workspace(builder, directory, count):
    done = subprocess.run(
        [builder], input=json.dumps(description(directory, count)), capture_output=True, text=True, check=True
    )
    return json.loads(done.stdout)


def repeats(count, small):
    """Fewer runs as the vault grows, at least three."""
    return max(3, small * 100 // max(count, 100))


# Past this much time spent on one line no further run starts: python-dotenv
# takes minutes for one file of 100,000 lines, and a median of runs that
# long adds nothing to a comparison it loses by two orders of magnitude.
BUDGET_SECONDS = 30


def median_seconds(body, repeats, before=None):
    """The median of `repeats` timings of body(), or of fewer once they have
    taken BUDGET_SECONDS; before() runs untimed ahead of each."""
    timings = []
    while len(timings) < repeats and sum(timings) < BUDGET_SECONDS:
        if before:
            before()
        start = time.perf_counter()
        body()
        timings.append(time.perf_counter() - start)
    return statistics.median(timings)


def time_vault(workspace, count):
    os.environ.update(workspace["env"])
    path = workspace["vault"]
    auth = morvik.Auth.from_invite(pathlib.Path(workspace["invites"][0]["file"]).read_bytes())
    # The per-root state directory holds one cache per user.
    state = pathlib.Path(workspace["env"]["MORVIK_STATE_DIR"])

    def drop_caches():
        for cache in state.glob("*/*/cache.cord"):
            cache.unlink()

    assert any(state.glob("*/*/cache.cord")), "the builder's writes left no verification cache"
    times = {
        "open cold": median_seconds(lambda: morvik.Vault(path, auth=auth), repeats(count, 21), before=drop_caches),
        "open warm": median_seconds(lambda: morvik.Vault(path, auth=auth), repeats(count, 51)),
    }
    vault = morvik.Vault(path, auth=auth)
    middle = selector(count // 2)
    assert vault.get(middle) == VALUE
    times["get"] = median_seconds(lambda: vault.get(middle), 2001)
    selectors = [selector(i) for i in range(count)]
    times["get all"] = median_seconds(lambda: [vault.get(s) for s in selectors], repeats(count, 21))
    written = selector(count - 1)
    times["set"] = median_seconds(lambda: vault.set(written, VALUE), repeats(count, 110))
    return times


def time_others(directory, count):
    identity = pyrage.x25519.Identity.generate()
    recipients = [identity.to_public()]
    payload = VALUE.encode()
    sealed = [pyrage.encrypt(payload, recipients) for _ in range(count)]
    lines = "".join(f"SECRET_{i:04d}={VALUE}\n" for i in range(count))
    sealed_file = pyrage.encrypt(lines.encode(), recipients)
    plain = pathlib.Path(directory) / f"plain-{count}.env"
    plain.write_text(lines)

    def read_plain():
        assert len(dotenv.dotenv_values(plain)) == count

    return {
        "age one": median_seconds(lambda: pyrage.decrypt(sealed[0], [identity]), 2001),
        "age each": median_seconds(lambda: [pyrage.decrypt(s, [identity]) for s in sealed], repeats(count, 21)),
        "age file": median_seconds(lambda: pyrage.decrypt(sealed_file, [identity]), repeats(count, 201)),
        "dotenv": median_seconds(read_plain, repeats(count, 21)),
    }


# Run in a fresh interpreter: its peak resident set (kB) after the import,
# then after one open. The high-water mark of the process's own memory, not
# getrusage's, which keeps the peak of the process that started it.
PEAK_AFTER_OPEN = """
import pathlib, sys
import morvik
def peak():
    for line in open("/proc/self/status"):
        if line.startswith("VmHWM:"):
            return int(line.split()[1])
path, invite = sys.argv[1:3]
auth = morvik.Auth.from_invite(pathlib.Path(invite).read_bytes())
before = peak()
vault = morvik.Vault(path, auth=auth)
print(before, peak())
"""


def peak_memory(workspace):
    """Peak resident bytes of a process before and after opening the vault,
    cold then warm."""
    state = pathlib.Path(workspace["env"]["MORVIK_STATE_DIR"])
    for cache in state.glob("*/*/cache.cord"):
        cache.unlink()
    peaks = {}
    for kind in ("cold", "warm"):
        done = subprocess.run(
            [sys.executable, "-c", PEAK_AFTER_OPEN, workspace["vault"], workspace["invites"][0]["file"]],
            env=os.environ | workspace["env"], capture_output=True, text=True, check=True,
        )
        before, after = (int(kb) * 1024 for kb in done.stdout.split())
        peaks[kind] = (before, after)
    return peaks


def vault_file_size(workspace):
    return (pathlib.Path(workspace["vault"]) / "vault.cord").stat().st_size


def shown(seconds):
    if seconds >= 1e-3:
        return f"{seconds * 1e3:9.2f} ms"
    return f"{seconds * 1e6:9.1f} us"


def ratio_line(text, ratio, goal):
    verdict = "" if goal is None else ("  goal met" if ratio <= goal else f"  GOAL MISSED (goal <= {goal})")
    print(f"  {text:<40} {ratio:7.2f}{verdict}")


def report(count, times, peaks, file_size):
    print(f"\n{count} secrets of {len(VALUE)} bytes, vault file {file_size / 1e6:.1f} MB")
    for kind, (before, after) in peaks.items():
        print(
            f"  peak RSS, {kind} open {after / 1e6:8.1f} MB ({before / 1e6:.1f} MB before it): "
            f"{after / file_size:6.2f}x the file"
        )
    for name, seconds in times.items():
        print(f"  {name:<10} {shown(seconds)}")
    ratio_line("get / age one", times["get"] / times["age one"], 0.5)
    ratio_line(f"open warm / dotenv of {count} lines", times["open warm"] / times["dotenv"], 1.0)
    ratio_line(f"open cold / age each of {count}", times["open cold"] / times["age each"], None)
    ratio_line(f"get all / age each of {count}", times["get all"] / times["age each"], None)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--builder", required=True, help="the workspace builder tool")
    builder = parser.parse_args().builder
    with tempfile.TemporaryDirectory(prefix="morvik-bench-") as directory:
        print(f"laying out vaults of {', '.join(map(str, SIZES))} secrets, each in one commit")
        with ThreadPoolExecutor(len(SIZES)) as pool:
            workspaces = pool.map(lambda n: build_workspace(builder, pathlib.Path(directory) / f"vault-{n}", n), SIZES)
            workspaces = dict(zip(SIZES, workspaces))
        for count in SIZES:
            workspace = workspaces[count]
            peaks = peak_memory(workspace)
            report(count, time_vault(workspace, count) | time_others(directory, count), peaks, vault_file_size(workspace))


if __name__ == "__main__":
    main()
