#!/usr/bin/env bash
# Runs the device's pixel tests on emulated older processors (qemu-user),
# where the span routines in use by default are others than on this
# machine: Haswell (AVX2, no AVX-512) and Nehalem (SSE4.2, no AVX). It also
# catches code built for a newer instruction set that is reached on an older
# processor (it stops with an illegal instruction there).
#   tests/cpus/check.sh [build-folder] [--frames S]
# With --frames S it also renders the show at 2 frames a second up to S
# seconds on this machine and on each emulated processor, and compares every
# frame byte for byte (the whole show, 248 s, takes about 4 minutes a
# processor). The sound is not compared: the MP3 decoder picks its own
# routines for the processor, and they round a few samples in a million one
# step apart. It needs qemu-user (apt-get install qemu-user) and,
# for --frames, a built data set in build/ of the source folder.
#
# QEMU 7.2 (Debian 12) reads a gather whose index register is ymm4 or ymm12
# as one without an index: every lane loads the base. The build here keeps
# those two registers out of use, so that a failure is ours, not the
# emulator's.
set -euo pipefail
src="$(cd "$(dirname "$0")/../.." && pwd)"
. "$src/tests/cpus/frames.sh"
build="$src/../build-cpus"
parse_options check.sh "$@"
if ! command -v qemu-x86_64 >/dev/null 2>&1; then
  echo "check.sh: needs qemu-x86_64 (apt-get install qemu-user)" >&2
  exit 1
fi
if [ "$(uname -m)" != x86_64 ]; then
  echo "check.sh: the emulated processors are x86-64 ones; this machine is $(uname -m)" >&2
  exit 1
fi
cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTRUBELOX_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="-ffixed-xmm4 -ffixed-xmm12" >/dev/null
cmake --build "$build" -j"$(nproc)" --target test_raster trubelox-capture

cpus=(Haswell Nehalem)
failed=0
for cpu in "${cpus[@]}"; do
  echo "== $cpu: pixel tests"
  # The emulator warns of every feature of the model it leaves out.
  if ! qemu-x86_64 -cpu "$cpu" "$build/tests/test_raster" --gtest_brief=1 2> >(grep -v "TCG doesn't support" >&2); then
    echo "check.sh: the pixel tests failed on $cpu" >&2
    failed=1
  fi
done

if [ -n "$frames" ]; then
  data="$src/build"
  if [ ! -f "$data/data/textures.ini" ]; then
    echo "check.sh: no data set in $data/data: build the show first" >&2
    exit 1
  fi
  out="$build/frames"
  rm -rf "$out"
  if ! capture_frames "$data" "$out" native "$build/trubelox-capture"; then
    echo "check.sh: the show did not render on this machine" >&2
    exit 1
  fi
  for cpu in "${cpus[@]}"; do
    if ! capture_frames "$data" "$out" "$cpu" qemu-x86_64 -cpu "$cpu" "$build/trubelox-capture"; then
      echo "check.sh: the show did not render on $cpu" >&2
      failed=1
      continue
    fi
    compare_frames "$out/native" "$out/$cpu" "$cpu" check.sh || failed=1
  done
fi
exit "$failed"
