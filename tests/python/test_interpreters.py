"""The module lives in the one interpreter that imported it first."""

import sys

import pytest

import morvik

interpreters = pytest.importorskip("_xxsubinterpreters")


def test_another_interpreter_is_refused_and_the_first_keeps_working():
    interpreter = interpreters.create()
    try:
        code = f"import sys; sys.path[:] = {sys.path!r}; import morvik"
        with pytest.raises(interpreters.RunFailedError) as raised:
            interpreters.run_string(interpreter, code)
        assert "ImportError" in str(raised.value)
        # Newer interpreters give each subinterpreter its own lock by default
        # and refuse the import themselves, before the module is asked.
        assert "only one interpreter" in str(raised.value) or "subinterpreters" in str(raised.value)
    finally:
        interpreters.destroy(interpreter)

    assert str(morvik.Selector(["a"], {"k": "v"})) == "a@k=v"
    with pytest.raises(morvik.MorvikError):
        morvik.Auth.from_invite(5)
