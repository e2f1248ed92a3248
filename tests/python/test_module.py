"""The module as imported: its attributes, classes, exceptions and signatures."""

import importlib
import inspect
import pathlib
import sys
import sysconfig

import pytest

import morvik
from concurrency import OPEN_ALICE, run_python

CLASSES = ["Auth", "Selector", "Vault"]
EXCEPTIONS = ["MorvikError", "NotFound", "PermissionDenied", "ConflictError", "ValidationError", "IdentityError"]


def test_is_the_installed_module():
    installed = pathlib.Path(sysconfig.get_paths()["platlib"])
    assert pathlib.Path(morvik.__file__).parent == installed


def test_has_exactly_its_nine_attributes_in_order():
    own = [name for name in vars(morvik) if not (name.startswith("__") and name.endswith("__"))]
    assert own == CLASSES + EXCEPTIONS
    assert morvik.__doc__ == ""


@pytest.mark.parametrize(
    "name, text_signature",
    [("Auth", None), ("Selector", "(path, labels=None)"), ("Vault", "(path=..., *, auth=None)")],
)
def test_classes(name, text_signature):
    cls = getattr(morvik, name)
    assert cls.__module__ == "morvik"
    assert cls.__name__ == cls.__qualname__ == name
    assert cls.__bases__ == (object,)
    assert cls.__doc__ == ""
    assert cls.__text_signature__ == text_signature
    with pytest.raises(TypeError, match="not an acceptable base type"):
        type("Sub", (cls,), {})


@pytest.mark.parametrize("name", EXCEPTIONS)
def test_exceptions(name):
    cls = getattr(morvik, name)
    assert cls.__module__ == "morvik"
    assert cls.__name__ == name
    assert cls.__doc__ is None
    base = Exception if name == "MorvikError" else morvik.MorvikError
    assert cls.__bases__ == (base,)
    error = cls("message")
    assert error.args == ("message",)
    assert isinstance(error, morvik.MorvikError)


@pytest.mark.parametrize(
    "target, signature",
    [
        (morvik.Selector, "(path, labels=None)"),
        (morvik.Vault, "(path=Ellipsis, *, auth=None)"),
        (morvik.Auth.from_keychain, "(user=None, *, passphrase=None)"),
        (morvik.Auth.from_invite, "(invite)"),
        (morvik.Auth.from_env, "(*, invite=Ellipsis, invite_file=Ellipsis)"),
    ],
)
def test_signatures(target, signature):
    assert str(inspect.signature(target)) == signature


def test_auth_publishes_no_signature_since_it_cannot_be_called():
    with pytest.raises(ValueError, match="no signature found"):
        inspect.signature(morvik.Auth)
    assert morvik.Auth.__doc__ == ""
    # The makers' docstrings are their text signatures alone.
    for maker in ("from_keychain", "from_invite", "from_env"):
        assert getattr(morvik.Auth, maker).__doc__ is None


# A member of each class that a caller could try to replace.
MEMBERS = {"Auth": "from_keychain", "Selector": "path", "Vault": "list"}


@pytest.mark.parametrize("name", CLASSES)
@pytest.mark.parametrize("attribute", ["__new__", "__init__", "member", "__added__"])
def test_classes_are_immutable(name, attribute):
    cls = getattr(morvik, name)
    attribute = MEMBERS[name] if attribute == "member" else attribute
    before = cls.__dict__.get(attribute)
    with pytest.raises(TypeError, match="immutable type"):
        setattr(cls, attribute, lambda *args, **kwargs: None)
    with pytest.raises(TypeError, match="immutable type"):
        delattr(cls, attribute)
    assert cls.__dict__.get(attribute) is before


def test_replacing_new_cannot_make_a_vault_that_was_never_opened():
    """Once a way to a segmentation fault from plain Python."""
    done = run_python(
        "import morvik\n"
        "morvik.Vault.__new__ = lambda cls, *a, **k: object.__new__(cls)\n"
        "v = morvik.Vault(); v.list()\n"
    )
    assert done.returncode == 1, done.stderr
    assert done.stderr.splitlines()[-1] == (
        "TypeError: cannot set '__new__' attribute of immutable type 'morvik.Vault'"
    )


# Every other road to an instance that its class's constructor did not build.
ROADS = {
    "object.__new__": "object.__new__(morvik.{cls})",
    "another class's __new__": "morvik.Selector.__new__(morvik.{cls}, ['a'])"
    " if '{cls}' != 'Selector' else morvik.Auth.__new__(morvik.Selector)",
    "__class__ assignment": "Slotted().__class__ = morvik.{cls}",
    "a method on another type": "morvik.Vault.list(morvik.Selector(['a']))",
    "copy.copy": "copy.copy(instances['{cls}'])",
    "copy.deepcopy": "copy.deepcopy(instances['{cls}'])",
    **{
        f"pickle protocol {protocol}": f"pickle.loads(pickle.dumps(instances['{{cls}}'], {protocol}))"
        for protocol in range(6)
    },
}

ROADS_SCRIPT = (
    OPEN_ALICE
    + """
import copy, pickle
class Slotted:
    __slots__ = ()
instances = {"Auth": morvik.Auth.from_keychain(), "Selector": morvik.Selector(["a"]), "Vault": vault}
for road in sys.argv[2:]:
    try:
        exec(road)
    except TypeError:
        print("TypeError")
    else:
        print("made")
"""
)


def test_no_other_road_reaches_an_instance_never_built(team):
    roads = [road.format(cls=cls) for road in ROADS.values() for cls in CLASSES]
    done = run_python(ROADS_SCRIPT, team.vault, *roads)
    assert done.returncode == 0, done.stderr
    assert dict(zip(roads, done.stdout.splitlines())) == dict.fromkeys(roads, "TypeError")


def test_a_new_module_object_keeps_the_same_classes():
    try:
        del sys.modules["morvik"]
        again = importlib.import_module("morvik")
        assert again is not morvik
        for name in CLASSES + EXCEPTIONS:
            assert getattr(again, name) is getattr(morvik, name)
        with pytest.raises(morvik.MorvikError):
            again.Selector([])
    finally:
        sys.modules["morvik"] = morvik
