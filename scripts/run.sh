#!/usr/bin/env bash
# Sets up, builds and opens the window with an emulated module on COM1.
# Arguments go to zentrava-demo (try --help, or --device /dev/ttyUSB0 for real hardware).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh dev
if [[ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" && -z "${QT_QPA_PLATFORM:-}" ]]; then
    echo "run: no display found; on a headless machine try: xvfb-run scripts/run.sh" >&2
fi
exec build/dev/src/zentrava-demo "$@"
