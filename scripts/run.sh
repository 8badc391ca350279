#!/usr/bin/env bash
# Builds the programs and runs the service in the foreground on the default data
# directory (NERIVALE_CONF may name another install file).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
if [ -x build/bin/ZQSvc ]; then
  exec build/bin/ZQSvc "$@"
else
  echo "ZQSvc is not built yet; the libraries and tests were built." >&2
fi
