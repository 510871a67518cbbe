#!/bin/sh
# Writes the part of zuvianctl's man page that help2man cannot take from the program's own help:
# one section per command with that command's --help (its arguments and options), the exit
# statuses and the related pages. The commands are read from the program, so the page describes
# exactly what the installed program accepts.
# Usage: zuvianctl-commands.sh PROGRAM OUTPUT
set -eu
program=$1
output=$2

# The command names stand indented under "Subcommands:" in the program's help.
commands=$("$program" --help | awk '/^Subcommands:/ { listing = 1; next } listing && /^  [a-z]/ { print $1 }')
if [ -z "$commands" ]; then
    echo "zuvianctl-commands.sh: $program lists no commands" >&2
    exit 1
fi

# roff: a backslash is written \e, and a line must not begin with a control character.
escape() {
    sed -e 's/\\/\\e/g' -e "s/^\\([.']\\)/\\\\\\&\\1/"
}

{
    # Quoted here-documents: the shell leaves roff's backslashes alone.
    cat <<'TEXT'
[COMMANDS]
Every command but \fBhistory\fR takes \fB\-i\fR \fIinterface\fR, \fB\-\-json\fR,
\fB\-\-capture\fR \fIfile\fR and \fB\-\-tester\fR \fIname\fR, before or after the command
name. Numbers are decimal, or hexadecimal after 0x; a leading zero does not make a number octal.
Every job leaves a service record, one JSON object per line in
$XDG_DATA_HOME/zuvian/records/YYYY\-MM\-DD.jsonl (else ~/.local/share/zuvian/records); the record
names the tester given with \fB\-\-tester\fR, else the tester registry's default, else the login
name. \fBhistory\fR lists them.
TEXT
    for command in $commands; do
        printf '.SS %s\n.nf\n' "$command"
        "$program" "$command" --help | escape
        printf '.fi\n'
    done
    cat <<'TEXT'
[EXIT STATUS]
.TP
.B 0
success
.TP
.B 1
the job failed, or a write was not confirmed; diag and graph: a link shows errors or lost
links, or reads went unanswered; standard error says why
.TP
.B 2
usage error: an unknown command or option, a missing or malformed argument
.TP
.B 3
report: a value in the controllers differs from its target
.TP
.B 130
interrupted by Ctrl\-C or SIGTERM; the first lets the axis or part being written complete, a
second ends at once
[SEE ALSO]
.BR zuvian\-firmwareupdate (1),
.BR zuvian\-sim (1)
TEXT
} > "$output"
