#!/usr/bin/env bash
# Installs what the tests need and runs every test: the core's GoogleTest
# suites under CTest, the Python suite in three venvs (NumPy 1.x on CPython
# 3.11 and 3.10, NumPy 2.x on the newest CPython here) with the typing stubs
# checked, both suites again under ASan+UBSan, and a short run of every fuzz
# target. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
scripts/setup-system.sh

jobs=$(nproc 2>/dev/null || echo 2)

echo "== core: build and GoogleTest (CTest)"
cmake -S . -B build/test-core -G Ninja -DPLINTH_BUILD_TESTS=ON -DPLINTH_WERROR=ON >/dev/null
cmake --build build/test-core -j "$jobs"
ctest --test-dir build/test-core --output-on-failure -j "$jobs"

run_python_suite() {
  local label=$1 python=$2 numpy_spec=$3 venv=.venv-test-$1
  echo "== python ($label): $("$python" --version 2>&1), $numpy_spec"
  make_venv "$venv" "$python" "$numpy_spec" pytest hypothesis mypy
  "$venv/bin/python" -m pip install -q --disable-pip-version-check . 
  if [ -f requirements-test.txt ]; then
    # The NumPy requirement again, so that no test dependency (pandas 3 wants NumPy 2)
    # moves the venv to another NumPy; pyarrow 26 refuses NumPy 1.x on import.
    local keep=("$numpy_spec")
    [[ $numpy_spec == "numpy<2" ]] && keep+=("pyarrow<26")
    "$venv/bin/python" -m pip install -q --disable-pip-version-check -r requirements-test.txt \
      "${keep[@]}"
  fi
  # Run from a folder outside the checkout so the installed module is tested.
  (cd tests && "../$venv/bin/python" -m pytest -q -p no:cacheprovider -o addopts="-m 'not slow'" .)
  if [ -f stubs/plinth-stubs/__init__.pyi ] && grep -q 'def ' stubs/plinth-stubs/__init__.pyi; then
    "$venv/bin/python" -m mypy.stubtest plinth
  fi
}

py311=$(find_python 3.11)
run_python_suite np1 "${py311:-python3}" "numpy<2"

# The oldest CPython the module supports, where the machine has it.
py310=$(find_python 3.10)
if [ -n "$py310" ]; then
  run_python_suite py310 "$py310" "numpy<2"
fi

newest=""
for v in 3.13 3.12; do
  newest=$(find_python "$v")
  [ -n "$newest" ] && break
done
run_python_suite np2 "${newest:-python3}" "numpy>=2"

echo "== sanitizers: the C++ and Python suites under ASan+UBSan"
bash scripts/sanitize.sh

echo "== fuzzing: each target for a short, bounded time"
bash scripts/fuzz.sh "${PLINTH_FUZZ_SECONDS:-60}"

echo "== all tests passed"
