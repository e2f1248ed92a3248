"""The module as imported: its attributes, classes, exceptions and signatures."""

import importlib
import inspect
import pathlib
import sys
import sysconfig

import pytest

import morvik

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
    [("Auth", "()"), ("Selector", "(path, labels=None)"), ("Vault", "(path=..., *, auth=None)")],
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
        (morvik.Auth, "()"),
        (morvik.Selector, "(path, labels=None)"),
        (morvik.Vault, "(path=Ellipsis, *, auth=None)"),
        (morvik.Auth.from_keychain, "(user=None, *, passphrase=None)"),
        (morvik.Auth.from_invite, "(invite)"),
        (morvik.Auth.from_env, "(*, invite=Ellipsis, invite_file=Ellipsis)"),
    ],
)
def test_signatures(target, signature):
    assert str(inspect.signature(target)) == signature


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
