#!/usr/bin/env bash
# Instructions per interval of the module's calls under callgrind, for a before/after check:
#   PYTHON=/path/to/venv/bin/python bash bench/callgrind.sh SO_DIR OUT.md [--work DIR] [--only NAME,...]
# SO_DIR holds a built plinth*.so; PYTHON must be the interpreter it was built for. How the
# count is taken is told at the head of bench/callgrind.py.
set -euo pipefail
exec nice "${PYTHON:-python3}" "$(dirname "$0")/callgrind.py" "$@"
