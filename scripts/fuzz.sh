#!/usr/bin/env bash
# Builds the libFuzzer targets under fuzz/ with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for the given number of seconds
# (default 60), one after the other, from a seed corpus made of the sample
# files and the committed regressions. Exits non-zero on any crash, leak,
# sanitizer report or failed check; the input that caused it is left in
# build/fuzz/artifacts/.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_read_long fuzz_read_short fuzz_read_chronological fuzz_read_binary
                                       fuzz_read_auto fuzz_roundtrip)

# clang 16 is the oldest that compiles the core against libstdc++'s
# std::expected; Debian 12 ships it with its libFuzzer runtime.
find_clang() {
  local v
  for v in 19 18 17 16; do
    if command -v "clang++-$v" >/dev/null 2>&1 &&
       ls /usr/lib/llvm-"$v"/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
      command -v "clang++-$v"
      return 0
    fi
  done
  return 1
}
if ! clang=$(find_clang); then
  echo "fuzz: installing clang-16 and its libFuzzer runtime"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq clang-16 libclang-rt-16-dev >/dev/null
  clang=$(find_clang)
fi
command -v cmake >/dev/null 2>&1 && command -v ninja >/dev/null 2>&1 || scripts/setup-system.sh

build=build/fuzz
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER="$clang" \
  -DPLINTH_BUILD_FUZZ=ON -DPLINTH_WERROR=ON >/dev/null
cmake --build "$build" -j 2 --target "${targets[@]}"

# The memory budget follows the input size: the targets check that a read
# holds at most 64 bytes per input byte (fuzz_common.hpp), so no single
# allocation may come near a megabyte for inputs of max_len bytes, and the
# process as a whole stays at what the fuzzer and the sanitizers take plus a
# small margin. A read that reserves by a declared count or copies a name per
# entry fails here instead of passing on a large machine.
max_len=8192
malloc_limit_mb=$(( (64 * max_len + (1 << 20) - 1) >> 20 ))
rss_limit_mb=$(( 1024 + malloc_limit_mb ))

mkdir -p "$build/artifacts"
status=0
for target in "${targets[@]}"; do
  corpus=$build/corpus/$target
  mkdir -p "$corpus"
  # The seeds: Praat's own sample files and every input that once broke a
  # target. New finds of earlier runs stay in the corpus folder.
  find tests/data fuzz/regressions -type f ! -name '*.py' ! -name '.keep' -exec cp -n {} "$corpus"/ \;
  echo "== $target: ${seconds}s"
  if ! "$build/fuzz/$target" "$corpus" -dict=fuzz/textgrid.dict -max_total_time="$seconds" \
       -max_len="$max_len" -rss_limit_mb="$rss_limit_mb" -malloc_limit_mb="$malloc_limit_mb" \
       -timeout=10 -print_final_stats=1 \
       -artifact_prefix="$build/artifacts/$target-" 2>"$build/$target.log"; then
    tail -n 60 "$build/$target.log"
    echo "fuzz: $target failed; the input is in $build/artifacts/"
    status=1
  else
    grep -E '^(stat::number_of_executed_units|Done)' "$build/$target.log" || tail -n 3 "$build/$target.log"
  fi
done
exit $status
