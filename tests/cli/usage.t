# Help on stdout with status 0; the general help on stderr without a command.
$ rowkit --help | head -n 3
usage: rowkit COMMAND [ARGS]

Reads CSV files with a header line and JSON records (.ndjson, .jsonl,
$ rowkit help top | head -n 1; rowkit help -h | head -n 1
usage: rowkit top FILE COLUMN [-k N] [--ascending] [--columns LIST] [FILTERS]
usage: rowkit COMMAND [ARGS]
$ rowkit select -h | head -n 1
usage: rowkit select FILE [--columns LIST] [FILTERS] [--limit N] [--format csv|ndjson] [--quiet]
$ rowkit count examples/people.csv --where 'age = 1' --help | head -n 1
usage: rowkit count FILE [FILTERS]
$ rowkit --version
rowkit 0.1.0
$ rowkit 2>&1 | head -n 1
usage: rowkit COMMAND [ARGS]
[2]
# Usage errors name the problem, show the synopsis and exit with 2.
$ rowkit frobnicate
! rowkit: unknown command "frobnicate"; 'rowkit help' lists them
[2]
$ rowkit --frobnicate
! rowkit: unknown option --frobnicate; 'rowkit help' lists the commands
[2]
$ rowkit help frobnicate
! rowkit: unknown command "frobnicate"; 'rowkit help' lists them
[2]
$ rowkit count
! rowkit: missing FILE
! rowkit: usage: rowkit count FILE [FILTERS]
[2]
$ rowkit count examples/people.csv extra
! rowkit: unexpected argument "extra"
! rowkit: usage: rowkit count FILE [FILTERS]
[2]
$ rowkit stats examples/people.csv
! rowkit: missing COLUMN
! rowkit: usage: rowkit stats FILE COLUMN [FILTERS]
[2]
$ rowkit select examples/people.csv --bogus
! rowkit: unknown option --bogus
! rowkit: usage: rowkit select FILE [--columns LIST] [FILTERS] [--limit N] [--format csv|ndjson] [--quiet]
[2]
$ rowkit select examples/people.csv -x
! rowkit: unknown option -x
! rowkit: usage: rowkit select FILE [--columns LIST] [FILTERS] [--limit N] [--format csv|ndjson] [--quiet]
[2]
$ rowkit select examples/people.csv --columns
! rowkit: option -c (--columns) needs a value
! rowkit: usage: rowkit select FILE [--columns LIST] [FILTERS] [--limit N] [--format csv|ndjson] [--quiet]
[2]
$ rowkit select examples/people.csv --limit -1
! rowkit: --limit expects a whole number, got "-1"
! rowkit: usage: rowkit select FILE [--columns LIST] [FILTERS] [--limit N] [--format csv|ndjson] [--quiet]
[2]
$ rowkit select examples/people.csv --limit 99999999999999999999
! rowkit: --limit must be at most 9223372036854775807, got "99999999999999999999"
! rowkit: usage: rowkit select FILE [--columns LIST] [FILTERS] [--limit N] [--format csv|ndjson] [--quiet]
[2]
$ rowkit select examples/people.csv --format xml
! rowkit: --format expects csv or ndjson, got "xml"
! rowkit: usage: rowkit select FILE [--columns LIST] [FILTERS] [--limit N] [--format csv|ndjson] [--quiet]
[2]
$ rowkit top examples/people.csv age -k ten
! rowkit: -k expects a whole number, got "ten"
! rowkit: usage: rowkit top FILE COLUMN [-k N] [--ascending] [--columns LIST] [FILTERS]
[2]
$ rowkit sort examples/people.csv --descending=yes age
! rowkit: option --descending takes no value
! rowkit: usage: rowkit sort FILE COLUMN [--descending] [--columns LIST] [FILTERS]
[2]
# Columns: unknown names, #N out of range, quoted lists.
$ rowkit select examples/people.csv --columns name,nme
! rowkit: unknown column "nme"
! rowkit: usage: rowkit select FILE [--columns LIST] [FILTERS] [--limit N] [--format csv|ndjson] [--quiet]
[2]
$ rowkit select examples/people.csv --columns '#5'
! rowkit: column #5 is out of range: the header has 5 columns
! rowkit: usage: rowkit select FILE [--columns LIST] [FILTERS] [--limit N] [--format csv|ndjson] [--quiet]
[2]
$ rowkit stats examples/people.csv '#99999999999999999999999'
! rowkit: column #99999999999999999999999 is out of range: the header has 5 columns
! rowkit: usage: rowkit stats FILE COLUMN [FILTERS]
[2]
$ rowkit select examples/people.csv --columns '"name'
! rowkit: --columns: a quote is not closed
! rowkit: usage: rowkit select FILE [--columns LIST] [FILTERS] [--limit N] [--format csv|ndjson] [--quiet]
[2]
$ rowkit select examples/people.csv --columns '"name"x'
! rowkit: --columns: unexpected text after a closing quote
! rowkit: usage: rowkit select FILE [--columns LIST] [FILTERS] [--limit N] [--format csv|ndjson] [--quiet]
[2]
# Bad --where expressions.
$ rowkit count examples/people.csv --where 'age'
! rowkit: --where 'age': expected COLUMN OP VALUE with OP one of = != > >= < <= in
! rowkit: usage: rowkit count FILE [FILTERS]
[2]
$ rowkit count examples/people.csv --where '= 3'
! rowkit: --where '= 3': the column is missing
! rowkit: usage: rowkit count FILE [FILTERS]
[2]
$ rowkit count examples/people.csv --where 'age => 30'
! rowkit: --where 'age => 30': the value starts with '>'; put it in double quotes if that is meant
! rowkit: usage: rowkit count FILE [FILTERS]
[2]
$ rowkit count examples/people.csv --where 'city in'
! rowkit: --where 'city in': 'in' needs a list of values
! rowkit: usage: rowkit count FILE [FILTERS]
[2]
$ rowkit count examples/people.csv --where 'city = "Lyon" x'
! rowkit: --where 'city = "Lyon" x': unexpected text after a closing quote
! rowkit: usage: rowkit count FILE [FILTERS]
[2]
$ rowkit count examples/people.csv --where 'town = Lyon'
! rowkit: unknown column "town"
! rowkit: usage: rowkit count FILE [FILTERS]
[2]
