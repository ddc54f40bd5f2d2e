#!/usr/bin/env bash
# Fails when a C++ file differs from what the project's .clang-format makes of it.
# The clang-format version is pinned (install-deps.sh installs it): other versions format differently.
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format-14 --dry-run -Werror
echo "format: every C++ file is formatted"
