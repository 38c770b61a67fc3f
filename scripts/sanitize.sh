#!/usr/bin/env bash
# Runs the test suites under AddressSanitizer and UndefinedBehaviorSanitizer:
# the core's GoogleTest suites and the fuzz targets' replay of the samples and
# regressions under CTest, then the Python suite against a sanitized build of
# the module. Any sanitizer report fails the run. Exits non-zero on failure.
#
#   scripts/sanitize.sh [core|python]...   (default: both)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
scripts/setup-system.sh

parts=("$@")
[ ${#parts[@]} -gt 0 ] || parts=(core python)

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

run_core() {
  say "sanitize core: GoogleTest and fuzz replay under ASan+UBSan (CTest)"
  # -O1: the optimisation ASan is meant for, and a quicker build than -O2.
  cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
    -DPLINTH_SANITIZE=ON \
    -DPLINTH_BUILD_TESTS=ON -DPLINTH_BUILD_FUZZ=ON -DPLINTH_WERROR=ON >/dev/null
  cmake --build build/asan -j 2
  ctest --test-dir build/asan --output-on-failure -j 2
}

# Prints the newest CPython here that actually runs (a pyenv shim for a
# version that is not enabled is found but does not run).
pick_python() {
  local candidate
  for candidate in "$(find_python 3.13)" /root/.pyenv/versions/3.13*/bin/python3 \
                   "$(find_python 3.12)" /root/.pyenv/versions/3.12*/bin/python3 python3; do
    if [ -n "$candidate" ] && "$candidate" -c 'import sys' >/dev/null 2>&1; then
      echo "$candidate"
      return 0
    fi
  done
  return 1
}

run_python() {
  local python venv=.venv-asan
  python=$(pick_python)
  say "sanitize python: $("$python" --version 2>&1), module under ASan+UBSan"
  # The whole test set, Praat included, so that no test is skipped for want
  # of a package; the sanitized module has its own build folder.
  prepare_python_suite "$venv" "$python" "numpy>=2" -C cmake.define.PLINTH_SANITIZE=ON \
    -C cmake.build-type=RelWithDebInfo -C 'build-dir=build/asan-{wheel_tag}'
  # The interpreter is not built with ASan: its runtime must come first, and
  # Python's own allocator and leaks would drown the module's reports.
  # libstdc++ comes right after it: the interpreter does not link it, and
  # without it ASan's hook for C++ throws has nothing to forward to and aborts
  # at the first exception Praat (in parselmouth) throws.
  local preload
  preload="$(gcc -print-file-name=libasan.so) $(gcc -print-file-name=libstdc++.so)"
  # ASan's allocator reports an exhausted address space itself instead of
  # letting operator new throw, so the MemoryError case cannot run here.
  LD_PRELOAD="$preload" PYTHONMALLOC=malloc ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 \
    run_pytest "$venv" --deselect test_conversion_errors.py::test_memory_exhaustion_becomes_memory_error
}

for part in "${parts[@]}"; do
  case $part in
    core) run_core ;;
    python) run_python ;;
    *) echo "sanitize: unknown part $part (core, python)" >&2; exit 2 ;;
  esac
done
say "sanitizer runs passed"
