"""Cross-checks the secret binding formats, sealing and reading against an
independent implementation built here from `cryptography`, `pyhpke` and a
small canonical encoder: the same bytes are bound, a secret sealed by the
C++ code opens here from the record bytes and a master seed, and a secret
sealed here opens there."""

import hashlib
import os
import struct
import subprocess
import unicodedata

import pytest
from cryptography.hazmat.primitives import hashes, hmac, serialization
from cryptography.hazmat.primitives.asymmetric.ed25519 import Ed25519PrivateKey, Ed25519PublicKey
from cryptography.hazmat.primitives.ciphers.aead import ChaCha20Poly1305
from cryptography.hazmat.primitives.kdf.hkdf import HKDFExpand
from pyhpke import AEADId, CipherSuite, KDFId, KEMId

SUITE = CipherSuite.new(KEMId.DHKEM_X25519_HKDF_SHA256, KDFId.HKDF_SHA256, AEADId.CHACHA20_POLY1305)
ROUNDS = 4
# The secrets test vault of the ops tool: users by the byte their master seed repeats.
ROOT, ALICE, BOB = 1, 2, 3
SECRET_VARIANT = 11
SECRET_KEY_VARIANT = 7


@pytest.fixture(scope="module")
def tool(test_tool):
    path = test_tool("ops_tool")

    def run(*args):
        done = subprocess.run([str(path), *args], capture_output=True, text=True, check=False)
        assert done.returncode == 0, done.stderr
        return [bytes.fromhex(line) for line in done.stdout.split()]

    return run


# --- canonical encoding -------------------------------------------------


def u32(n):
    return struct.pack(">I", n)


def u64(n):
    return struct.pack(">Q", n)


def byte_string(data):
    return u32(len(data)) + data


def text(value):
    return byte_string(unicodedata.normalize("NFC", value).encode())


def sequence(items, encode):
    return u32(len(items)) + b"".join(encode(item) for item in items)


def label(pair):
    return text(pair[0]) + text(pair[1])


def slot(entry):
    return b"".join(byte_string(part) for part in entry)


def selector_encoding(tuple_, labels):
    return sequence(tuple_, text) + sequence(labels, label)


def secret_value(primary, fields):
    entries = sorted(text(name) + byte_string(value) for name, value in fields.items())
    return byte_string(primary) + u32(len(entries)) + b"".join(entries)


def slot_binding(root, secret_id, tuple_, labels, reader):
    return byte_string(root) + byte_string(secret_id) + selector_encoding(tuple_, labels) + byte_string(reader)


def content_aad(root, secret_id, signing_key, counter, tuple_, labels, nonce, slots):
    record_key = u32(SECRET_KEY_VARIANT) + byte_string(secret_id)
    return (
        byte_string(root)
        + record_key
        + byte_string(signing_key)
        + u64(counter)
        + byte_string(secret_id)
        + selector_encoding(tuple_, labels)
        + byte_string(nonce)
        + sequence(slots, slot)
    )


def envelope(primary, fields):
    return b"morvik-secret-v1\0" + secret_value(primary, fields)


class Reader:
    """Reads canonical encodings from the front of a byte string."""

    def __init__(self, data):
        self.data, self.at = data, 0

    def take(self, n):
        assert self.at + n <= len(self.data)
        self.at += n
        return self.data[self.at - n : self.at]

    def u32(self):
        return struct.unpack(">I", self.take(4))[0]

    def u64(self):
        return struct.unpack(">Q", self.take(8))[0]

    def bytes(self):
        return self.take(self.u32())

    def text(self):
        return self.bytes().decode()

    def sequence(self, read):
        return [read() for _ in range(self.u32())]

    def done(self):
        assert self.at == len(self.data)


def decode_secret_record(record):
    """The signing key, the signed message and the Secret body of a VaultRecordV1."""
    outer = Reader(record)
    body = outer.bytes()
    signing_key, signature = outer.bytes(), outer.bytes()
    outer.done()
    inner = Reader(body)
    assert inner.u32() == SECRET_VARIANT
    secret = {
        "secret_id": inner.bytes(),
        "tuple": inner.sequence(inner.text),
        "labels": inner.sequence(lambda: (inner.text(), inner.text())),
        "nonce": inner.bytes(),
        "ciphertext": inner.bytes(),
        "slots": inner.sequence(lambda: (inner.bytes(), inner.bytes(), inner.bytes())),
        "counter": inner.u64(),
    }
    inner.done()
    return signing_key, byte_string(body), signature, secret


def encode_secret_record(body, signing_key, signature):
    return byte_string(body) + byte_string(signing_key) + byte_string(signature)


# --- hashes, identities and signatures ----------------------------------


def domain_hash(domain, data):
    head = b"morvik.hash.v1"
    return hashlib.sha256(u64(len(head)) + head + u64(len(domain)) + domain + u64(len(data)) + data).digest()


def transcript(label, domain, message):
    return u64(len(label)) + label + u64(len(domain)) + domain + u64(len(message)) + message


def hpke_info(context):
    label = b"morvik.hpke-info.v1"
    return u64(len(label)) + label + u64(len(context)) + context


class User:
    """A user's keys, derived from the master seed that repeats `seed`."""

    def __init__(self, seed):
        mac = hmac.HMAC(b"morvik.identity.v1", hashes.SHA256())
        mac.update(bytes([seed]) * 32)
        prk = mac.finalize()
        ed25519_seed = HKDFExpand(hashes.SHA256(), 32, b"morvik.identity.v1.ed25519").derive(prk)
        x25519_input = HKDFExpand(hashes.SHA256(), 32, b"morvik.identity.v1.x25519").derive(prk)
        self.signing = Ed25519PrivateKey.from_private_bytes(ed25519_seed)
        self.encryption = SUITE.kem.derive_key_pair(x25519_input)
        self.signing_public = self.signing.public_key().public_bytes(
            serialization.Encoding.Raw, serialization.PublicFormat.Raw
        )
        self.encryption_public = self.encryption.public_key.to_public_bytes()
        self.user_id = domain_hash(
            b"morvik.user.v1", byte_string(self.signing_public) + byte_string(self.encryption_public)
        )
        self.key_hash = domain_hash(b"morvik.key.v1", byte_string(self.signing_public))


def secret_id_of(tuple_, labels):
    return domain_hash(b"morvik.secret.v1", selector_encoding(tuple_, labels))


def open_secret(record, reader, root_id):
    """The plaintext of `record` for `reader`, computed here alone."""
    _, _, _, secret = decode_secret_record(record)
    reader_slot = next(s for s in secret["slots"] if s[0] == reader.user_id)
    binding = slot_binding(root_id, secret["secret_id"], secret["tuple"], secret["labels"], reader.user_id)
    receiver = SUITE.create_recipient_context(reader_slot[1], reader.encryption.private_key, info=hpke_info(binding))
    content_key = receiver.open(reader_slot[2], aad=binding)
    signing_key = decode_secret_record(record)[0]
    aad = content_aad(
        root_id,
        secret["secret_id"],
        signing_key,
        secret["counter"],
        secret["tuple"],
        secret["labels"],
        secret["nonce"],
        secret["slots"],
    )
    return ChaCha20Poly1305(content_key).decrypt(secret["nonce"], secret["ciphertext"], aad)


# --- command-line items ---------------------------------------------------


def selector_items(tuple_, labels):
    return [f"s:{s.encode().hex()}" for s in tuple_] + [f"l:{k.encode().hex()}:{v.encode().hex()}" for k, v in labels]


def random_text():
    return "".join(chr(c) for c in os.urandom(1 + os.urandom(1)[0] % 6) if c >= 0x20) + "\u00e9cafe\u0301"


# --- tests ------------------------------------------------------------------


def test_slot_binding_bytes_match(tool):
    for _ in range(ROUNDS):
        root, secret_id, reader = os.urandom(32), os.urandom(32), os.urandom(32)
        tuple_ = [random_text(), "app"]
        labels = [("env", random_text()), ("r\u00e9gion", "eu")]
        (binding,) = tool("slot-binding", root.hex(), secret_id.hex(), reader.hex(), *selector_items(tuple_, labels))
        assert binding == slot_binding(root, secret_id, tuple_, labels, reader)


def test_content_aad_bytes_match(tool):
    for _ in range(ROUNDS):
        root, secret_id, signing_key, nonce = os.urandom(32), os.urandom(32), os.urandom(32), os.urandom(12)
        counter = int.from_bytes(os.urandom(8), "big") >> 2
        tuple_, labels = [random_text()], [("k", random_text())]
        slots = [(os.urandom(32), os.urandom(32), os.urandom(48)) for _ in range(3)]
        slot_items = [f"r:{r.hex()}:{e.hex()}:{w.hex()}" for r, e, w in slots]
        (aad,) = tool(
            "content-aad",
            root.hex(),
            secret_id.hex(),
            signing_key.hex(),
            str(counter),
            nonce.hex(),
            *slot_items,
            *selector_items(tuple_, labels),
        )
        assert aad == content_aad(root, secret_id, signing_key, counter, tuple_, labels, nonce, slots)


def test_sealed_there_opens_here(tool):
    root, alice, bob = User(ROOT), User(ALICE), User(BOB)
    tuple_, labels = ["app", "na\u00efve db"], [("env", "prod"), ("r\u00e9gion", "eu")]
    primary = os.urandom(40)
    fields = {"user": b"admin", "caf\u00e9": os.urandom(8), "": b"empty name"}
    field_items = [f"f:{name.encode().hex()}:{value.hex()}" for name, value in fields.items()]
    (record,) = tool("seal", primary.hex(), *field_items, *selector_items(tuple_, labels))

    signing_key, message, signature, secret = decode_secret_record(record)
    assert signing_key == alice.signing_public
    Ed25519PublicKey.from_public_bytes(signing_key).verify(
        signature, transcript(b"morvik.signature.v1", b"morvik.signed.v1", message)
    )
    assert (secret["tuple"], secret["labels"]) == (tuple_, labels)
    assert secret["secret_id"] == secret_id_of(tuple_, labels)
    assert len(secret["nonce"]) == 12
    assert [s[0] for s in secret["slots"]] == sorted([root.user_id, alice.user_id])

    # Every reader opens it knowing only the vault's root key hash, which the
    # root's own seed gives.
    for reader in (root, alice):
        assert open_secret(record, reader, root.key_hash) == envelope(primary, fields)
    assert bob.user_id not in [s[0] for s in secret["slots"]]


def test_sealed_here_opens_there(tool):
    root, alice = User(ROOT), User(ALICE)
    tuple_, labels = ["app", "crosscheck"], [("env", "\u00e9t\u00e9")]
    primary = os.urandom(24)
    fields = {"token": os.urandom(16), "Host": b"db.internal", "host": b"lower"}
    secret_id = secret_id_of(tuple_, labels)
    counter = 7
    content_key, nonce = os.urandom(32), os.urandom(12)

    slots = []
    for reader in sorted((root, alice), key=lambda u: u.user_id):
        binding = slot_binding(root.key_hash, secret_id, tuple_, labels, reader.user_id)
        recipient = SUITE.kem.deserialize_public_key(reader.encryption_public)
        encapsulated, sender = SUITE.create_sender_context(recipient, info=hpke_info(binding))
        slots.append((reader.user_id, encapsulated, sender.seal(content_key, aad=binding)))
    aad = content_aad(root.key_hash, secret_id, alice.signing_public, counter, tuple_, labels, nonce, slots)
    ciphertext = ChaCha20Poly1305(content_key).encrypt(nonce, envelope(primary, fields), aad)

    body = (
        u32(SECRET_VARIANT)
        + byte_string(secret_id)
        + selector_encoding(tuple_, labels)
        + byte_string(nonce)
        + byte_string(ciphertext)
        + sequence(slots, slot)
        + u64(counter)
    )
    signature = alice.signing.sign(transcript(b"morvik.signature.v1", b"morvik.signed.v1", byte_string(body)))
    record = encode_secret_record(body, alice.signing_public, signature)

    for seed in (ROOT, ALICE):
        opened = tool("open", str(seed), record.hex())
        assert opened[0] == primary
        assert [(name.decode(), value) for name, value in zip(opened[1::2], opened[2::2])] == sorted(
            (name, value) for name, value in fields.items()
        )
