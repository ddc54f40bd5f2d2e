#!/usr/bin/env bash
# Installs what the build needs, builds Quillmoor's command-line host and runs the main job: a message with
# large attachments sent through a generic service linked to a local folder.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j2 --target quillmoor
exec scripts/main-job.sh build/bin
