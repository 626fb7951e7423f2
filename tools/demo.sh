#!/bin/sh
# The tour that `make demo` gives: each command as a user would type it,
# then its output. Usage: tools/demo.sh [PATH-TO-ROWKIT]
ROWKIT=${1:-build/tools/rowkit}
rowkit() { "$ROWKIT" "$@"; }

run() {
    printf '\n$ %s\n' "$1"
    eval "$1"
    status=$?
    if [ "$status" -ne 0 ]; then
        printf '(exit status %s)\n' "$status"
    fi
}

run "rowkit headers examples/people.csv"
run "rowkit count examples/people.csv --where 'age >= 30'"
run "rowkit select examples/people.csv --columns name,age,city --where 'age >= 30' --where 'city != Lyon'"
run "rowkit stats examples/people.csv age"
run "rowkit top examples/people.ndjson age -k 3 --columns name,age"
run "rowkit select examples/people.ndjson --columns id,name --where 'id > 12' --format ndjson"
run "rowkit validate examples/people.ndjson --schema examples/people.schema.json"
run "rowkit validate examples/people.ndjson --schema examples/people.schema.json --outcome --full"
run "rowkit scan examples/people.ndjson --summary --threads 2"
exit 0
