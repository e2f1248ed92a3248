"""Selector: construction, properties, canonical text and representation."""

import pytest

import interrupting
import morvik
from morvik import Selector

COMPOSED_E = "\u00e9"
DECOMPOSED_E = "e\u0301"


@pytest.mark.parametrize(
    "path, labels, expected_path, expected_labels, text",
    [
        (["app", "db"], None, ("app", "db"), {}, "app/db"),
        (("app",), None, ("app",), {}, "app"),
        (["app", "db"], {"region": "eu", "env": "prod"}, ("app", "db"), {"env": "prod", "region": "eu"},
         "app/db@env=prod&region=eu"),
        (["a/b"], None, ("a/b",), {}, '"a/b"'),
        (["a b"], None, ("a b",), {}, "a b"),
        (["a!b"], None, ("a!b",), {}, '"a!b"'),
        (['a"b'], None, ('a"b',), {}, '"a\\"b"'),
        (["a\\b"], None, ("a\\b",), {}, '"a\\\\b"'),
        (["@", "&", "="], {"k": "v=w"}, ("@", "&", "="), {"k": "v=w"}, '"@"/"&"/"="@k="v=w"'),
        (["a"], {"b": "1", "B": "2", "a": "3", "ab": "4"}, ("a",), {"B": "2", "a": "3", "ab": "4", "b": "1"},
         "a@B=2&a=3&ab=4&b=1"),
        # Everything is kept in NFC, the form the vault stores.
        ([DECOMPOSED_E], {DECOMPOSED_E: DECOMPOSED_E}, (COMPOSED_E,), {COMPOSED_E: COMPOSED_E},
         f"{COMPOSED_E}@{COMPOSED_E}={COMPOSED_E}"),
        # In code-point order "e" with a combining accent comes before "f", in NFC after it.
        (["a"], {DECOMPOSED_E: "1", "f": "2"}, ("a",), {"f": "2", COMPOSED_E: "1"}, f"a@f=2&{COMPOSED_E}=1"),
    ],
)
def test_construction(path, labels, expected_path, expected_labels, text):
    selector = Selector(path, labels)
    assert selector.path == expected_path
    assert selector.labels == expected_labels
    assert list(selector.labels) == list(expected_labels)
    assert str(selector) == text
    assert str(Selector(path=path, labels=labels)) == text


@pytest.mark.parametrize(
    "path, labels, message",
    [
        ([], None, "selector path must contain at least one non-empty segment"),
        ([""], None, "selector path must contain at least one non-empty segment"),
        (["a", ""], None, "selector path must contain at least one non-empty segment"),
        ([], {"": ""}, "selector path must contain at least one non-empty segment"),
        (["a"], {"k": ""}, "selector label names and values must be non-empty"),
        (["a"], {"": "v"}, "selector label names and values must be non-empty"),
        (["a"], {DECOMPOSED_E: "1", COMPOSED_E: "2"}, "a label key may appear only once"),
    ],
)
def test_refusals(path, labels, message):
    with pytest.raises(morvik.MorvikError) as raised:
        Selector(path, labels)
    assert type(raised.value) is morvik.MorvikError
    assert raised.value.args == (message,)


@pytest.mark.parametrize(
    "path, labels, argument",
    [
        ("app", None, "path"),
        (None, None, "path"),
        (5, None, "path"),
        (b"ab", None, "path"),
        ({"a": "b"}, None, "path"),
        (["a", 1], None, "path"),
        (["a", b"b"], None, "path"),
        (["a"], ["k"], "labels"),
        (["a"], "k=v", "labels"),
        (["a"], {"k": 1}, "labels"),
        (["a"], {1: "v"}, "labels"),
    ],
)
def test_argument_types(path, labels, argument):
    with pytest.raises(TypeError, match=f"argument '{argument}'"):
        Selector(path, labels)


@pytest.mark.parametrize("kind", interrupting.INTERRUPTIONS)
@pytest.mark.parametrize("hook", ["length", "item", "__class__"])
def test_interruptions_while_converting_the_path_propagate(hook, kind):
    path, error = interrupting.value(hook, kind)
    with pytest.raises(kind) as raised:
        Selector(path)
    assert raised.value is error


def test_any_sequence_of_str_is_a_path(abc_sequence):
    assert Selector(abc_sequence(["a", "b"])).path == ("a", "b")


def test_argument_matching():
    for call in [lambda: Selector(), lambda: Selector(["a"], None, None), lambda: Selector(["a"], other=1)]:
        with pytest.raises(TypeError):
            call()


@pytest.mark.parametrize(
    "selector, shown",
    [
        (Selector(["app", "db"]), 'Selector(["app", "db"])'),
        (Selector(["app", "db"], {"env": "prod"}), 'Selector(["app", "db"], labels={"env": "prod"})'),
        (Selector(["a"], {"z": "1", "b": "2"}), 'Selector(["a"], labels={"b": "2", "z": "1"})'),
        (Selector(['q"b\\s', "tab\t", "nl\n"]), 'Selector(["q\\"b\\\\s", "tab\\t", "nl\\n"])'),
        (Selector(["it's", "\u00fcber"]), 'Selector(["it\'s", "\u00fcber"])'),
        (Selector(["bell\x07"]), 'Selector(["bell\\u{7}"])'),
    ],
)
def test_repr(selector, shown):
    assert repr(selector) == shown


def test_properties_are_new_read_only_copies():
    selector = Selector(["a"], {"k": "v"})
    labels = selector.labels
    labels["x"] = "y"
    assert selector.labels == {"k": "v"}
    assert selector.labels is not selector.labels
    assert selector.path is not selector.path
    with pytest.raises(AttributeError):
        selector.path = ("b",)
    with pytest.raises(AttributeError):
        selector.labels = {}


def test_no_equality_of_its_own():
    first, second = Selector(["a"]), Selector(["a"])
    assert first != second
    assert first == first
    assert hash(first) != hash(second)
