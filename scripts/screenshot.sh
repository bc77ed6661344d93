#!/usr/bin/env bash
# Refreshes the README's picture of the window: opens COM1, reads every setting, saves it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh dev
QT_QPA_PLATFORM=offscreen build/dev/src/zentrava-demo --screenshot docs/window.png
