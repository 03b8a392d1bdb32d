#!/usr/bin/env bash
# The main job: what `make run` shows a newcomer.
set -eu
build=${1:-build}
here=$(cd "$(dirname "$0")/.." && pwd)
"$build/interp/korvel" --version
"$build/interp/korvel" "$here/examples/tour.krv" first second
