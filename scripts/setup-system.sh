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

if [ ${#need[@]} -gt 0 ]; then
  echo "setup-system: installing ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${need[@]}" >/dev/null
fi
