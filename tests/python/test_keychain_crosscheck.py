"""Identity files sealed with independent Argon2id and ChaCha20-Poly1305
implementations open in the keychain, and the keychain's own open there."""

import struct
import subprocess

import pytest
from argon2.low_level import Type, hash_secret_raw
from cryptography.hazmat.primitives.ciphers.aead import ChaCha20Poly1305

MAGIC = b"morvik-identity\x00"
ROOT = bytes(range(32))
USER = bytes(range(100, 132))
SEED = bytes(range(200, 232))
PASSPHRASE = "pässphrase with spaces "


@pytest.fixture
def tool(test_tool):
    return str(test_tool("keychain_tool"))


def u32(value):
    return struct.pack(">I", value)


def byte_string(value):
    return u32(len(value)) + value


def derive_key(passphrase, salt, memory_kib, iterations, lanes):
    return hash_secret_raw(
        passphrase.encode(), salt, time_cost=iterations, memory_cost=memory_kib,
        parallelism=lanes, hash_len=32, type=Type.ID, version=19,
    )


def aad():
    return byte_string(ROOT) + byte_string(USER)


def seal_file(salt, nonce, memory_kib, iterations, lanes):
    key = derive_key(PASSPHRASE, salt, memory_kib, iterations, lanes)
    ciphertext = ChaCha20Poly1305(key).encrypt(nonce, byte_string(SEED), aad())
    kdf = byte_string(b"argon2id-v1.3") + u32(memory_kib) + u32(iterations) + u32(lanes)
    sealed = byte_string(ROOT) + byte_string(USER) + kdf + byte_string(salt) + byte_string(nonce)
    return MAGIC + u32(0) + sealed + byte_string(ciphertext)


class Reader:
    def __init__(self, data):
        self.data, self.pos = data, 0

    def u32(self):
        (value,) = struct.unpack_from(">I", self.data, self.pos)
        self.pos += 4
        return value

    def bytes(self):
        length = self.u32()
        value = self.data[self.pos:self.pos + length]
        self.pos += length
        return value


def open_file(data):
    assert data.startswith(MAGIC)
    r = Reader(data[len(MAGIC):])
    assert r.u32() == 0
    assert r.bytes() == ROOT
    assert r.bytes() == USER
    assert r.bytes() == b"argon2id-v1.3"
    memory_kib, iterations, lanes = r.u32(), r.u32(), r.u32()
    salt, nonce, ciphertext = r.bytes(), r.bytes(), r.bytes()
    assert r.pos == len(r.data)
    key = derive_key(PASSPHRASE, salt, memory_kib, iterations, lanes)
    plaintext = ChaCha20Poly1305(key).decrypt(nonce, ciphertext, aad())
    assert plaintext[:4] == u32(32) and len(plaintext) == 36
    return plaintext[4:]


@pytest.mark.parametrize("lanes,iterations", [(1, 1), (4, 2)])
def test_identity_sealed_by_independent_libraries_opens_here(tool, tmp_path, lanes, iterations):
    path = tmp_path / "identity.cord"
    path.write_bytes(seal_file(bytes([7] * 16), bytes([9] * 12), 8192, iterations, lanes))
    result = subprocess.run([tool, "open", str(path), ROOT.hex(), USER.hex(), PASSPHRASE],
                            capture_output=True, text=True, check=False)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == SEED.hex()

    wrong = subprocess.run([tool, "open", str(path), ROOT.hex(), USER.hex(), PASSPHRASE.strip()],
                           capture_output=True, text=True, check=False)
    assert wrong.returncode == 1
    assert wrong.stderr.strip() == "identity keychain unlock failed"


@pytest.mark.parametrize("lanes,iterations", [(1, 1), (8, 3)])
def test_identity_sealed_here_opens_with_independent_libraries(tool, tmp_path, lanes, iterations):
    path = tmp_path / "identities" / "identity.cord"
    salt, nonce = bytes(range(16)), bytes(range(50, 62))
    subprocess.run([tool, "seal", str(path), ROOT.hex(), USER.hex(), PASSPHRASE, SEED.hex(), salt.hex(),
                    nonce.hex(), "8192", str(iterations), str(lanes)], check=True)
    data = path.read_bytes()
    assert open_file(data) == SEED
    # The same inputs give the same file on both sides.
    assert data == seal_file(salt, nonce, 8192, iterations, lanes)
