#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (run as root, as on
# the project's machines). Does nothing when they are already there. The
# fuzz targets' clang is installed by scripts/fuzz.sh itself.
set -euo pipefail

need=()
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
command -v cmake >/dev/null 2>&1 || need+=(cmake)
command -v ninja >/dev/null 2>&1 || need+=(ninja-build)
command -v g++ >/dev/null 2>&1 || need+=(g++)
command -v make >/dev/null 2>&1 || need+=(make)
# The layout check of scripts/test.sh.
command -v clang-format >/dev/null 2>&1 || need+=(clang-format)
# nm lists the module's exported symbols in the packaging test.
command -v nm >/dev/null 2>&1 || need+=(binutils)
if ! command -v python3 >/dev/null 2>&1; then
  need+=(python3 python3-venv python3-dev)
else
  # Debian splits venv (with ensurepip) and the C headers off the interpreter.
  python3 -c 'import ensurepip, venv' >/dev/null 2>&1 || need+=(python3-venv)
  python3 -c 'import os, sys, sysconfig
sys.exit(not os.path.isfile(os.path.join(sysconfig.get_paths()["include"], "Python.h")))' \
    >/dev/null 2>&1 || need+=(python3-dev)
fi

if [ ${#need[@]} -gt 0 ]; then
  echo "setup-system: installing ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${need[@]}" >/dev/null
fi
