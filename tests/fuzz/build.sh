#!/usr/bin/env bash
# Builds the fuzzers with clang, ASan and UBSan into a separate folder
# (default: build-fuzz beside the source folder) and, given a target name and
# seconds, runs one:
#   tests/fuzz/build.sh [build-folder] [target seconds]
# Targets: filereader, 3dr, x (the mesh inputs); texturelist, raw, jpeg, font,
# mp3 (every other file the show reads). A run starts from the target's
# committed corpus, tests/fuzz/corpus/<target>, and for the other inputs from
# fresh seeds that fuzz_seeds makes from the data set ($TRUBELOX_DATA, by
# default build/data of the source folder) and by hand. A run that ends
# without a finding merges what it found into the committed corpus, minimised.
# Findings are written to <build-folder>/crash-<target>-*; the run's log to
# <build-folder>/fuzz-<target>.log.
set -euo pipefail
src="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$src/../build-fuzz}"
if ! command -v clang++ >/dev/null 2>&1; then
  echo "build.sh: the fuzzers need clang (apt-get install clang)" >&2
  exit 1
fi
CC=clang CXX=clang++ cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTRUBELOX_FUZZ=ON -DTRUBELOX_SANITIZE=ON -DBUILD_TESTING=OFF -DTRUBELOX_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target fuzz_filereader fuzz_3dr fuzz_x \
  fuzz_texturelist fuzz_raw fuzz_jpeg fuzz_font fuzz_mp3 fuzz_seeds
if [ $# -ge 3 ]; then
  target="$2"
  seconds="$3"
  # Long enough for the data set's small files whole and the big ones' headers.
  case "$target" in
    filereader|3dr|x|texturelist) max_len=4096 ;;
    font) max_len=12288 ;;
    raw|mp3) max_len=16384 ;;
    jpeg) max_len=32768 ;;
    *) echo "build.sh: no fuzz target $target" >&2; exit 2 ;;
  esac
  corpus="$src/tests/fuzz/corpus/$target"
  mkdir -p "$corpus"
  # New interesting inputs go to a scratch folder first.
  scratch="$build/corpus-$target"
  mkdir -p "$scratch"
  inputs=("$scratch" "$corpus")
  case "$target" in
    filereader|3dr|x) ;;
    *)
      data="${TRUBELOX_DATA:-$src/build/data}"
      if [ ! -f "$data/textures.ini" ]; then
        echo "build.sh: no data set in $data: build the show first or set TRUBELOX_DATA" >&2
        exit 1
      fi
      seeds="$build/seeds-$target"
      rm -rf "$seeds"
      "$build/fuzz_seeds" "$target" "$data" "$seeds"
      inputs+=("$seeds")
      ;;
  esac
  cd "$build"
  export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  # The targets' own messages (every fatal error) go nowhere; libFuzzer's
  # output and the sanitizers' reports still reach the log.
  options=(-max_len="$max_len" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=1024 -close_fd_mask=2)
  "./fuzz_$target" "${options[@]}" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$build/crash-$target-" "${inputs[@]}" 2>&1 | tee "$build/fuzz-$target.log"
  merged="$build/merged-$target"
  rm -rf "$merged"
  mkdir -p "$merged"
  "./fuzz_$target" "${options[@]}" -merge=1 "$merged" "${inputs[@]}" 2>&1 | tail -n 3
  rm -rf "$corpus"
  mv "$merged" "$corpus"
  # JPEG and MP3 are decoded by the system's libraries, which the fuzzer's
  # coverage does not see: their seeds stay whole, so that the replay runs
  # every coding mode and damage they hold.
  case "$target" in
    jpeg|mp3) for f in "$seeds"/*; do cp "$f" "$corpus/seed-$(basename "$f")"; done ;;
  esac
  echo "build.sh: $(ls "$corpus" | wc -l) inputs, $(du -sh "$corpus" | cut -f1) in $corpus"
fi
