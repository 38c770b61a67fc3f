#!/usr/bin/env bash
# Builds and installs plinth into .venv, then runs the demo on the bundled
# sample files.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
scripts/setup-system.sh

python=$(find_python 3.11)
python=${python:-python3}
make_venv .venv "$python" numpy
.venv/bin/python -m pip install -q --disable-pip-version-check .

if [ -f examples/demo.py ]; then
  .venv/bin/python examples/demo.py tests/data
else
  cmake -S . -B build/demo -G Ninja >/dev/null
  cmake --build build/demo --target print_tiers >/dev/null
  build/demo/examples/print_tiers tests/data/*.TextGrid
fi
