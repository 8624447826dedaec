#!/bin/sh
# Configures and builds the native preset.
set -eu
cd "$(dirname "$0")/.."
cmake --preset native >/dev/null
cmake --build --preset native
