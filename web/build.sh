#!/usr/bin/env bash
# usage: web/build.sh [WEB_BUILD [NATIVE_BUILD]]
#
# Builds the show for a web browser into build-web/ (or WEB_BUILD):
# the libraries it needs (libmpg123, libjpeg-turbo, libsoxr) from Debian's
# source packages with emcc, once; the show's own code with emcc (only what
# changed); the data set from the native build's generator (in build/, or
# NATIVE_BUILD), packed beside it.
# The page is build-web/page/: index.html, show.js, show.wasm, show-data.js,
# show.data.
#
# Needs emscripten, and the native build's tools (./setup.sh installs both).
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
out="${1:-$root/build-web}"
native="${2:-$root/build}"
mkdir -p "$out"
out="$(cd "$out" && pwd)"
jobs="$(nproc)"
# emcc's JavaScript tools need Debian's own node modules (acorn) where node
# is not Debian's.
export NODE_PATH="/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}"

say() { echo "web: $*"; }

# --- The libraries --------------------------------------------------------

deps="$out/deps"
prefix="$deps/install"

# The machine's own Debian archive, as its apt configuration names it.
debian_archive() {
  local uri
  uri="$(grep -hs '^URIs:' /etc/apt/sources.list.d/*.sources | awk '{print $2}' | grep -v security | head -1 || true)"
  if [ -z "$uri" ]; then
    uri="$(grep -hs '^deb ' /etc/apt/sources.list | awk '$2 !~ /security/ {print $2}' | head -1 || true)"
  fi
  echo "$uri"
}

# Debian's source packages, through apt with a sources list and cache of
# our own: the machine's apt configuration stays as it is.
fetch_sources() {
  local apt="$deps/apt" archive codename
  archive="$(debian_archive)"
  codename="$(. /etc/os-release && echo "$VERSION_CODENAME")"
  if [ -z "$archive" ] || [ -z "$codename" ]; then
    echo "web: no Debian archive found in the apt configuration" >&2
    exit 1
  fi
  mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$deps/src"
  echo "deb-src $archive $codename main" > "$apt/sources.list"
  local opts=(-o Dir::Etc::SourceList="$apt/sources.list" -o Dir::Etc::SourceParts=/dev/null
              -o Dir::State::Lists="$apt/lists" -o Dir::Cache="$apt/cache"
              -o Debug::NoLocking=1 -o APT::Sandbox::User=root)
  say "fetching the sources of mpg123, libjpeg-turbo and libsoxr"
  apt-get "${opts[@]}" -qq update
  # A missing upstream signature file makes apt say it failed although the
  # sources came; the tarballs are checked below.
  (cd "$deps/src" && apt-get "${opts[@]}" -qq source --download-only mpg123 libjpeg-turbo libsoxr) \
    > "$deps/fetch.log" 2>&1 || true
  local name
  for name in mpg123 libjpeg-turbo libsoxr; do
    local tarball
    tarball="$(ls "$deps/src/${name}"_*.orig.tar.* 2>/dev/null | grep -v '\.asc$' | head -1 || true)"
    if [ -z "$tarball" ]; then
      echo "web: could not fetch the Debian source of $name" >&2
      exit 1
    fi
    mkdir -p "$deps/src/$name"
    tar -xf "$tarball" -C "$deps/src/$name" --strip-components=1
  done
}

build_library() { # name, source folder, target, cmake options...
  local name="$1" source="$2" target="$3"
  shift 3
  say "building $name with emcc"
  { emcmake cmake -S "$source" -B "$deps/build/$name" -C "$root/web/deps/$name.cmake" \
      -DCMAKE_TRY_COMPILE_TARGET_TYPE=STATIC_LIBRARY -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF "$@" \
    && nice cmake --build "$deps/build/$name" -j"$jobs" --target "$target"; } > "$deps/build-$name.log" 2>&1 \
    || { echo "web: building $name failed; see $deps/build-$name.log" >&2; tail -20 "$deps/build-$name.log" >&2; exit 1; }
}

# Each library's CMake run is given what its configure checks find with emcc
# (web/deps/NAME.cmake): the checks, each a run of emcc, took minutes.
if [ ! -f "$prefix/.built" ]; then
  rm -rf "$deps/src" "$deps/build" "$prefix"
  fetch_sources
  mkdir -p "$prefix/include" "$prefix/lib"
  # mpg123's CMake files call check_type_size without including it.
  echo "include(CheckTypeSize)" > "$deps/check-type-size.cmake"
  build_library mpg123 "$deps/src/mpg123/ports/cmake" libmpg123 \
    -DCMAKE_PROJECT_INCLUDE="$deps/check-type-size.cmake" \
    -DBUILD_LIBOUT123=OFF -DBUILD_PROGRAMS=OFF -DNETWORK=OFF -DIPV6=OFF -DFIFO=OFF
  cp "$deps/build/mpg123/src/libmpg123/libmpg123.a" "$prefix/lib/"
  cp "$deps/build/mpg123/src/libmpg123/mpg123.h" "$deps/src/mpg123/src/libmpg123/fmt123.h" "$prefix/include/"
  build_library libjpeg-turbo "$deps/src/libjpeg-turbo" jpeg-static \
    -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_SIMD=OFF -DWITH_TURBOJPEG=OFF -DWITH_JAVA=OFF
  cp "$deps/build/libjpeg-turbo/libjpeg.a" "$deps/build/libjpeg-turbo/jconfig.h" "$prefix/lib/"
  mv "$prefix/lib/jconfig.h" "$prefix/include/"
  cp "$deps/src/libjpeg-turbo/jpeglib.h" "$deps/src/libjpeg-turbo/jmorecfg.h" "$deps/src/libjpeg-turbo/jerror.h" \
    "$prefix/include/"
  build_library libsoxr "$deps/src/libsoxr" soxr -DBUILD_TESTS=OFF -DBUILD_EXAMPLES=OFF -DWITH_OPENMP=OFF \
    -DWITH_LSR_BINDINGS=OFF -DWITH_CR32S=OFF -DWITH_CR64S=OFF -DWITH_VR32=OFF
  cp "$deps/build/libsoxr/src/libsoxr.a" "$deps/src/libsoxr/src/soxr.h" "$prefix/lib/"
  mv "$prefix/lib/soxr.h" "$prefix/include/"
  touch "$prefix/.built"
fi

# --- The data set: the native build's generator writes it ---------------

if [ ! -f "$native/CMakeCache.txt" ]; then
  say "configuring the native build (for the data set's generator)"
  cmake -S "$root" -B "$native" -DCMAKE_BUILD_TYPE=Release > /dev/null
fi
nice cmake --build "$native" -j"$jobs" --target data > /dev/null

# --- The show ---------------------------------------------------------------

page="$out/page"
mkdir -p "$page"
if [ ! -f "$out/show/CMakeCache.txt" ]; then
  say "configuring the show for the browser"
  emcmake cmake -S "$root/web" -B "$out/show" -DCMAKE_BUILD_TYPE=Release -DTRUBELOX_DEPS="$prefix" \
    -DTRUBELOX_PAGE="$page" > "$out/configure.log" 2>&1 \
    || { cat "$out/configure.log" >&2; exit 1; }
fi
say "building the show with emcc"
nice cmake --build "$out/show" -j"$jobs"

# The data set, packed again only when it changed.
if [ ! -f "$page/show.data" ] || [ -n "$(find "$native/data" -newer "$page/show.data" -print -quit)" ]; then
  say "packing the data set"
  (cd "$page" && python3 /usr/share/emscripten/tools/file_packager.py show.data --preload "$native/data@/data" \
    --js-output=show-data.js > "$out/pack.log" 2>&1) \
    || { echo "web: packing the data set failed:" >&2; cat "$out/pack.log" >&2; exit 1; }
fi
cp "$root/web/index.html" "$page/index.html"
total=$(( $(stat -c %s "$page/show.wasm") + $(stat -c %s "$page/show.js") + $(stat -c %s "$page/show.data") + $(stat -c %s "$page/show-data.js") ))
say "the page is in $page ($(( total / 1024 )) KB to load)"
