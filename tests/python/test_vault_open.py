"""Opening a Vault: the keychain, invitation and environment roads, the users
they open for, every refusal with its class and text, the conflict refusal,
the constructor's arguments and the context-manager methods."""

import os
import pathlib

import pytest

import morvik
import record_codec
from bech32_text import encode
from morvik import Auth, Vault
from workspaces import ALICE, BOB, PASSPHRASE, ROOT, STRANGER, team

MALFORMED = "invitation string is malformed or has a bad checksum"
ONE_CONFLICT = "vault has 1 unresolved conflict; resolve them before using the Morvik Python SDK"
TWO_CONFLICTS = "vault has 2 unresolved conflicts; resolve them before using the Morvik Python SDK"


def keychain(user=None):
    return Auth.from_keychain(user, passphrase=PASSPHRASE)


def opened_as(vault):
    """Which team member the vault was opened for, told by what it may do."""
    try:
        vault.set("elsewhere/probe", "x")
        return ROOT
    except morvik.PermissionDenied:
        pass
    try:
        vault.set("app/probe", "x")
        return ALICE
    except morvik.PermissionDenied:
        pass
    assert vault.get("app/db") == "s3cret"
    return BOB


def raises(kind, text, open_vault):
    with pytest.raises(kind) as raised:
        open_vault()
    assert type(raised.value) is kind
    assert raised.value.args == (text,)


def binary(invite):
    return pathlib.Path(invite["file"]).read_bytes()


def invite_bytes(seed, root, baseline=None):
    """A version 2 invitation in binary form, written here."""
    tail = b"\0" if baseline is None else b"\1" + baseline
    body = record_codec.u32(1) + record_codec.byte_string(seed) + record_codec.byte_string(root) + tail
    return b"morvik-invite\0" + body


# --- the keychain road ------------------------------------------------------------


@pytest.mark.parametrize("reference", ["alice", "@alice", " Alice ", "full", "prefix", "long prefix"])
def test_a_user_named_by_handle_full_id_or_prefix(team, reference):
    user_id = team.user_id(ALICE)
    reference = {"full": user_id, "prefix": user_id[:8], "long prefix": user_id[:63].upper()}.get(reference, reference)
    assert opened_as(Vault(team.vault, auth=keychain(reference))) == ALICE


def test_without_a_user_the_keychain_current_user_is_taken(build_workspace):
    workspace = build_workspace(team(current_user=BOB))
    assert opened_as(Vault(workspace.vault, auth=keychain())) == BOB
    # A named user wins over the stored one.
    assert opened_as(Vault(workspace.vault, auth=keychain("alice"))) == ALICE


def test_without_a_user_or_current_user_the_environment_invitation_names_the_user(build_workspace, monkeypatch):
    workspace = build_workspace(team(invites=[{"seed": BOB, "version": 2, "baseline": False}]))
    monkeypatch.setenv("MORVIK_UNSAFE_INVITE", workspace.invites[0]["text"])
    assert opened_as(Vault(workspace.vault, auth=keychain())) == BOB
    monkeypatch.delenv("MORVIK_UNSAFE_INVITE")
    monkeypatch.setenv("MORVIK_UNSAFE_INVITE_FILE", workspace.invites[0]["file"])
    assert opened_as(Vault(workspace.vault, auth=keychain())) == BOB


def test_keychain_refusals(team):
    cases = [
        (morvik.IdentityError, "no default Morvik identity is configured; pass --user once", team.vault, None),
        (morvik.MorvikError, "user handle @dave does not exist", team.vault, "dave"),
        (morvik.MorvikError, 'no user matches "00000000"', team.vault, "00000000"),
        (
            morvik.MorvikError,
            'invalid user handle "a b": handle must be 1\u201364 chars of a\u2013z, 0\u20139, \'-\', \'_\', '
            "starting and ending with a letter or digit",
            team.vault,
            "a b",
        ),
        (
            morvik.MorvikError,
            "store error: vault file is missing at /nonexistent/.morvik/vault.cord",
            "/nonexistent/.morvik",
            "alice",
        ),
    ]
    for kind, text, path, user in cases:
        raises(kind, text, lambda: Vault(path, auth=keychain(user)))
    raises(
        morvik.IdentityError,
        "identity keychain unlock failed",
        lambda: Vault(team.vault, auth=Auth.from_keychain("alice", passphrase="wrong")),
    )


def test_a_vault_that_does_not_validate_or_lacks_its_ratchet_is_refused(build_workspace):
    foreign = build_workspace(team(foreign_record=True))
    with pytest.raises(morvik.ValidationError) as raised:
        Vault(foreign.vault, auth=keychain("alice"))
    assert str(raised.value).startswith("validation failed: [UnknownSignerKey(HashValue([")

    unratcheted = build_workspace(team(ratchet=False))
    ratchet = f"{unratcheted.env['MORVIK_STATE_DIR']}/{unratcheted.root.hex()}/ratchet.cord"
    raises(
        morvik.IdentityError,
        f"workspace is missing ratchet state at {ratchet}",
        lambda: Vault(unratcheted.vault, auth=keychain("alice")),
    )


def test_an_identity_missing_from_the_keychain(build_workspace):
    workspace = build_workspace(team(identities=[]))
    with pytest.raises(morvik.IdentityError, match=r"^no safe identity keychain is available for UserId\("):
        Vault(workspace.vault, auth=keychain("alice"))


@pytest.mark.parametrize("user", ["alice", None])
def test_without_a_keychain_directory(team, monkeypatch, user):
    # With a user the load and the user succeed and the keychain step fails;
    # without one the stored current user cannot be looked up.
    for name in ("MORVIK_KEYCHAIN_DIR", "XDG_DATA_HOME", "HOME"):
        monkeypatch.delenv(name, raising=False)
    raises(
        morvik.IdentityError,
        "passphrase identity keychain backend is unavailable: MORVIK_KEYCHAIN_DIR, APPDATA, XDG_DATA_HOME, and HOME "
        "are unset",
        lambda: Vault(team.vault, auth=keychain(user)),
    )


@pytest.mark.parametrize("conflicts, text", [(["x/a"], ONE_CONFLICT), (["x/a", "x/b"], TWO_CONFLICTS)])
def test_a_vault_with_conflicts_is_refused_after_unlocking(build_workspace, conflicts, text):
    workspace = build_workspace(team(conflicts=conflicts, invites=[{"seed": ALICE, "version": 2, "baseline": False}]))
    raises(morvik.ConflictError, text, lambda: Vault(workspace.vault, auth=keychain("alice")))
    raises(morvik.ConflictError, text, lambda: Vault(workspace.vault, auth=Auth.from_invite(binary(workspace.invites[0]))))
    # The identity had been unlocked: a wrong passphrase is found out first.
    raises(
        morvik.IdentityError,
        "identity keychain unlock failed",
        lambda: Vault(workspace.vault, auth=Auth.from_keychain("alice", passphrase="wrong")),
    )


# --- the invitation road -------------------------------------------------------------


@pytest.fixture
def invited(build_workspace):
    """The team workspace with invitations for bob: V2 without baseline, V1
    with an empty baseline, V2 and V1 with the full baseline; and one for a
    stranger."""
    return build_workspace(
        team(
            invites=[
                {"seed": BOB, "version": 2, "baseline": False},
                {"seed": BOB, "version": 1, "baseline": False},
                {"seed": BOB, "version": 2},
                {"seed": BOB, "version": 1},
                {"seed": STRANGER, "version": 2, "baseline": False},
            ]
        )
    )


def material_forms(invite):
    """Every form in which Auth.from_invite takes one invitation."""
    text, data = invite["text"], binary(invite)
    return [text, text.upper().lower(), invite["text_bech32"], f" {text}\n", data, bytearray(data), list(data)]


@pytest.mark.parametrize("index", [0, 1])
def test_an_invitation_in_every_form_opens_for_its_user(invited, tmp_path, index):
    invite = invited.invites[index]
    for material in material_forms(invite):
        assert opened_as(Vault(invited.vault, auth=Auth.from_invite(material))) == BOB
    (tmp_path / "invite.txt").write_text(invite["text"])
    with open(tmp_path / "invite.txt", encoding="utf-8") as text_file, open(invite["file"], "rb") as binary_file:
        for readable in (text_file, binary_file):
            assert opened_as(Vault(invited.vault, auth=Auth.from_invite(readable))) == BOB


def test_invitation_bytes_stay_the_callers(invited):
    """An Auth object holds a bytes object rather than a copy of it: the
    caller's object is left as it was when the Auth object goes, and one the
    caller dropped keeps serving every open."""
    data = binary(invited.invites[0])
    auth = Auth.from_invite(data)
    assert opened_as(Vault(invited.vault, auth=auth)) == BOB
    del auth
    assert data == binary(invited.invites[0])
    auth = Auth.from_invite(binary(invited.invites[0]))
    for _ in range(2):
        assert opened_as(Vault(invited.vault, auth=auth)) == BOB


def test_on_a_fresh_machine_the_baseline_seeds_the_ratchet(invited, tmp_path, monkeypatch):
    state = tmp_path / "fresh-state"
    ratchet = state / invited.root.hex() / "ratchet.cord"
    monkeypatch.setenv("MORVIK_STATE_DIR", str(state))
    raises(
        morvik.MorvikError,
        "a rollback-protected invitation is required to establish trust non-interactively",
        lambda: Vault(invited.vault, auth=Auth.from_invite(binary(invited.invites[0]))),
    )
    assert not ratchet.exists()
    for index in (2, 3):
        assert opened_as(Vault(invited.vault, auth=Auth.from_invite(binary(invited.invites[index])))) == BOB
        assert ratchet.exists()
        ratchet.unlink()
    # An empty baseline establishes the root with nothing remembered.
    assert opened_as(Vault(invited.vault, auth=Auth.from_invite(binary(invited.invites[1])))) == BOB


def test_invitation_refusals(invited):
    invite = invited.invites[0]
    payload = bytes.fromhex(invite["payload"])
    text = invite["text"]
    flipped = text[:-1] + ("q" if text[-1] != "q" else "p")
    cases = [
        (morvik.MorvikError, MALFORMED, flipped),
        (morvik.MorvikError, MALFORMED, text[:10].upper() + text[10:]),
        (morvik.MorvikError, MALFORMED, text[:20] + " " + text[20:]),
        (morvik.MorvikError, MALFORMED, ""),
        (morvik.MorvikError, MALFORMED, binary(invite)[:13]),
        (morvik.MorvikError, MALFORMED, payload),
        (morvik.MorvikError, 'not the expected Morvik invitation (prefix "bc"; invitations are mrvk1\u2026)',
         encode("bc", payload, True)),
        (morvik.MorvikError, 'not the expected Morvik invitation (prefix "MRVK"; invitations are mrvk1\u2026)',
         text.upper()),
        (morvik.MorvikError,
         f"Cord error: Cord encountered unknown enum variant index {int.from_bytes(b'morv', 'big')}",
         encode("mrvk", binary(invite), True)),
        (morvik.MorvikError, "Cord error: Trailing bytes after deserialization", binary(invite) + b"\0"),
        (morvik.MorvikError, "the invitation is for a different vault root", invite_bytes(b"\3" * 32, b"\7" * 32)),
        (morvik.IdentityError, "crypto error: invalid byte length for identity master seed: expected 32, got 31",
         invite_bytes(b"\3" * 31, invited.root)),
    ]
    for kind, message, material in cases:
        raises(kind, message, lambda: Vault(invited.vault, auth=Auth.from_invite(material)))

    with pytest.raises(morvik.IdentityError, match=r"^identity UserId\(.*\) is not an effective member of this vault$"):
        Vault(invited.vault, auth=Auth.from_invite(invited.invites[4]["text"]))
    raises(
        morvik.MorvikError,
        "store error: vault file is missing at /nonexistent/.morvik/vault.cord",
        lambda: Vault("/nonexistent/.morvik", auth=Auth.from_invite(text)),
    )


# --- the environment road ----------------------------------------------------------


def test_the_environment_road_reads_either_variable_when_the_vault_is_opened(invited, monkeypatch):
    auth = Auth.from_env()
    monkeypatch.setenv("MORVIK_UNSAFE_INVITE", invited.invites[0]["text"])
    assert opened_as(Vault(invited.vault, auth=auth)) == BOB
    monkeypatch.delenv("MORVIK_UNSAFE_INVITE")
    monkeypatch.setenv("MORVIK_UNSAFE_INVITE_FILE", invited.invites[1]["file"])
    assert opened_as(Vault(invited.vault, auth=auth)) == BOB

    named = Auth.from_env(invite="CI_INVITE", invite_file="CI_INVITE_FILE")
    monkeypatch.setenv("CI_INVITE", invited.invites[0]["text"])
    assert opened_as(Vault(invited.vault, auth=named)) == BOB


def test_environment_refusals(invited, tmp_path, monkeypatch):
    neither = "neither MORVIK_UNSAFE_INVITE nor MORVIK_UNSAFE_INVITE_FILE is set"
    vault = lambda auth=Auth.from_env(): Vault(invited.vault, auth=auth)  # noqa: E731
    raises(morvik.IdentityError, neither, vault)

    # A value that is not UTF-8 counts as unset.
    monkeypatch.setitem(os.environb, b"MORVIK_UNSAFE_INVITE", b"\xff")
    raises(morvik.IdentityError, neither, vault)
    monkeypatch.setenv("MORVIK_UNSAFE_INVITE_FILE", invited.invites[1]["file"])
    assert opened_as(vault()) == BOB

    # Both set: refused before anything is read.
    monkeypatch.setenv("MORVIK_UNSAFE_INVITE", "not read")
    monkeypatch.setenv("MORVIK_UNSAFE_INVITE_FILE", str(tmp_path / "missing"))
    raises(morvik.IdentityError, "set only one of MORVIK_UNSAFE_INVITE or MORVIK_UNSAFE_INVITE_FILE", vault)

    monkeypatch.delenv("MORVIK_UNSAFE_INVITE")
    raises(morvik.IdentityError, f"failed to read {tmp_path}/missing: No such file or directory (os error 2)", vault)
    monkeypatch.setenv("MORVIK_UNSAFE_INVITE_FILE", str(tmp_path))
    raises(morvik.IdentityError, f"failed to read {tmp_path}: not a regular file", vault)
    monkeypatch.setenv("MORVIK_UNSAFE_INVITE_FILE", "")
    raises(morvik.IdentityError, "failed to read : No such file or directory (os error 2)", vault)

    # The empty text is an invitation, and a malformed one.
    monkeypatch.delenv("MORVIK_UNSAFE_INVITE_FILE")
    monkeypatch.setenv("MORVIK_UNSAFE_INVITE", "")
    raises(morvik.MorvikError, MALFORMED, vault)

    named = Auth.from_env(invite="CI_INVITE", invite_file="CI_FILE")
    raises(morvik.IdentityError, "neither CI_INVITE nor CI_FILE is set", lambda: vault(named))
    # Names no variable can have name none, not a shorter one.
    odd = Auth.from_env(invite="MORVIK_UNSAFE_INVITE\0X", invite_file="=")
    raises(morvik.IdentityError, "neither MORVIK_UNSAFE_INVITE\0X nor = is set", lambda: vault(odd))


# --- arguments and the object --------------------------------------------------


def test_constructor_arguments(team, monkeypatch):
    with pytest.raises(TypeError, match="'path'"):
        Vault(None)
    with pytest.raises(TypeError, match="'path'"):
        Vault(b".morvik")
    with pytest.raises(TypeError, match="'auth'"):
        Vault(team.vault, auth="alice")
    with pytest.raises(TypeError):
        Vault(team.vault, keychain("alice"))
    # None is the keychain without user or passphrase, as is leaving it out:
    # the stored current user, then the environment's invitation.
    raises(morvik.IdentityError, "no default Morvik identity is configured; pass --user once",
           lambda: Vault(team.vault, auth=None))
    monkeypatch.chdir(team.project)
    raises(morvik.IdentityError, "no default Morvik identity is configured; pass --user once", Vault)


def test_a_path_with_a_zero_character_is_refused_before_any_file_is_touched(team, tmp_path, monkeypatch):
    monkeypatch.setenv("MORVIK_STATE_DIR", str(tmp_path / "state"))
    monkeypatch.chdir(tmp_path)
    (tmp_path / "x").mkdir()
    for auth in (keychain("alice"), Auth.from_invite("mrvk1"), Auth.from_env()):
        with pytest.raises(ValueError, match="zero character"):
            Vault(f"x\0{team.vault}", auth=auth)
    assert sorted(p.name for p in tmp_path.iterdir()) == ["workspace-0", "x"]
    assert list((tmp_path / "x").iterdir()) == []


def test_one_auth_opens_several_vaults(build_workspace):
    first = build_workspace(team())
    second = build_workspace(team())
    auth = keychain("alice")
    for workspace in (first, second, first):
        workspace_vault = Vault(workspace.vault, auth=auth)
        assert workspace_vault.get("app/db") == "s3cret"


def test_the_context_manager_returns_the_vault_and_changes_nothing(open_as):
    vault = open_as("alice")
    for _ in range(2):
        with vault as entered:
            assert entered is vault
            entered.set("app/inside", "1")
    with pytest.raises(KeyError):
        with vault:
            raise KeyError("propagates")
    assert vault.__exit__(None, None, None) is False
    assert vault.__exit__(1, "two", object()) is False
    with pytest.raises(TypeError):
        vault.__exit__(None, None)
    assert vault.get("app/inside") == "1"
