#!/usr/bin/env bash
# make run: the most useful thing the project can do so far.
set -euo pipefail
build=${1:-build}
bin="$build/bin"
if [ -x "$bin/kelvane-cli" ]; then
    echo "The default parameter image:"
    "$bin/kelvane-cli" show --default
else
    echo "Nothing to run yet."
fi
