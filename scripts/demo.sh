#!/usr/bin/env bash
# Sets up a fresh machine, builds the suite and runs a life of it under Wine
# with a simulated touch controller, printing each step and saving
# screenshots under build/win64/screenshots/.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset win64 >/dev/null
cmake --build --preset win64
cmake --preset win32 >/dev/null
cmake --build --preset win32
if [ -f e2e/demo.py ]; then
  exec python3 e2e/demo.py --build build/win64 "$@"
fi
echo "Built: $(ls build/win64/bin build/win32/bin 2>/dev/null | tr '\n' ' ')"
