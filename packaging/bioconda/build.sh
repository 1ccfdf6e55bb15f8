#!/usr/bin/env bash
# Bioconda build script: the programs, the library, the shipped model with a
# configuration naming it (found by the installed velcorin2 by itself) and
# the manual pages into $PREFIX, then the Python package into $PREFIX's Python.
set -euxo pipefail
cmake -S "$SRC_DIR" -B "$SRC_DIR/build-conda" ${CMAKE_ARGS:-} -DCMAKE_INSTALL_PREFIX="$PREFIX" \
  -DCMAKE_INSTALL_LIBDIR=lib -DVELCORIN_TESTS=OFF -DVELCORIN_PYTHON=OFF
cmake --build "$SRC_DIR/build-conda" -j "${CPU_COUNT:-2}"
cmake --install "$SRC_DIR/build-conda"
CMAKE_BUILD_PARALLEL_LEVEL="${CPU_COUNT:-2}" "$PYTHON" -m pip install "$SRC_DIR" --no-deps --no-build-isolation \
  --no-index -vv
