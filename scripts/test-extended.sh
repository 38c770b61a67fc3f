#!/usr/bin/env bash
# Everything scripts/test.sh leaves out: the Python suite on the other
# interpreters and NumPy majors (each interpreter's module built once and
# shared by its venvs), both suites under ASan+UBSan (scripts/sanitize.sh) and
# a short run of every fuzz target (scripts/fuzz.sh, which installs clang).
# Runs on its own; CI runs it after scripts/test.sh. Exits non-zero on any
# failure.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
scripts/setup-system.sh

# The oldest NumPy major on the oldest CPython and on the contributor's one,
# which reuses the module scripts/test.sh built; NumPy 2.x on the newer ones.
# An interpreter the machine lacks is named and skipped.
for suite in "np1-py310 3.10 numpy<2" "np1-py311 3.11 numpy<2" \
             "np2-py312 3.12 numpy>=2" "np2-py313 3.13 numpy>=2"; do
  read -r label version numpy_spec <<<"$suite"
  python=$(find_python "$version")
  if [ -z "$python" ]; then
    say "python ($label): SKIPPED, no CPython $version on this machine"
    continue
  fi
  run_python_suite "$label" "$python" "$numpy_spec"
done

say "sanitizers: the C++ and Python suites under ASan+UBSan"
bash scripts/sanitize.sh

say "fuzzing: each target for a short, bounded time"
bash scripts/fuzz.sh "${PLINTH_FUZZ_SECONDS:-60}"

say "extended tests passed"
