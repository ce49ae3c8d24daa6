#!/usr/bin/env bash
# usage: web/test_raster.sh [WEB_BUILD [NATIVE_BUILD]]
#
# The device's pixel tests on WebAssembly, in node: builds the page and the
# tests with web/build.sh (only what changed), then runs the tests.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="${1:-$root/build-web}"
"$root/web/build.sh" "$@"
exec node "$out/show/tests/raster_tests.js"
