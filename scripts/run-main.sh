#!/usr/bin/env bash
# Installs what the build needs, builds Quillmoor and runs its main job.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j2 --target quillmoor-demo
exec build/bin/quillmoor-demo "$@"
