"""Cross-checks the secret binding formats, sealing and reading against an
independent implementation built here from `cryptography`, `pyhpke` and a
small canonical encoder: the same bytes are bound, a secret sealed by the
C++ code opens here from the record bytes and a master seed, and a secret
sealed here opens there."""

import os
import subprocess

import pytest
from cryptography.hazmat.primitives.asymmetric.ed25519 import Ed25519PublicKey
from cryptography.hazmat.primitives.ciphers.aead import ChaCha20Poly1305

from record_codec import (
    SECRET_VARIANT,
    SUITE,
    User,
    byte_string,
    content_aad,
    decode_secret_record,
    encode_secret_record,
    envelope,
    hpke_info,
    open_secret,
    secret_id_of,
    selector_encoding,
    sequence,
    slot,
    slot_binding,
    transcript,
    u32,
    u64,
)

ROUNDS = 4
# The secrets test vault of the ops tool: users by the byte their master seed repeats.
ROOT, ALICE, BOB = 1, 2, 3


@pytest.fixture(scope="module")
def tool(test_tool):
    path = test_tool("ops_tool")

    def run(*args):
        done = subprocess.run([str(path), *args], capture_output=True, text=True, check=False)
        assert done.returncode == 0, done.stderr
        return [bytes.fromhex(line) for line in done.stdout.split()]

    return run


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
