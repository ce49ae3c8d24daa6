#!/usr/bin/env bash
# Builds the show for a web browser and serves it on 127.0.0.1: open the
# address it prints, click, and the show plays with its sound. Installs what
# is missing first (emscripten among it). PORT chooses the port (8000).
set -euo pipefail
cd "$(dirname "$0")"
./setup.sh
web/build.sh build-web
exec python3 web/serve.py --port "${PORT:-8000}" build-web/page
