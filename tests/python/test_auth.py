"""Auth: its three makers, the conversion of invitation material, its repr."""

import collections.abc
import io

import pytest

import interrupting
import morvik
from morvik import Auth

NOT_MATERIAL = "expected a string or file-like object"


class Reader:
    """An object whose read() returns a given value, or raises a given exception."""

    def __init__(self, result):
        self.result = result
        self.calls = 0

    def read(self):
        self.calls += 1
        if isinstance(self.result, BaseException):
            raise self.result
        return self.result


class SelfReader:
    def read(self):
        return self


class Raising(collections.abc.Sequence):
    """A sequence whose access raises a given exception."""

    def __init__(self, error):
        self.error = error

    def __getitem__(self, index):
        raise self.error

    def __len__(self):
        return 1


def nested(depth, inner):
    value = inner
    for _ in range(depth):
        value = Reader(value)
    return value


def test_makers_record_without_touching_anything():
    cases = [
        (Auth.from_keychain, (), {}, "Auth.from_keychain(...)"),
        (Auth.from_keychain, ("alice",), {}, "Auth.from_keychain(...)"),
        (Auth.from_keychain, (), {"user": "alice"}, "Auth.from_keychain(...)"),
        (Auth.from_keychain, (), {"passphrase": "pw"}, "Auth.from_keychain(...)"),
        (Auth.from_keychain, (), {"user": "", "passphrase": ""}, "Auth.from_keychain(...)"),
        (Auth.from_keychain, (None,), {"passphrase": None}, "Auth.from_keychain(...)"),
        (Auth.from_invite, ("mrvk1notachecksum",), {}, "Auth.from_invite(...)"),
        (Auth.from_invite, (), {"invite": b"\x00"}, "Auth.from_invite(...)"),
        (Auth.from_env, (), {}, "Auth.from_env(...)"),
        (Auth.from_env, (), {"invite": "A", "invite_file": "B"}, "Auth.from_env(...)"),
        (Auth.from_env, (), {"invite": "", "invite_file": ""}, "Auth.from_env(...)"),
    ]
    for maker, args, kwargs, shown in cases:
        auth = maker(*args, **kwargs)
        assert type(auth) is Auth
        assert repr(auth) == shown


def test_repr_shows_nothing_it_was_given():
    for auth in [
        Auth.from_keychain("alice-user", passphrase="hunter2-secret"),
        Auth.from_invite("mrvk1invitation-secret"),
        Auth.from_invite(b"binary-secret"),
        Auth.from_env(invite="VAR_SECRET", invite_file="FILE_SECRET"),
    ]:
        assert "secret" not in repr(auth) and "alice" not in repr(auth)
        assert "secret" not in str(auth)


def test_makers_are_class_methods_also_on_an_instance():
    assert type(Auth.from_keychain().from_env()) is Auth


@pytest.mark.parametrize(
    "call, argument",
    [
        (lambda: Auth.from_keychain(1), "user"),
        (lambda: Auth.from_keychain(user=b"alice"), "user"),
        (lambda: Auth.from_keychain(passphrase=1), "passphrase"),
        (lambda: Auth.from_keychain(passphrase=b"pw"), "passphrase"),
        (lambda: Auth.from_env(invite=None), "invite"),
        (lambda: Auth.from_env(invite_file=None), "invite_file"),
        (lambda: Auth.from_env(invite=b"X"), "invite"),
    ],
)
def test_argument_types_are_checked_by_name(call, argument):
    with pytest.raises(TypeError, match=f"argument '{argument}'"):
        call()


@pytest.mark.parametrize(
    "call",
    [
        lambda: Auth.from_keychain("alice", "pw"),
        lambda: Auth.from_keychain(other=1),
        lambda: Auth.from_invite(),
        lambda: Auth.from_invite("a", "b"),
        lambda: Auth.from_env("A"),
        lambda: Auth.from_env(other="A"),
    ],
)
def test_argument_matching(call):
    with pytest.raises(TypeError):
        call()


def test_the_class_cannot_be_called():
    with pytest.raises(TypeError) as raised:
        Auth()
    assert str(raised.value) == "cannot create 'Auth' instances"
    with pytest.raises(TypeError, match="cannot create 'Auth' instances"):
        Auth.__new__(Auth)


def accepted_material(tmp_path, abc_sequence):
    text_file = tmp_path / "invite.txt"
    text_file.write_text("mrvk1fromafile")
    binary_file = tmp_path / "invite.bin"
    binary_file.write_bytes(b"morvik-invite\x00\x01")
    return [
        "mrvk1text",
        "",
        "\u00e9",
        b"morvik-invite\x00",
        b"",
        bytearray(b"\x00\xff"),
        [0, 1, 255],
        (7,),
        [],
        [True, False],
        memoryview(b"view"),
        abc_sequence([1, 2, 3]),
        io.StringIO("mrvk1"),
        io.BytesIO(b"\x00"),
        text_file.open("r"),
        binary_file.open("rb"),
        Reader(Reader("nested")),
        nested(16, "at the bound"),
        nested(16, b"at the bound"),
    ]


def test_material_forms_that_are_accepted(tmp_path, abc_sequence):
    for value in accepted_material(tmp_path, abc_sequence):
        assert repr(Auth.from_invite(value)) == "Auth.from_invite(...)", value


def test_a_file_is_read_once_to_its_end_and_left_open(tmp_path):
    path = tmp_path / "invite.bin"
    path.write_bytes(b"0123456789")
    with path.open("rb") as f:
        f.read(4)
        Auth.from_invite(f)
        assert not f.closed
        assert f.read() == b""
    reader = Reader(b"x")
    Auth.from_invite(reader)
    assert reader.calls == 1


@pytest.mark.parametrize(
    "value",
    [
        5,
        None,
        1.5,
        object(),
        {"a": 1},
        {1, 2},
        [256],
        [-1],
        [1.0],
        ["a"],
        [b"a"],
        [None],
        # A length the sequence only claims: nothing is set aside for it.
        range(256, 10**13),
        "\ud800",
        Reader(ValueError("boom")),
        Reader(OSError("closed")),
        Reader(5),
        Reader("\udc00"),
        Reader(None),
        SelfReader(),
        nested(17, "beyond the bound"),
        Raising(IndexError()),
        Raising(ValueError()),
        *interrupting.params(ValueError),
    ],
    ids=repr,
)
def test_material_forms_that_are_refused(value):
    with pytest.raises(morvik.MorvikError) as raised:
        Auth.from_invite(value)
    assert type(raised.value) is morvik.MorvikError
    assert raised.value.args == (NOT_MATERIAL,)


def test_a_closed_file_is_refused(tmp_path):
    path = tmp_path / "invite.bin"
    path.write_bytes(b"x")
    f = path.open("rb")
    f.close()
    with pytest.raises(morvik.MorvikError, match=NOT_MATERIAL):
        Auth.from_invite(f)


@pytest.mark.parametrize(
    "value, propagated",
    [
        (Reader(KeyboardInterrupt()), KeyboardInterrupt),
        (Reader(SystemExit(3)), SystemExit),
        (Reader(MemoryError()), MemoryError),
        (Reader(Reader(KeyboardInterrupt())), KeyboardInterrupt),
        (Raising(KeyboardInterrupt()), KeyboardInterrupt),
        (Raising(MemoryError()), MemoryError),
        *(param for kind in interrupting.INTERRUPTIONS for param in interrupting.params(kind, None, kind)),
        *(param for kind in interrupting.INTERRUPTIONS for param in interrupting.params(kind, Reader, kind)),
    ],
    ids=repr,
)
def test_interruptions_while_converting_propagate(value, propagated):
    with pytest.raises(propagated) as raised:
        Auth.from_invite(value)
    assert type(raised.value) is propagated
