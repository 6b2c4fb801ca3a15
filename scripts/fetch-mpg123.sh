#!/usr/bin/env bash
# Fetches Debian's mpg123 source package into DEST (default: build/deps/src) and prints its directory.
exec "$(dirname "$0")/fetch-source.sh" mpg123 "$@"
