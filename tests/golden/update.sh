#!/usr/bin/env bash
# Writes every transcript under tests/golden anew from the tools in BUILD
# (build/ci when not given), after a change that is meant to change what the
# tools print. Review the diff, then make the README and the manual pages'
# EXAMPLES show the same: the golden test holds them to these transcripts.
set -euo pipefail
source=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$source/build/ci}" && pwd)
exec bash "$source/tests/golden/golden.sh" update "$build/fwpack" "$build/fwinspect" "$source"
