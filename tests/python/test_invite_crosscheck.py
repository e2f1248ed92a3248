"""Cross-checks the reading of invitation strings against the `bech32`
package, on fresh random inputs in every run: strings it writes decode here
to the bytes it encoded, and what it refuses is refused here too.

The package writes and checks Bech32 only; Bech32m strings are made and
checked with its own checksum function under the Bech32m constant."""

import random
import subprocess

import bech32
import pytest

from bech32_text import BECH32M, encode, encode_groups

MALFORMED = "invitation string is malformed or has a bad checksum"
ROUNDS = 40


@pytest.fixture(scope="module")
def decode(test_tool):
    """The payload the tool reads from an invitation string, or its error text."""
    path = test_tool("frontend_tool")

    def run(text):
        done = subprocess.run(
            [str(path), "bundle-decode", text], capture_output=True, encoding="utf-8", check=False
        )
        if done.returncode == 0:
            return bytes.fromhex(done.stdout.strip())
        assert done.returncode == 1, done.stderr
        return done.stderr.strip()

    return run


@pytest.fixture
def either_checksum(monkeypatch):
    """The package's own string reader, accepting a Bech32m checksum as well."""

    def verify(hrp, data):
        return bech32.bech32_polymod(bech32.bech32_hrp_expand(hrp) + list(data)) in (1, BECH32M)

    monkeypatch.setattr(bech32, "bech32_verify_checksum", verify)
    return bech32.bech32_decode


def wrong_prefix(prefix):
    quoted = prefix.replace("\\", "\\\\").replace('"', '\\"')
    return f'not the expected Morvik invitation (prefix "{quoted}"; invitations are mrvk1\u2026)'


def test_package_strings_decode_to_their_bytes(decode):
    rng = random.Random()
    sizes = [0, 1, 31, 32, 51, 200, 632] + [rng.randrange(0, 633) for _ in range(ROUNDS)]
    for size in sizes:
        payload = rng.randbytes(size)
        for bech32m in (False, True):
            text = encode("mrvk", payload, bech32m)
            assert len(text) <= 1023
            assert decode(text) == payload, (size, bech32m)


def test_leftover_bits_are_dropped_whatever_their_value(decode, either_checksum):
    rng = random.Random()
    for _ in range(ROUNDS):
        groups = [rng.randrange(32) for _ in range(rng.randrange(1, 300))]
        text = encode_groups("mrvk", groups, rng.random() < 0.5)
        prefix, data = either_checksum(text)
        assert (prefix, data) == ("mrvk", groups)
        whole = bech32.convertbits(data, 5, 8, True)[: len(groups) * 5 // 8]
        assert decode(text) == bytes(whole)


def mutations(text, rng):
    """Single changes of a valid string, none of them at either end of it."""
    at = rng.randrange(1, len(text) - 1)
    yield text[:at] + rng.choice(bech32.CHARSET) + text[at + 1 :]
    yield text[:at] + text[at + 1] + text[at] + text[at + 2 :]
    yield text[:at] + text[at].swapcase() + text[at + 1 :]
    yield text[:at] + " " + text[at:]
    yield text[:at] + text[at + 1 :]
    yield text[:at] + rng.choice(bech32.CHARSET + "bio1") + text[at:]
    yield text.upper()


def test_refusals_agree(decode, either_checksum):
    rng = random.Random()
    for _ in range(ROUNDS):
        payload = rng.randbytes(rng.randrange(0, 120))
        for text in mutations(encode("mrvk", payload, rng.random() < 0.5), rng):
            prefix, data = either_checksum(text)
            if prefix is None:
                assert decode(text) == MALFORMED, text
            elif text[: text.rfind("1")] != "mrvk":
                assert decode(text) == wrong_prefix(text[: text.rfind("1")]), text
            else:
                assert decode(text) == bytes(bech32.convertbits(data, 5, 8, True)[: len(data) * 5 // 8]), text


def test_other_prefixes_are_named(decode, either_checksum):
    rng = random.Random()
    printable = [chr(c) for c in range(33, 127) if not chr(c).isupper()]
    prefixes = ["bc", "mrvk1", "mrv", "mrvkx", "~" * 83]
    prefixes += ["".join(rng.choice(printable) for _ in range(rng.randrange(1, 84))) for _ in range(ROUNDS)]
    for prefix in prefixes:
        text = encode(prefix, rng.randbytes(40), rng.random() < 0.5)
        assert either_checksum(text)[0] == prefix.lower()
        assert decode(text) == wrong_prefix(prefix), text


def test_strings_over_1023_characters_are_refused(decode, either_checksum):
    rng = random.Random()
    for size in (633, 634, 2000):
        for bech32m in (False, True):
            text = encode("mrvk", rng.randbytes(size), bech32m)
            assert len(text) > 1023
            assert either_checksum(text)[0] == "mrvk"  # the package has no limit
            assert decode(text) == MALFORMED
