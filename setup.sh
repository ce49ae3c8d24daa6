#!/usr/bin/env bash
# Installs what a minimal Debian 12 lacks to build, test and run the show.
# Needs root (or sudo); skips every package that is already installed.
set -euo pipefail

packages=(
  g++ make cmake pkg-config
  libsdl2-dev          # window, input, audio output, message boxes
  libmpg123-dev        # MP3 decoding
  libsoxr-dev          # resampling tracks at other rates to 44100 Hz
  libjpeg62-turbo-dev  # JPEG textures
  libpng-dev           # frame and screenshot files
  libgtest-dev libgmock-dev
  libbenchmark-dev
  libmp3lame-dev       # data set: sound track encoding
  libfreetype-dev      # data set: font rasterising
  fonts-dejavu-core    # data set: the font faces
  ffmpeg               # trubelox-capture: the video file
  emscripten           # the web build (web/, ./web.sh)
  chromium             # the web build's test: the page in headless Chromium
)

missing=()
for p in "${packages[@]}"; do
  [[ "$p" == \#* ]] && continue
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all ${#packages[@]} packages are installed"
  exit 0
fi

echo "setup: installing ${missing[*]}"
as_root=()
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then
    as_root=(sudo)
  else
    echo "setup: these packages are missing and this is not root: ${missing[*]}" >&2
    exit 1
  fi
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
echo "setup: done"
