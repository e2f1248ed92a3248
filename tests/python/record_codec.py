"""An independent reader and writer of the formats a vault's secrets are
bound and sealed in, built from `cryptography`, `pyhpke` and a small
canonical encoder: enough to open a secret from the bytes of its record and
a master seed alone, and to seal one that the C++ code must open."""

import hashlib
import struct
import unicodedata

from cryptography.hazmat.primitives import hashes, hmac, serialization
from cryptography.hazmat.primitives.asymmetric.ed25519 import Ed25519PrivateKey
from cryptography.hazmat.primitives.ciphers.aead import ChaCha20Poly1305
from cryptography.hazmat.primitives.kdf.hkdf import HKDFExpand
from pyhpke import AEADId, CipherSuite, KDFId, KEMId

SUITE = CipherSuite.new(KEMId.DHKEM_X25519_HKDF_SHA256, KDFId.HKDF_SHA256, AEADId.CHACHA20_POLY1305)
SECRET_VARIANT = 11
SECRET_KEY_VARIANT = 7
VAULT_MAGIC = b"morvik-vault\0"


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


# --- vault files --------------------------------------------------------------


def vault_records(vault_file):
    """The encoded VaultRecordV1 elements of a vault file's bytes."""
    assert vault_file.startswith(VAULT_MAGIC)
    reader = Reader(vault_file[len(VAULT_MAGIC) :])
    assert reader.u32() == 0
    records = []
    for _ in range(reader.u32()):
        start = reader.at
        reader.bytes(), reader.bytes(), reader.bytes()
        records.append(reader.data[start : reader.at])
    reader.done()
    return records


def body_variant(record):
    return struct.unpack(">I", Reader(record).bytes()[:4])[0]
