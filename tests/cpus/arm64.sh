#!/usr/bin/env bash
# Builds the show for 64-bit ARM, where only the portable span routines
# exist, and runs it emulated (qemu-user): the pixel, renderer, effect and
# loader tests and, with --frames S, the show's first S seconds at 2 frames
# a second, every frame compared byte for byte with this machine's.
#   tests/cpus/arm64.sh [build-folder] [--frames S]
# Needs the cross compiler, the emulator and the libraries for arm64
# (Debian multiarch, as root):
#   dpkg --add-architecture arm64 && apt-get update
#   apt-get install g++-aarch64-linux-gnu qemu-user libsdl2-dev:arm64 \
#     libmpg123-dev:arm64 libsoxr-dev:arm64 libjpeg62-turbo-dev:arm64 \
#     libpng-dev:arm64 libgtest-dev:arm64 libgmock-dev:arm64 \
#     libmp3lame-dev:arm64 libfreetype-dev:arm64
# and a built data set in build/ of the source folder: it is copied, since
# generating it emulated takes more than half an hour.
#
# The emulator is run with the libraries' root at / (where multiarch puts
# them): a loader from the cross compiler's own folder beside the system's
# C library hangs in the first thread it starts.
set -euo pipefail
src="$(cd "$(dirname "$0")/../.." && pwd)"
. "$src/tests/cpus/frames.sh"
build="$src/../build-arm64"
parse_options arm64.sh "$@"
for tool in aarch64-linux-gnu-g++ qemu-aarch64; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "arm64.sh: needs $tool (see the head of this script for what to install)" >&2
    exit 1
  fi
done
if [ ! -f /lib/ld-linux-aarch64.so.1 ] ||
  ! PKG_CONFIG_LIBDIR=/usr/lib/aarch64-linux-gnu/pkgconfig pkg-config --exists sdl2 libmpg123 soxr; then
  echo "arm64.sh: needs the arm64 libraries (see the head of this script for what to install)" >&2
  exit 1
fi
data="$src/build/data"
if [ ! -f "$data/textures.ini" ]; then
  echo "arm64.sh: no data set in $data: build the show first" >&2
  exit 1
fi

mkdir -p "$build"
cat >"$build/arm64.cmake" <<'EOF'
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64;-L;/)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
EOF
cmake -S "$src" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$build/arm64.cmake" -DCMAKE_BUILD_TYPE=Release \
  -DTRUBELOX_BENCH=OFF >/dev/null
# The generator first, so that the copied data set is newer and stands.
cmake --build "$build" -j"$(nproc)" --target trubelox-datagen
rm -rf "$build/data"
cp -r "$data" "$build/data"
touch "$build/data/.generated"
tests=(test_raster test_render test_renderscale test_effects test_ddraw test_graphd3d test_object test_math
  test_text test_load_textures test_load_texturelist test_loadx test_load3dr test_loadfuzzcorpus)
cmake --build "$build" -j"$(nproc)" --target "${tests[@]}" trubelox-capture

failed=0
for t in "${tests[@]}"; do
  echo "== arm64: $t"
  if ! (cd "$build" && qemu-aarch64 -L / "tests/$t" --gtest_brief=1); then
    echo "arm64.sh: $t failed" >&2
    failed=1
  fi
done

if [ -n "$frames" ]; then
  out="$build/frames"
  rm -rf "$out"
  if ! capture_frames "$src/build" "$out" native "$src/build/trubelox-capture"; then
    echo "arm64.sh: the show did not render on this machine (build it first)" >&2
    exit 1
  fi
  if ! capture_frames "$src/build" "$out" arm64 qemu-aarch64 -L / "$build/trubelox-capture"; then
    echo "arm64.sh: the show did not render on arm64" >&2
    exit 1
  fi
  compare_frames "$out/native" "$out/arm64" arm64 arm64.sh || failed=1
fi
exit "$failed"
