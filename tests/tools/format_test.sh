#!/usr/bin/env bash
# Every tracked source is as clang-format writes it.
set -euo pipefail
source "$(dirname "$0")/../support/need_tool.sh"
need clang-format "install it with tools/install-deps.sh --tests"
need git "install git"
exec "$(dirname "$0")/../../tools/check-format.sh"
