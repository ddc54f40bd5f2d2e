#!/usr/bin/env bash
# Installs every dependency, builds Quillmoor with its tests and runs the whole suite.
# QUILLMOOR_WERROR=ON (set by CI) turns compiler warnings into errors; QUILLMOOR_SANITIZE=ON builds with
# AddressSanitizer and UndefinedBehaviorSanitizer into build-asan.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

build_dir=build
sanitize=${QUILLMOOR_SANITIZE:-OFF}
[ "$sanitize" = ON ] && build_dir=build-asan

cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DQUILLMOOR_WERROR="${QUILLMOOR_WERROR:-OFF}" -DQUILLMOOR_SANITIZE="$sanitize" -DQUILLMOOR_BUILD_TESTS=ON
cmake --build "$build_dir" -j2
ctest --test-dir "$build_dir" -j2 --output-on-failure --timeout 300
