#!/usr/bin/env bash
# Sets up, builds and runs the show: fullscreen with sound on a desktop
# (Escape or closing the window ends it). Where there is no display, it
# renders the show to a video file instead and says where it is.
set -euo pipefail
cd "$(dirname "$0")"
./setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc)" --target trubelox trubelox-capture
cd build
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${SDL_VIDEODRIVER:-}" ]; then
  echo "run.sh: no display here, so the show is rendered to a video instead (a few minutes)"
  ./trubelox-capture --out capture
  echo "run.sh: the show is in $(pwd)/capture/show.mp4 (its sound alone in capture/sound.wav)"
  exit 0
fi
exec ./trubelox
