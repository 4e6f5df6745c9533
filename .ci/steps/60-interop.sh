#!/usr/bin/env bash
# An independent reader agrees: @loaders.gl/las, a LAS reader this project did
# not write, reads Tessvane's outputs (the real sample files of every version /
# point format pair when LAS_SAMPLE_DIR is set, and synthetic files of the
# project's generator) and tests/interop/read_with_loadersgl.mjs compares
# them with the inputs: point count, every coordinate against the expected
# motion, every attribute, the header box and the bytes before the records.
# The reader is installed with npm into a temporary folder, at pinned versions.
# packages: nodejs
set -euo pipefail
cd "$(dirname "$0")/../.."

LOADERS_GL_VERSION=4.3.4

[ -x build/Tessvane ] && [ -x build/mklas ] || { echo "FAIL: build/ is not built" >&2; exit 1; }
command -v node >/dev/null && command -v npm >/dev/null || { echo "FAIL: node and npm are needed" >&2; exit 1; }
node_major=$(node -p 'process.versions.node.split(".")[0]')
[ "$node_major" -ge 18 ] || { echo "FAIL: node $node_major is too old for the interop check (18 or later)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Its own npm cache, so that nothing is left behind.
npm install --prefix "$work/reader" --cache "$work/npm-cache" --no-audit --no-fund --no-save --loglevel=error \
  "@loaders.gl/core@$LOADERS_GL_VERSION" "@loaders.gl/las@$LOADERS_GL_VERSION" >"$work/npm.log" 2>&1 ||
  { cat "$work/npm.log"; echo "FAIL: npm could not install @loaders.gl/las $LOADERS_GL_VERSION" >&2; exit 1; }

node tests/interop/read_with_loadersgl.mjs --modules "$work/reader" --tessvane build/Tessvane --mklas build/mklas
