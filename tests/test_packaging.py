"""What the sdist and the wheel hold, and what the built module exports.

The test scripts hand over the sdist and the wheel they built (PLINTH_SDIST,
PLINTH_WHEEL); without them the test builds both from the checkout, which needs
the `build` and `scikit-build-core` packages.
"""

import email.parser
import importlib.util
import os
import pathlib
import shutil
import subprocess
import sys
import tarfile
import zipfile

import pytest

import plinth

ROOT = pathlib.Path(__file__).resolve().parent.parent
SDIST_TOP = {
    "CMakeLists.txt",
    "LICENSE",
    "PKG-INFO",
    "README.md",
    "pyproject.toml",
    "examples",
    "src",
    "stubs",
    "tests",
    "textgrid",
}


def _build(kind: str, tmp_path_factory) -> pathlib.Path:
    given = os.environ.get(f"PLINTH_{kind.upper()}")
    if given:
        return pathlib.Path(given)
    if not (ROOT / "pyproject.toml").exists():
        pytest.skip("not run from a source tree")
    missing = [
        name for name in ("build", "scikit_build_core") if importlib.util.find_spec(name) is None
    ]
    if missing:
        pytest.skip(
            f"building the {kind} needs {' and '.join(missing)} (pip install build scikit-build-core)"
        )
    out = tmp_path_factory.mktemp(kind)
    subprocess.run(
        [sys.executable, "-m", "build", f"--{kind}", "--no-isolation", "-o", str(out), str(ROOT)],
        check=True,
        capture_output=True,
        timeout=1200,
    )
    (built,) = out.iterdir()
    return built


@pytest.fixture(scope="module")
def sdist_names(tmp_path_factory):
    with tarfile.open(_build("sdist", tmp_path_factory)) as archive:
        names = archive.getnames()
    prefix = f"plinth_textgrid-{plinth.__version__}/"
    assert all(name.startswith(prefix) or name + "/" == prefix for name in names)
    return {name[len(prefix) :] for name in names if name.startswith(prefix)}


@pytest.fixture(scope="module")
def wheel_path(tmp_path_factory):
    return _build("wheel", tmp_path_factory)


def test_sdist_holds_the_sources_and_tests_only(sdist_names):
    assert {name.split("/")[0] for name in sdist_names} == SDIST_TOP
    for folder in ("src", "textgrid/src", "stubs", "examples", "tests/data"):
        for path in (ROOT / folder).rglob("*"):
            if path.is_file() and "__pycache__" not in path.parts:
                assert str(path.relative_to(ROOT)) in sdist_names
    assert not [
        name
        for name in sdist_names
        if name.endswith((".whl", ".so", ".png", ".pyc")) or "__pycache__" in name
    ]


def test_wheel_holds_the_module_stubs_and_license(wheel_path):
    version = plinth.__version__
    info = f"plinth_textgrid-{version}.dist-info"
    with zipfile.ZipFile(wheel_path) as archive:
        names = set(archive.namelist())
        metadata = email.parser.Parser().parsestr(archive.read(f"{info}/METADATA").decode())
        modules = [name for name in names if name.startswith("plinth.") and name.endswith(".so")]
        assert len(modules) == 1
        assert names == {
            modules[0],
            "plinth-stubs/__init__.pyi",
            f"{info}/METADATA",
            f"{info}/WHEEL",
            f"{info}/RECORD",
            f"{info}/licenses/LICENSE",
        }
        assert archive.read(f"{info}/licenses/LICENSE") == (ROOT / "LICENSE").read_bytes()
    assert (metadata["Name"], metadata["Version"]) == ("plinth-textgrid", version)
    needs = [line for line in metadata.get_all("Requires-Dist") if "extra ==" not in line]
    assert needs == ["numpy>=1.21"]
    assert metadata["Description-Content-Type"] == "text/markdown"
    assert "License :: OSI Approved :: MIT License" in metadata.get_all("Classifier")


@pytest.mark.skipif(shutil.which("nm") is None, reason="nm (binutils) is not installed")
def test_module_exports_its_entry_point_only(wheel_path, tmp_path):
    with zipfile.ZipFile(wheel_path) as archive:
        (module,) = [name for name in archive.namelist() if name.endswith(".so")]
        archive.extract(module, tmp_path)
    listing = subprocess.run(
        ["nm", "-D", "--defined-only", str(tmp_path / module)],
        check=True,
        capture_output=True,
        text=True,
    ).stdout
    assert [line.split()[-1] for line in listing.splitlines()] == ["PyInit_plinth"]


@pytest.mark.skipif(
    "libasan" in os.environ.get("LD_PRELOAD", ""),
    reason="a sanitized module loads only with AddressSanitizer preloaded, which a fresh venv lacks",
)
def test_wheel_installs_and_reads_in_a_fresh_venv_without_a_compiler(wheel_path, tmp_path):
    """The wheel as a user without a compiler gets it: pip installs it into a new
    venv (this interpreter's pip, told which venv) with an empty PATH, and the
    module imports from there and reads a sample as the module under test does."""
    if importlib.util.find_spec("pip") is None:
        pytest.skip("pip is not installed here")
    venv = tmp_path / "venv"
    subprocess.run([sys.executable, "-m", "venv", "--without-pip", str(venv)], check=True)
    empty = tmp_path / "bin"
    empty.mkdir()
    env = {"PATH": str(empty), "HOME": str(tmp_path), "PIP_NO_INDEX": "1"}
    assert not [
        name for name in ("cc", "c++", "gcc", "g++") if shutil.which(name, path=env["PATH"])
    ]
    subprocess.run(
        [
            sys.executable,
            "-m",
            "pip",
            "--python",
            str(venv / "bin" / "python"),
            "install",
            "-q",
            "--no-deps",
            "--disable-pip-version-check",
            str(wheel_path),
        ],
        check=True,
        env=env,
        cwd=tmp_path,
    )
    sample = str(ROOT / "tests" / "data" / "praat_utf8_long.TextGrid")
    script = (
        "import importlib.metadata, plinth, sys\n"
        "print(plinth.__file__)\n"
        "print(importlib.metadata.version('plinth-textgrid'))\n"
        f"print(plinth.textgrid2data({sample!r}, True, 'auto'))\n"
        "print('numpy' in sys.modules)\n"
    )
    run = subprocess.run(
        [str(venv / "bin" / "python"), "-I", "-c", script],
        check=True,
        capture_output=True,
        text=True,
        env=env,
        cwd=tmp_path,
    )
    where, version, data, numpy_loaded = run.stdout.splitlines()
    assert pathlib.Path(where).is_relative_to(venv)
    assert version == plinth.__version__
    assert data == str(plinth.textgrid2data(sample, True, "auto"))
    assert numpy_loaded == "False"  # the structured functions run without NumPy
