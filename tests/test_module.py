"""The module object: its functions, their docstrings and signatures, one interpreter."""

import importlib
import inspect
import subprocess
import sys
import textwrap
import types

import pytest

import plinth

ORDER = [
    "textgrid2vectors",
    "textgrids2vectors",
    "textgrid2data",
    "textgrids2data",
    "data2textgrid",
    "vectors2textgrid",
]
# Added after the six, then the type they return.
TABLE_FUNCTIONS = ["textgrid2table", "textgrids2table", "table2textgrids"]
FUNCTIONS = ORDER + TABLE_FUNCTIONS

SIGNATURES = {
    "textgrid2vectors": "(file, strict, file_type)",
    "textgrids2vectors": "(files, strict, file_type)",
    "textgrid2data": "(file, strict, file_type)",
    "textgrids2data": "(files, strict, file_type)",
    "data2textgrid": "(data, tmin, tmax, output_file, file_type)",
    "vectors2textgrid": "(tmins, tmaxs, labels, tier_names, is_intervals, tmin, tmax, "
    "output_file, file_type)",
    "textgrid2table": "(file, strict=False, file_type='auto', *, encoding='utf-8')",
    "textgrids2table": "(files, strict=False, file_type='auto', *, encoding='utf-8')",
    "table2textgrids": "(items, paths, file_type='long', *, tiers=None, files=None, "
    "fill_gaps=True)",
}


def test_module_docstring():
    lines = plinth.__doc__.splitlines()
    assert lines[0] == "Python module for TextGrid file manipulation."
    assert lines[1] == ""
    body = " ".join(lines[2:])
    assert "long and the short" in body and "batch" in body


def test_registration_order_and_public_names():
    names = [name for name in vars(plinth) if not name.startswith("__") or name == "__version__"]
    assert names == FUNCTIONS + ["InternalError", "__version__", "Table"]
    assert set(FUNCTIONS) <= set(dir(plinth))


@pytest.mark.parametrize("name", FUNCTIONS)
def test_functions_are_builtins_of_the_module(name):
    function = getattr(plinth, name)
    assert isinstance(function, types.BuiltinFunctionType)
    assert function.__module__ == "plinth"
    assert function.__self__ is plinth
    assert function.__name__ == name


@pytest.mark.parametrize("name", FUNCTIONS)
def test_signature_and_docstring(name):
    function = getattr(plinth, name)
    assert function.__text_signature__ == SIGNATURES[name]
    assert str(inspect.signature(function)) == SIGNATURES[name]
    for parameter in inspect.signature(function).parameters.values():
        if name in ORDER:  # the table functions' kinds and defaults are in SIGNATURES
            assert parameter.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD
            assert parameter.default is inspect.Parameter.empty
    doc = function.__doc__
    assert doc and not doc.startswith(name)  # the signature went to __text_signature__
    headings = [line for line in doc.splitlines() if line.startswith("#")]
    assert headings[:1] == ["## Arguments"]
    assert {"## Returns", "## Errors"} <= set(headings)
    if name in ("data2textgrid", "vectors2textgrid"):
        assert "## Conversion of Python values" in headings
    if name == "vectors2textgrid":
        assert headings[-1] == "## Notes"
    for parameter in inspect.signature(function).parameters:
        assert f"`{parameter}`" in doc


def test_reimport_returns_same_module_object():
    first = sys.modules.pop("plinth")
    try:
        again = importlib.import_module("plinth")
        assert again is first
        assert again.textgrid2data is first.textgrid2data
    finally:
        sys.modules["plinth"] = first


def _run(code: str) -> subprocess.CompletedProcess:
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=120
    )


def test_subinterpreter_import_refused(tmp_path):
    testcapi = pytest.importorskip("_testcapi")
    if not hasattr(testcapi, "run_in_subinterp"):
        pytest.skip("this CPython cannot run code in a sub-interpreter")
    report = tmp_path / "report.txt"
    sub_code = textwrap.dedent(f"""
        try:
            import plinth
            outcome = 'imported'
        except ImportError as error:
            outcome = 'ImportError: ' + str(error)
        with open({str(report)!r}, 'w') as out:
            out.write(outcome)
    """)
    result = _run(f"""
        import plinth, _testcapi
        _testcapi.run_in_subinterp({sub_code!r})
        print(plinth.textgrids2data([], True, 'auto'))
    """)
    assert result.stdout.strip() == "[]", result.stderr
    outcome = report.read_text()
    assert outcome.startswith("ImportError: ")
    assert "sub-interpreters" in outcome


def test_internal_fault_type_is_the_module_attribute():
    fault = plinth.InternalError
    assert fault.__bases__ == (BaseException,)
    assert (fault.__module__, fault.__name__) == ("plinth", "InternalError")
    assert fault.__doc__.startswith("A fatal internal fault of plinth")
    others = [v for v in vars(plinth).values() if isinstance(v, type) and v is not fault]
    assert others == [plinth.Table]


def test_version_is_the_installed_distribution_version():
    from importlib.metadata import version

    assert isinstance(plinth.__version__, str)
    assert plinth.__version__ == version("plinth-textgrid")
