#!/usr/bin/env bash
# Set-up and main job: installs the Debian packages that are missing, builds
# Pellory (Release) into build/, then runs the main job.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build -j2

# Main job: a host session on the default settings (the sample address book
# built into build/sample) that asks the plug-in for its capabilities.
echo '{"session": 1, "call": "Capabilities"}' | ./build/src/cli/pellory host
