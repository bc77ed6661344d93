#!/usr/bin/env bash
# The whole suite again, built with clang-14's AddressSanitizer and UndefinedBehaviorSanitizer:
# a memory or undefined-behaviour fault fails it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --sanitizers
scripts/build.sh asan
export QT_QPA_PLATFORM=offscreen
ctest --preset asan "$@"
