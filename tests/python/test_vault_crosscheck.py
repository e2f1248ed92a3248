"""A secret written through the module opens with `cryptography` and
`pyhpke` from the bytes of its record in the vault file and a reader's
master seed alone, following the binding formats."""

import os
import pathlib

from cryptography.hazmat.primitives.asymmetric.ed25519 import Ed25519PublicKey

from record_codec import (
    SECRET_VARIANT,
    User,
    body_variant,
    decode_secret_record,
    envelope,
    open_secret,
    secret_id_of,
    transcript,
    vault_records,
)
from workspaces import ALICE, BOB, CAROL, ROOT


def test_a_secret_written_through_the_module_opens_from_its_record_alone(open_as, team):
    alice = open_as("alice")
    primary = os.urandom(48)
    alice.set("app/cross@env=prod", primary)
    alice.set_field("app/cross@env=prod", "token", b"\x00\xff")
    alice.set_field("app/cross@env=prod", "caf\u00e9", "x")

    tuple_, labels = ["app", "cross"], [("env", "prod")]
    secrets = [record for record in vault_records(pathlib.Path(team.vault_file).read_bytes())
               if body_variant(record) == SECRET_VARIANT]
    ours = [record for record in secrets if decode_secret_record(record)[3]["tuple"] == tuple_]
    record = max(ours, key=lambda r: decode_secret_record(r)[3]["counter"])

    signing_key, message, signature, secret = decode_secret_record(record)
    assert signing_key == User(ALICE).signing_public
    Ed25519PublicKey.from_public_bytes(signing_key).verify(
        signature, transcript(b"morvik.signature.v1", b"morvik.signed.v1", message)
    )
    assert (secret["labels"], secret["secret_id"]) == (labels, secret_id_of(tuple_, labels))

    # The vault's trusted root is the root user's key hash.
    assert User(ROOT).key_hash == team.root
    expected = envelope(primary, {"token": b"\x00\xff", "caf\u00e9": b"x"})
    for reader in (ROOT, ALICE, BOB):
        assert open_secret(record, User(reader), team.root) == expected
    assert User(CAROL).user_id not in [slot[0] for slot in secret["slots"]]
