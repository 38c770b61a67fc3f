"""The typing stubs as a type checker sees them: the layout words are literals."""

import importlib.util
import subprocess
import sys
import textwrap

import pytest

pytestmark = pytest.mark.skipif(
    importlib.util.find_spec("mypy") is None, reason="mypy is not installed (pip install mypy)"
)

CALLS = textwrap.dedent("""\
    import plinth
    plinth.textgrid2data("a.TextGrid", True, "auto")
    plinth.textgrids2vectors(["a.TextGrid"], False, "short")
    plinth.data2textgrid([], 0.0, 1.0, "b.TextGrid", "long")
    plinth.textgrid2data("a.TextGrid", True, "lnog")
    plinth.data2textgrid([], 0.0, 1.0, "b.TextGrid", "Long")
    plinth.vectors2textgrid([], [], [], [], [], None, None, "b.TextGrid", "auto")
    reveal_type(plinth.__version__)
    try:
        pass
    except plinth.InternalError as fault:
        reveal_type(fault)
    import pathlib
    plinth.textgrids2table(pathlib.Path(p) for p in ["a.TextGrid"])
    plinth.textgrid2table("a.TextGrid", encoding="latin1")
""")


def test_layout_words_are_checked(tmp_path):
    source = tmp_path / "calls.py"
    source.write_text(CALLS)
    result = subprocess.run(
        [
            sys.executable,
            "-m",
            "mypy",
            "--strict",
            "--no-incremental",
            "--hide-error-context",
            "--no-error-summary",
            str(source),
        ],
        capture_output=True,
        text=True,
        timeout=300,
        cwd=tmp_path,
    )
    # Older mypy releases spell builtin types with their module.
    reports = [
        line.split(":", 1)[1].replace('"builtins.', '"') for line in result.stdout.splitlines()
    ]
    assert reports == [
        '5: error: Argument 3 to "textgrid2data" has incompatible type "Literal[\'lnog\']"; '
        "expected \"Literal['long', 'short', 'auto']\"  [arg-type]",
        '6: error: Argument 5 to "data2textgrid" has incompatible type "Literal[\'Long\']"; '
        "expected \"Literal['long', 'short']\"  [arg-type]",
        '7: error: Argument 9 to "vectors2textgrid" has incompatible type "Literal[\'auto\']"; '
        "expected \"Literal['long', 'short']\"  [arg-type]",
        '8: note: Revealed type is "str"',
        '12: note: Revealed type is "plinth.InternalError"',
        '15: error: Argument "encoding" to "textgrid2table" has incompatible type '
        "\"Literal['latin1']\"; expected \"Literal['utf-8', 'praat', 'latin-1', 'cp1252']\"  "
        "[arg-type]",
    ], result.stdout + result.stderr
