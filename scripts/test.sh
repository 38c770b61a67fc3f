#!/usr/bin/env bash
# The contributor's test command: installs what the tests need, then runs the
# core's GoogleTest suites under CTest, and on CPython 3.11 with NumPy 2.x the
# Python suite (the module built once, as a wheel, beside the sdist that
# tests/test_packaging.py lists), the check of the typing stubs and mypy
# --strict on the typed example. scripts/test-extended.sh runs the rest (the
# other interpreters and NumPy 1.x, the sanitizers, fuzzing). Exits non-zero on
# any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
scripts/setup-system.sh

jobs=$(nproc 2>/dev/null || echo 2)

say "layout: clang-format and ruff format, checked"
check_layout

say "core: build and GoogleTest (CTest)"
cmake -S . -B build/test-core -G Ninja -DPLINTH_BUILD_TESTS=ON -DPLINTH_WERROR=ON >/dev/null
cmake --build build/test-core -j "$jobs"
ctest --test-dir build/test-core --output-on-failure -j "$jobs"

py311=$(find_python 3.11)
run_python_suite main "${py311:-python3}" "numpy>=2"

say "tests passed (scripts/test-extended.sh runs the rest)"
