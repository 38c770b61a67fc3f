"""The README's Python examples run as written, from the checkout's root.

Their files under /tmp go to the test's own folder instead; an example whose
consumer (pandas, polars, DuckDB, pyarrow) is missing is skipped.
"""

import ast
import pathlib
import re

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent
README = ROOT / "README.md"
EXAMPLES = re.findall(r"```python\n(.*?)```", README.read_text(encoding="utf-8"), re.S)


def test_readme_has_an_example_of_every_function():
    import plinth

    functions = {name for name in dir(plinth) if callable(getattr(plinth, name))}
    functions -= {"InternalError", "Table"}
    shown = set(re.findall(r"plinth\.(\w+)\(", "".join(EXAMPLES)))
    assert functions <= shown, functions - shown


@pytest.mark.parametrize("code", EXAMPLES, ids=[f"example{i}" for i in range(len(EXAMPLES))])
def test_readme_example_runs(code, tmp_path, monkeypatch):
    for node in ast.walk(ast.parse(code)):
        if isinstance(node, ast.Import):
            for alias in node.names:
                pytest.importorskip(alias.name)
    monkeypatch.chdir(ROOT)
    exec(compile(code.replace('"/tmp/', f'"{tmp_path}/'), "README.md", "exec"), {})
