#!/usr/bin/env bash
# Sets up, builds and runs the show. Escape or closing the window ends it.
set -euo pipefail
cd "$(dirname "$0")"
./setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc)" --target trubelox
cd build
exec ./trubelox
