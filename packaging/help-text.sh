#!/bin/sh
# The text help2man turns into a manual page: PROGRAM's own --help, then the
# --help of each of its commands and of their commands, program paths shown
# as the bare program name.
#
#   help-text.sh PROGRAM --help
set -eu
prog=$1
name=$(basename "$prog")

show() {
  "$prog" "$@" --help | sed "s|$prog|$name|g"
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

show
for command in $(commands); do
  show_command "$command"
  for sub in $(commands "$command"); do
    show_command "$command" "$sub"
  done
done
