#!/usr/bin/env bash
# Builds the mesh fuzzers with clang, ASan and UBSan into a separate folder
# (default: build-fuzz beside the source folder) and, given a target name and
# seconds, runs one on its corpus:
#   tests/fuzz/build.sh [build-folder] [filereader|3dr|x seconds]
set -euo pipefail
src="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$src/../build-fuzz}"
CC=clang CXX=clang++ cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTRUBELOX_FUZZ=ON -DTRUBELOX_SANITIZE=ON -DBUILD_TESTING=OFF -DTRUBELOX_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target fuzz_filereader fuzz_3dr fuzz_x
if [ $# -ge 3 ]; then
  target="$2"
  seconds="$3"
  corpus="$src/tests/fuzz/corpus/$target"
  mkdir -p "$corpus"
  # New interesting inputs go to a scratch folder; merge the ones worth keeping.
  scratch="$build/corpus-$target"
  mkdir -p "$scratch"
  cd "$build"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "./fuzz_$target" -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$build/crash-$target-" "$scratch" "$corpus"
fi
