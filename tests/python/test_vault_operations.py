"""The eight operations of Vault on the team workspace: results and their
types and order, the argument forms and the order they are converted in,
and every refusal with its class and text."""

import inspect
import pathlib
import shutil

import pytest

import interrupting
import morvik
import workspaces
from morvik import Selector

VALUE_ERROR = "secret value must be str or bytes"
SELECTOR_ERROR = "expected a selector string or Selector"


@pytest.fixture
def alice(open_as):
    return open_as("alice")


def vault_bytes(workspace):
    return pathlib.Path(workspace.vault_file).read_bytes()


def raises(kind, text, call, *args, **kwargs):
    with pytest.raises(kind) as raised:
        call(*args, **kwargs)
    assert type(raised.value) is kind
    assert raised.value.args == (text,)


@pytest.mark.parametrize(
    "name, signature, doc",
    [
        ("get", "($self, selector, *, as_bytes=False)", ""),
        ("set", "($self, selector, value)", ""),
        ("delete", "($self, selector)", ""),
        (
            "fields",
            "($self, selector, *, as_bytes=False)",
            "The secret's additional key\u2192value fields as a dict. Values come back as `str` (UTF-8) or,\n"
            "with `as_bytes=True`, as `bytes`.",
        ),
        (
            "get_field",
            "($self, selector, key, *, as_bytes=False)",
            "One additional field's value, as `str` (UTF-8) or, with `as_bytes=True`, as `bytes`.",
        ),
        (
            "set_field",
            "($self, selector, key, value)",
            "Insert or replace one additional field, preserving the primary value and other fields.",
        ),
        (
            "delete_field",
            "($self, selector, key)",
            "Remove one additional field, preserving the primary value and other fields.",
        ),
        ("list", "($self, selector=None)", ""),
        ("__enter__", "($self)", ""),
        ("__exit__", "($self, _exc_type, _exc_value, _traceback)", ""),
    ],
)
def test_text_signatures_and_docstrings(name, signature, doc):
    method = getattr(morvik.Vault, name)
    assert method.__text_signature__ == signature
    assert inspect.signature(method)
    assert (method.__doc__ or "") == doc


def test_reads_give_str_or_bytes(alice):
    assert alice.get("app/db") == "s3cret"
    assert alice.get("app/db", as_bytes=True) == b"s3cret"
    assert alice.get(selector="app/db", as_bytes=False) == "s3cret"
    assert alice.fields("app/db") == {"user": "admin"}
    assert alice.fields("app/db", as_bytes=True) == {"user": b"admin"}
    assert alice.fields("app/api") == {}
    assert alice.get_field("app/db", "user") == "admin"
    assert alice.get_field("app/db", key="user", as_bytes=True) == b"admin"


def test_values_that_are_not_utf8(alice):
    alice.set("app/raw", b"\xff\xfe")
    assert alice.get("app/raw", as_bytes=True) == b"\xff\xfe"
    raises(morvik.MorvikError, "secret is not valid UTF-8", alice.get, "app/raw")
    alice.set_field("app/raw", "a", "fine")
    alice.set_field("app/raw", "b", b"\xed\xa0\x80")  # an encoded surrogate is not UTF-8 either
    assert alice.fields("app/raw", as_bytes=True) == {"a": b"fine", "b": b"\xed\xa0\x80"}
    raises(morvik.MorvikError, "field value is not valid UTF-8", alice.fields, "app/raw")
    raises(morvik.MorvikError, "field value is not valid UTF-8", alice.get_field, "app/raw", "b")
    assert alice.get_field("app/raw", "a") == "fine"


def test_set_takes_str_and_byte_sequences(alice, abc_sequence):
    values = [
        ("", b""),
        (b"", b""),
        ("caf\u00e9", "caf\u00e9".encode()),
        (bytearray(b"\x00\x01"), b"\x00\x01"),
        ([0, 255, 7], b"\x00\xff\x07"),
        ((1, 2), b"\x01\x02"),
        (abc_sequence([104, 105]), b"hi"),
        (memoryview(b"view"), b"view"),
    ]
    for given, stored in values:
        alice.set("app/value", given)
        assert alice.get("app/value", as_bytes=True) == stored


@pytest.mark.parametrize(
    "value",
    [
        [0, 256],
        [-1],
        1.5,
        None,
        7,
        {"a": 1},
        "\ud800",
        object(),
        # An ordinary exception while converting says: not a value.
        *interrupting.params(ValueError),
    ],
)
def test_set_refuses_other_values(alice, team, value):
    before = vault_bytes(team)
    raises(morvik.MorvikError, VALUE_ERROR, alice.set, "app/value", value)
    raises(morvik.MorvikError, VALUE_ERROR, alice.set_field, "app/db", "k", value)
    assert vault_bytes(team) == before


@pytest.mark.parametrize("kind", interrupting.INTERRUPTIONS)
@pytest.mark.parametrize("hook", interrupting.HOOKS)
def test_interruptions_while_converting_a_value_propagate(alice, team, hook, kind):
    before = vault_bytes(team)
    for write in (alice.set, lambda selector, value: alice.set_field(selector, "k", value)):
        value, error = interrupting.value(hook, kind)
        with pytest.raises(kind) as raised:
            write("app/db", value)
        assert raised.value is error
    assert vault_bytes(team) == before
    assert alice.get("app/db") == "s3cret"


def test_set_replaces_the_value_and_drops_fields(alice):
    alice.set_field("app/db", "host", "db.internal")
    assert alice.fields("app/db") == {"host": "db.internal", "user": "admin"}
    alice.set("app/db", "rotated")
    assert alice.get("app/db") == "rotated"
    assert alice.fields("app/db") == {}


def test_fields_come_in_byte_order_of_their_names(alice):
    for name in ("ab", "a", "B", "\u00e9", "Z"):
        alice.set_field("app/api", name, name.upper())
    assert list(alice.fields("app/api")) == ["B", "Z", "a", "ab", "\u00e9"]
    assert alice.get("app/api") == "key-1"
    alice.set_field("app/api", "a", "replaced")
    assert alice.get_field("app/api", "a") == "replaced"
    alice.delete_field("app/api", "ab")
    assert list(alice.fields("app/api")) == ["B", "Z", "a", "\u00e9"]
    assert alice.get("app/api") == "key-1"


def test_missing_secrets_and_fields_write_nothing(alice, team):
    before = vault_bytes(team)
    raises(morvik.NotFound, "secret app/nope not found", alice.get, "app/nope")
    raises(morvik.NotFound, "secret app/nope not found", alice.fields, "app/nope")
    raises(morvik.NotFound, "secret app/nope not found", alice.get_field, "app/nope", "k")
    raises(morvik.NotFound, "secret app/nope not found", alice.set_field, "app/nope", "k", "v")
    raises(morvik.NotFound, "secret app/nope not found", alice.delete_field, "app/nope", "k")
    raises(morvik.NotFound, 'secret app/db has no field "x\\"y\\tz"', alice.get_field, "app/db", 'x"y\tz')
    raises(morvik.NotFound, 'secret app/db has no field "caf\u00e9"', alice.delete_field, "app/db", "caf\u00e9")
    assert vault_bytes(team) == before
    assert [str(s) for s in alice.list()] == ["app/api", "app/db"]


def test_delete_then_recreate(alice):
    alice.delete("app/api")
    raises(morvik.NotFound, "secret app/api not found", alice.get, "app/api")
    assert [str(s) for s in alice.list()] == ["app/db"]
    alice.set("app/api", "key-2")
    assert alice.get("app/api") == "key-2"


def test_selector_objects_and_texts_name_the_same_secret(alice):
    alice.set(Selector(["app", "svc"], {"env": "prod", "region": "eu"}), "one")
    assert alice.get("app/svc@region=eu&env=prod") == "one"
    assert alice.get('"app"/svc@env="prod"&region=eu') == "one"
    raises(morvik.NotFound, "secret app/svc@env=prod not found", alice.get, Selector(["app", "svc"], {"env": "prod"}))
    raises(morvik.NotFound, 'secret "a/b"/c@k=v not found', alice.get, '"a/b"/c@"k"=v')


def test_selector_refusals(alice):
    for selector in (5, None, b"app/db", ["app", "db"], "\udcff"):
        raises(morvik.MorvikError, SELECTOR_ERROR, alice.get, selector)
    raises(morvik.MorvikError, 'invalid selector "app//db": selector path must not contain empty segments',
           alice.get, "app//db")
    raises(morvik.IdentityError, 'invalid selector "identity//x": selector path must not contain empty segments',
           alice.get, "identity//x")
    raises(morvik.MorvikError, 'invalid selector "": selector must not be empty', alice.list, "")


def test_arguments_are_matched_then_converted_in_order(alice):
    with pytest.raises(TypeError):
        alice.get()
    with pytest.raises(TypeError):
        alice.get("app/db", True)
    with pytest.raises(TypeError):
        alice.set("app/db", "v", "extra")
    with pytest.raises(TypeError):
        alice.list(query="app")
    # key, then as_bytes, then the selector, then the value.
    with pytest.raises(TypeError, match="'key'"):
        alice.get_field(5, 6, as_bytes=1)
    with pytest.raises(TypeError, match="'as_bytes'"):
        alice.get_field(5, "k", as_bytes=1)
    with pytest.raises(TypeError, match="'as_bytes'"):
        alice.get("app/db", as_bytes=1)
    with pytest.raises(TypeError, match="'as_bytes'"):
        alice.fields("app/db", as_bytes=None)
    with pytest.raises(TypeError, match="'key'"):
        alice.set_field("app/db", b"k", "v")
    raises(morvik.MorvikError, SELECTOR_ERROR, alice.set, 5, object())
    raises(morvik.MorvikError, SELECTOR_ERROR, alice.set_field, 5, "k", object())


def test_authority_is_enforced(open_as, team):
    bob, carol = open_as("bob"), open_as("carol")
    assert bob.get("app/db") == "s3cret"
    before = vault_bytes(team)
    for call, args in [
        (bob.set, ("app/db", "x")),
        (bob.delete, ("app/db",)),
        (bob.set_field, ("app/db", "k", "v")),
        (bob.delete_field, ("app/db", "user")),
        (carol.get, ("app/db",)),
        (carol.fields, ("app/db",)),
    ]:
        raises(morvik.PermissionDenied, "not authorized for secret app/db", call, *args)
    assert vault_bytes(team) == before
    # Listing does not filter by what the user may read.
    assert [str(s) for s in carol.list()] == ["app/api", "app/db"]


def test_a_secret_sealed_before_a_read_grant_is_not_readable(build_workspace, open_as):
    workspace = build_workspace(workspaces.team(later_grants=[{"seed": 203, "to": 4, "permission": "read", "prefix": ["app"]}]))
    carol = open_as("carol", workspace)
    raises(morvik.PermissionDenied, "not authorized for secret app/db", carol.get, "app/db")
    open_as("alice", workspace).set("app/db", "resealed")
    assert open_as("carol", workspace).get("app/db") == "resealed"


def test_list_queries(open_as, team):
    root = open_as(team.user_id(workspaces.ROOT))
    for selector in ["a", "a/b", "a/b/c", "ab", "a/x@env=prod", "a/y@env=prod&tier=1", "a/z@env=dev", "b@env=prod"]:
        root.set(selector, "v")
    root.delete("a/b/c")
    listed = lambda *query: [str(s) for s in root.list(*query)]  # noqa: E731
    assert listed() == listed(None) == [
        "a", "a/b", "a/x@env=prod", "a/y@env=prod&tier=1", "a/z@env=dev", "ab", "app/api", "app/db", "b@env=prod"
    ]
    assert listed("a") == ["a", "a/b", "a/x@env=prod", "a/y@env=prod&tier=1", "a/z@env=dev"]
    assert listed("a@env=prod") == ["a/x@env=prod", "a/y@env=prod&tier=1"]
    assert listed(Selector(["a"], {"tier": "1", "env": "prod"})) == ["a/y@env=prod&tier=1"]
    assert listed("a/b") == ["a/b"]
    assert listed("nothing") == []
    entry = root.list("a/x")[0]
    assert type(entry) is Selector
    assert (entry.path, entry.labels) == (("a", "x"), {"env": "prod"})


def test_a_write_brings_in_what_another_client_changed(build_workspace, open_as, team):
    """A write reloads the vault another client changed: a conflict that came
    in is reported on the secret until a write resolves it, and a vault that
    no longer validates is refused with ValidationError."""
    alice = open_as("alice")
    conflicted = build_workspace(workspaces.team(conflicts=["app/clash"]), activate=False)
    shutil.copyfile(conflicted.vault_file, team.vault_file)
    alice.set("app/other", "fine")
    raises(morvik.ConflictError, "secret app/clash is conflicted", alice.get, "app/clash")
    raises(morvik.ConflictError, "secret app/clash is conflicted", alice.set_field, "app/clash", "k", "v")
    assert [str(s) for s in alice.list()] == ["app/api", "app/db", "app/other"]
    alice.set("app/clash", "settled")
    assert alice.get("app/clash") == "settled"

    foreign = build_workspace(workspaces.team(foreign_record=True), activate=False)
    shutil.copyfile(foreign.vault_file, team.vault_file)
    with pytest.raises(morvik.ValidationError) as raised:
        alice.set("app/other", "again")
    assert str(raised.value).startswith("validation failed: [UnknownSignerKey(")


def test_a_field_write_keeps_what_another_session_stored(open_as, team):
    alice = open_as("alice")
    alice.set("app/shared", "from alice")
    root = open_as(team.user_id(workspaces.ROOT))
    root.set_field("app/shared", "note", "from root")
    assert alice.fields("app/shared") == {}  # alice's session has not reloaded
    # The field is changed in the value as the write finds it in the file.
    alice.set_field("app/shared", "mine", "1")
    assert open_as("alice").fields("app/shared") == {"mine": "1", "note": "from root"}
