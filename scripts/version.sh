#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Prints the project's version, read from the one place it is written:
# project(zksnap_celerra VERSION ...) in CMakeLists.txt.
set -eu
top=$(dirname "$0")/..
version=$(sed -n 's/^project(zksnap_celerra VERSION \([0-9][0-9.]*\) .*/\1/p' "$top/CMakeLists.txt")
[ -n "$version" ] || { echo "version.sh: no project(zksnap_celerra VERSION ...) in $top/CMakeLists.txt" >&2; exit 1; }
echo "$version"
