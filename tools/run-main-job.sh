#!/usr/bin/env bash
# The main job: what `make run` shows a newcomer.
set -eu
build=${1:-build}
"$build/interp/korvel" --version
"$build/interp/korvel" --help
