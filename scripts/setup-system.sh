#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (run as root, as on
# the project's machines). Does nothing when they are already there.
set -euo pipefail

need=()
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
command -v cmake >/dev/null 2>&1 || need+=(cmake)
command -v ninja >/dev/null 2>&1 || need+=(ninja-build)
command -v g++ >/dev/null 2>&1 || need+=(g++)
if [ "${PLINTH_WITH_CLANG:-0}" = 1 ]; then
  command -v clang++ >/dev/null 2>&1 || need+=(clang)
  ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 || need+=(libclang-rt-14-dev)
fi

if [ ${#need[@]} -gt 0 ]; then
  echo "setup-system: installing ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${need[@]}" >/dev/null
fi
