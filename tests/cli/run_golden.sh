#!/usr/bin/env bash
# Runs a golden transcript of the rowkit program and compares it with what
# the program does now.
#
#   run_golden.sh ROWKIT FILE.t [--update]
#
# In FILE.t a line "$ COMMAND" is run by bash in the current directory, with
# `rowkit` standing for the program ($ROWKIT for a command that another
# program runs) and $WORK naming a fresh directory; the
# lines after it are what it must print: standard output as it is, then each
# line of standard error behind "! ", then "[N]" when the exit status N is
# not 0 (with pipefail, so that a pipeline shows the program's status). A
# last line without a line feed is followed by "(no newline at end)". Lines
# starting with "#" are comments. --update rewrites FILE.t with the output.
# A Markdown file is checked the same way through its ```console blocks.
set -u
export LC_ALL=C
rowkit_bin=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
export ROWKIT=$rowkit_bin
golden=$2
WORK=$(mktemp -d)
export WORK
actual=$(mktemp)
trap 'rm -rf "$WORK" "$actual" "$actual.md"' EXIT

case $golden in
    *.md)
        awk '/^```/ { inside = ($0 == "```console"); next } inside' "$golden" >"$actual.md"
        golden=$actual.md
        ;;
esac

run() {
    (
        rowkit() { "$rowkit_bin" "$@"; }
        set -o pipefail
        eval "$1"
    ) >"$actual.out" 2>"$actual.err"
    local status=$?
    # The work directory's name changes from run to run.
    sed "s|$WORK|\$WORK|g" "$actual.out" >>"$actual"
    if [ -s "$actual.out" ] && [ -n "$(tail -c 1 "$actual.out")" ]; then
        printf '\n(no newline at end)\n' >>"$actual"
    fi
    sed "s|$WORK|\$WORK|g; s/^/! /" "$actual.err" >>"$actual"
    if [ "$status" -ne 0 ]; then
        printf '[%s]\n' "$status" >>"$actual"
    fi
    rm -f "$actual.out" "$actual.err"
}

while IFS= read -r line || [ -n "$line" ]; do
    case $line in
        '$ '*) printf '%s\n' "$line" >>"$actual"; run "${line#\$ }" ;;
        '#'*) printf '%s\n' "$line" >>"$actual" ;;
    esac
done <"$golden"

if [ "${3:-}" = --update ]; then
    if [ "$golden" != "$2" ]; then
        echo "run_golden.sh: a Markdown file is not rewritten" >&2
        exit 2
    fi
    cp "$actual" "$golden"
    exit 0
fi
diff -u "$golden" "$actual"
