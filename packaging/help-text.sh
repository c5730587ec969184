#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# The text help2man turns into a manual page: PROGRAM's own --help, then the
# --help of each of its commands and of their commands, program paths shown
# as the bare program name. What the page says in sections of its own (the
# .h2m file) is left out: the program's summary above its usage line (NAME
# and DESCRIPTION) and each "Exit status:" paragraph (EXIT STATUS).
#
#   help-text.sh PROGRAM --help
set -eu
prog=$1
name=$(basename "$prog")

show() {
  "$prog" "$@" --help | sed "s|$prog|$name|g" |
    awk '/^Exit status:/ { skip = 1 } /^$/ || /^Usage:/ { skip = 0 } !skip'
}

# A command's help under a heading of its own, its first lines (what it
# does, its usage) indented so that they stay lines of their own.
show_command() {
  printf '\nCommand %s %s:\n' "$name" "$*"
  show "$@" | sed -e '1,/^$/ s/^\(.\)/  \1/' -e 's/^  Usage:/\n  Usage:/'
}

commands() {
  show "$@" | awk '/^Subcommands:/ { on = 1; next }
                   /^[^ ]/ { on = 0 }
                   on && /^  [a-z]/ { print $1 }'
}

show | sed -n '/^Usage:/,$p'
for command in $(commands); do
  show_command "$command"
  for sub in $(commands "$command"); do
    show_command "$command" "$sub"
  done
done
