#!/usr/bin/env bash
# The benchmark, as `make bench` runs it: installs the peers from PyPI and
# plinth from this checkout into bench/.venv, builds the limit baseline,
# generates the seeded inputs under build/bench-inputs, runs every workload
# for every tool and writes bench/results/results.md and results.png (raw
# timings go to bench/results/raw/, which is not committed).
#
# BENCH_QUICK=1 runs few repetitions; BENCH_SCALE=0.01 shrinks the inputs
# (both for a smoke run). BENCH_ONLY=a,c runs only the named workloads.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
scripts/setup-system.sh

python=$(find_python 3.11)
python=${python:-python3}
venv=bench/.venv
echo "== bench: peers and plinth into $venv"
make_venv "$venv" "$python" numpy matplotlib praatio textgrid tgt praat-parselmouth
"$venv/bin/python" -m pip install -q --disable-pip-version-check mytextgrid \
  || echo "bench: mytextgrid does not install here; it is left out"
"$venv/bin/python" -m pip install -q --disable-pip-version-check .

echo "== bench: limit baseline"
cmake -S . -B build/bench -G Ninja -DPLINTH_BUILD_BENCH=ON >/dev/null
cmake --build build/bench --target limit_baseline >/dev/null

scale=${BENCH_SCALE:-1}
inputs=build/bench-inputs
[ "$scale" = 1 ] || inputs=build/bench-inputs-$scale
echo "== bench: inputs in $inputs"
"$venv/bin/python" bench/generate.py "$inputs" --scale "$scale"

args=(--inputs "$inputs" --results bench/results --limit-bin build/bench/bench/limit_baseline)
[ "${BENCH_QUICK:-0}" = 1 ] && args+=(--quick)
[ -n "${BENCH_ONLY:-}" ] && args+=(--only "$BENCH_ONLY")
echo "== bench: workloads"
"$venv/bin/python" bench/bench.py run "${args[@]}"
