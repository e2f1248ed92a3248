"""Cross-checks the cryptography against independent implementations
(`cryptography` and `pyhpke`) on fresh random inputs in every run."""

import os
import struct
import subprocess

import pytest
from cryptography.hazmat.primitives import hashes, hmac, serialization
from cryptography.hazmat.primitives.asymmetric.ed25519 import Ed25519PrivateKey, Ed25519PublicKey
from cryptography.hazmat.primitives.ciphers.aead import ChaCha20Poly1305
from cryptography.hazmat.primitives.kdf.hkdf import HKDFExpand
from pyhpke import AEADId, CipherSuite, KDFId, KEMId

SUITE = CipherSuite.new(KEMId.DHKEM_X25519_HKDF_SHA256, KDFId.HKDF_SHA256, AEADId.CHACHA20_POLY1305)
ROUNDS = 8


@pytest.fixture(scope="module")
def tool(test_tool):
    path = test_tool("crypto_tool")

    def run(*args):
        arguments = [a if isinstance(a, str) else a.hex() for a in args]
        done = subprocess.run([str(path), *arguments], capture_output=True, text=True, check=False)
        assert done.returncode == 0, done.stderr
        return [bytes.fromhex(line) for line in done.stdout.split()]

    return run


def be64(n):
    return struct.pack(">Q", n)


def hpke_info(context):
    label = b"morvik.hpke-info.v1"
    return be64(len(label)) + label + be64(len(context)) + context


def identity_keys(seed):
    """Derivation of a user's keys from the master seed, built from scratch."""
    mac = hmac.HMAC(b"morvik.identity.v1", hashes.SHA256())
    mac.update(seed)
    prk = mac.finalize()
    ed25519_seed = HKDFExpand(hashes.SHA256(), 32, b"morvik.identity.v1.ed25519").derive(prk)
    x25519_input = HKDFExpand(hashes.SHA256(), 32, b"morvik.identity.v1.x25519").derive(prk)
    signing = Ed25519PrivateKey.from_private_bytes(ed25519_seed)
    encryption = SUITE.kem.derive_key_pair(x25519_input)
    return signing, encryption


def raw_public(ed25519_key):
    return ed25519_key.public_key().public_bytes(serialization.Encoding.Raw, serialization.PublicFormat.Raw)


def test_identity_keys_match(tool):
    for _ in range(ROUNDS):
        seed = os.urandom(32)
        signing_public, encryption_public = tool("identity", seed)
        signing, encryption = identity_keys(seed)
        assert signing_public == raw_public(signing)
        assert encryption_public == encryption.public_key.to_public_bytes()


def test_identity_signatures_verify_over_the_transcript(tool):
    for _ in range(ROUNDS):
        seed, message = os.urandom(32), os.urandom(int.from_bytes(os.urandom(1), "big"))
        domain = "morvik.signed.v1"
        (signature,) = tool("sign", seed, domain, message)
        label = b"morvik.signature.v1"
        transcript = be64(len(label)) + label + be64(len(domain)) + domain.encode() + be64(len(message)) + message
        signing, _ = identity_keys(seed)
        Ed25519PublicKey.from_public_bytes(raw_public(signing)).verify(signature, transcript)


def test_hpke_sealed_here_opens_there(tool):
    for _ in range(ROUNDS):
        recipient = SUITE.kem.derive_key_pair(os.urandom(32))
        context, aad, plaintext = os.urandom(20), os.urandom(9), os.urandom(32)
        enc, ciphertext = tool("hpke-seal", recipient.public_key.to_public_bytes(), context, aad, plaintext)
        receiver = SUITE.create_recipient_context(enc, recipient.private_key, info=hpke_info(context))
        assert receiver.open(ciphertext, aad=aad) == plaintext


def test_hpke_sealed_there_opens_here(tool):
    for _ in range(ROUNDS):
        recipient = SUITE.kem.derive_key_pair(os.urandom(32))
        context, aad, plaintext = os.urandom(20), os.urandom(9), os.urandom(32)
        enc, sender = SUITE.create_sender_context(recipient.public_key, info=hpke_info(context))
        ciphertext = sender.seal(plaintext, aad=aad)
        (opened,) = tool("hpke-open", recipient.private_key.to_private_bytes(), enc, context, aad, ciphertext)
        assert opened == plaintext


# Past sequence number 255 the nonce's second byte changes: a context must
# count through it like the other side.
SEQUENCE_END = 257


def test_hpke_context_seals_the_same_sequence_as_pyhpke(tool):
    recipient = SUITE.kem.derive_key_pair(os.urandom(32))
    ikm_e, info, aad, plaintext = os.urandom(32), os.urandom(20), os.urandom(9), os.urandom(32)
    enc, *ciphertexts = tool(
        "hpke-seal-sequence", recipient.public_key.to_public_bytes(), ikm_e, info, aad, plaintext, str(SEQUENCE_END)
    )
    their_enc, sender = SUITE.create_sender_context(
        recipient.public_key, info=info, eks=SUITE.kem.derive_key_pair(ikm_e)
    )
    assert enc == their_enc
    receiver = SUITE.create_recipient_context(enc, recipient.private_key, info=info)
    assert len(ciphertexts) == SEQUENCE_END
    for ciphertext in ciphertexts:
        assert ciphertext == sender.seal(plaintext, aad=aad)
        assert receiver.open(ciphertext, aad=aad) == plaintext


def test_hpke_context_opens_a_pyhpke_sequence(tool):
    recipient = SUITE.kem.derive_key_pair(os.urandom(32))
    info, aad = os.urandom(20), os.urandom(9)
    enc, sender = SUITE.create_sender_context(recipient.public_key, info=info)
    plaintexts = [os.urandom(16) for _ in range(SEQUENCE_END)]
    ciphertexts = [sender.seal(p, aad=aad) for p in plaintexts]
    opened = tool("hpke-open-sequence", recipient.private_key.to_private_bytes(), enc, info, aad, *ciphertexts)
    assert opened == plaintexts


def test_content_sealing_matches_both_ways(tool):
    for _ in range(ROUNDS):
        key, nonce, aad = os.urandom(32), os.urandom(12), os.urandom(30)
        plaintext = os.urandom(int.from_bytes(os.urandom(1), "big"))
        (ciphertext,) = tool("seal-content", key, nonce, aad, plaintext)
        assert ciphertext == ChaCha20Poly1305(key).encrypt(nonce, plaintext, aad)
        theirs = ChaCha20Poly1305(key).encrypt(nonce, plaintext[::-1], aad)
        assert tool("open-content", key, nonce, aad, theirs) == ([plaintext[::-1]] if plaintext else [])
