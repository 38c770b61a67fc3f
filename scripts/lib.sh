# Shared helpers of the project's scripts (sourced, not run).

# A section heading of the test output, with the time of day so that a log
# shows where the time goes.
say() {
  echo "== $(date +%T) $*"
}

# Prints the path of a CPython interpreter of version $1 (e.g. 3.13), or
# nothing when the machine has none.
find_python() {
  local want=$1 candidate
  # Real interpreters first: a pyenv shim may exist without a version behind it.
  for candidate in "$(pyenv root 2>/dev/null)/versions/$want"*/bin/python3 \
                   /root/.pyenv/versions/"$want"*/bin/python3 /usr/bin/python"$want" "python$want"; do
    if command -v "$candidate" >/dev/null 2>&1 && "$candidate" -V >/dev/null 2>&1; then
      command -v "$candidate"
      return 0
    fi
  done
  return 0
}

# Creates (or reuses) the venv $1 with interpreter $2 and installs the
# packages that follow.
make_venv() {
  local dir=$1 python=$2
  shift 2
  [ -x "$dir/bin/python" ] || "$python" -m venv "$dir"
  "$dir/bin/python" -m pip install -q --disable-pip-version-check --upgrade pip >/dev/null
  if [ $# -gt 0 ]; then
    "$dir/bin/python" -m pip install -q --disable-pip-version-check "$@"
  fi
}

# Builds the module's wheel for the interpreter of venv $1 into $2 (emptied
# first) and prints the wheel's path; the arguments after $2 go to pip (e.g.
# -C settings). The CMake build folder is per interpreter (build/<wheel tag>,
# see pyproject.toml) and kept, so building again for another venv of the
# same interpreter, or after a small change, redoes only what changed.
build_wheel() {
  local venv=$1 out=$2
  shift 2
  rm -rf "$out"
  mkdir -p "$out"
  "$venv/bin/python" -m pip wheel -q --disable-pip-version-check --no-build-isolation --no-deps \
    -w "$out" "$@" . >&2
  ls "$out"/plinth_textgrid-*.whl
}

# Makes the test venv $1 with interpreter $2 and NumPy $3 and what the tests
# need, builds the module's wheel and the sdist once and installs that wheel.
# Sets $wheel and $sdist (absolute paths) for the caller. Arguments after $3
# go to build_wheel.
prepare_python_suite() {
  local venv=$1 python=$2 numpy_spec=$3
  shift 3
  # The NumPy requirement goes with the test dependencies, so that none of them
  # (pandas 3 wants NumPy 2) moves the venv to another NumPy; pyarrow 26
  # refuses NumPy 1.x on import.
  local keep=("$numpy_spec")
  [[ $numpy_spec == "numpy<2" ]] && keep+=("pyarrow<26")
  make_venv "$venv" "$python" "${keep[@]}" -r requirements-test.txt
  wheel=$(build_wheel "$venv" "build/wheels/${venv#.}" "$@")
  wheel=$PWD/$wheel
  # --no-deps: the venv's NumPy is the one under test, whatever its major.
  "$venv/bin/python" -m pip install -q --disable-pip-version-check --no-deps --force-reinstall "$wheel"
  rm -rf "build/sdist/${venv#.}"
  local log
  if ! log=$("$venv/bin/python" -m build --sdist --no-isolation -o "build/sdist/${venv#.}" . 2>&1); then
    echo "$log" >&2
    return 1
  fi
  sdist=$(ls "$PWD/build/sdist/${venv#.}"/plinth_textgrid-*.tar.gz)
}

# Runs the pytest suite (without the slow cases) from inside tests/, so the
# installed module is the one tested, with the reasons of skipped tests shown.
# $1 is the venv; further arguments go to pytest.
run_pytest() {
  local venv=$1
  shift
  (cd tests && PLINTH_WHEEL="$wheel" PLINTH_SDIST="$sdist" \
     "../$venv/bin/python" -m pytest -q -rs -p no:cacheprovider -o addopts="-m 'not slow'" "$@" .)
}

# The typing checks: the stubs against the installed module, and the typed
# example under mypy --strict. $1 is the venv.
check_typing() {
  local venv=$1
  (cd tests && "../$venv/bin/python" -m mypy.stubtest plinth)
  "$venv/bin/python" -m mypy --strict --no-incremental examples/typed_usage.py
}

# Runs the Python suite in venv .venv-test-$1 with interpreter $2 and NumPy $3.
run_python_suite() {
  local label=$1 python=$2 numpy_spec=$3 venv=.venv-test-$1
  say "python ($label): $("$python" --version 2>&1), $numpy_spec"
  prepare_python_suite "$venv" "$python" "$numpy_spec"
  run_pytest "$venv"
  check_typing "$venv"
}

# Fails when a C++ or Python file differs from the layout that .clang-format
# and ruff's settings in pyproject.toml give it (`clang-format -i` and
# `ruff format` put it right; ruff runs from a venv of its own), or when an
# include arrow of the core runs against its folders' order or closes a loop
# (scripts/check_includes.py names the arrow; --map shows the folders).
check_layout() {
  python3 scripts/check_includes.py
  git ls-files -z '*.cpp' '*.hpp' '*.h' | xargs -0 clang-format --dry-run --Werror
  make_venv .venv-layout python3 "ruff==0.17.6"
  .venv-layout/bin/ruff format --check --quiet .
}
