# The library's report; exit status 1 when any row is invalid.
$ rowkit validate examples/people.csv --schema examples/people.schema.json
{"rows_total":12,"rows_valid":12,"rows_invalid":0,"errors_total":0,"truncated":false,"counts":{},"errors":[]}
$ rowkit validate examples/people.ndjson --schema examples/people.schema.json
{"rows_total":15,"rows_valid":12,"rows_invalid":3,"errors_total":6,"truncated":false,"counts":{"missing_required":2,"bad_type":2,"below_min":1,"too_short":1},"errors":[{"row":13,"column":2,"column_name":"age","rule":"below_min","value":"-4"},{"row":14,"column":2,"column_name":"age","rule":"bad_type","value":"thirty"},{"row":14,"column":3,"column_name":"city","rule":"missing_required","value":""},{"row":15,"column":0,"column_name":"id","rule":"bad_type","value":"x15"},{"row":15,"column":1,"column_name":"name","rule":"too_short","value":"O"},{"row":15,"column":4,"column_name":"email","rule":"missing_required","value":""}]}
[1]
$ rowkit validate examples/people.ndjson -s examples/people.schema.json --max-errors 2 -q
{"rows_total":15,"rows_valid":12,"rows_invalid":3,"errors_total":6,"truncated":true,"counts":{"missing_required":2,"bad_type":2,"below_min":1,"too_short":1},"errors":[{"row":13,"column":2,"column_name":"age","rule":"below_min","value":"-4"},{"row":14,"column":2,"column_name":"age","rule":"bad_type","value":"thirty"}]}
[1]
# Library errors: an unreadable input, a bad schema, an unknown column.
$ rowkit validate examples/nope.csv --schema examples/people.schema.json
! rowkit: validate failed: FileNotFound (file "examples/nope.csv")
[2]
$ printf '{"age": {"type": "int"}}' > $WORK/bad.json; rowkit validate examples/people.csv --schema $WORK/bad.json
! rowkit: validate failed: BadSchema (column "age": unknown type "int", expected any, integer, float, boolean, datetime or string)
[2]
$ printf '{"nme": {"required": true}}' > $WORK/unknown.json; rowkit validate examples/people.csv --schema $WORK/unknown.json
! rowkit: validate failed: UnknownColumn (column "nme" is not in the header)
[2]
# Schema files the program cannot read, and usage errors.
$ rowkit validate examples/people.csv --schema $WORK/missing.json
! rowkit: cannot read schema $WORK/missing.json: No such file or directory
[2]
$ printf '{}\0' > $WORK/nul.json; rowkit validate examples/people.csv --schema $WORK/nul.json
! rowkit: cannot read schema $WORK/nul.json: it holds a NUL byte
[2]
$ rowkit validate examples/people.csv
! rowkit: missing --schema SCHEMA
! rowkit: usage: rowkit validate FILE --schema SCHEMA [--max-errors N | --accepted A --rejected R | --outcome [--full]] [--quiet]
[2]
$ rowkit validate examples/people.csv --schema examples/people.schema.json --max-errors 0
! rowkit: --max-errors must be at least 1
! rowkit: usage: rowkit validate FILE --schema SCHEMA [--max-errors N | --accepted A --rejected R | --outcome [--full]] [--quiet]
[2]
# Split into two new files: the totals on standard output, status 1 when a
# row was rejected; an existing output is never touched.
$ rowkit validate examples/people.ndjson -s examples/people.schema.json --accepted $WORK/ok.csv --rejected $WORK/bad.ndjson; tail -n 2 $WORK/ok.csv | tr -d '\r'; cut -c 1-60 $WORK/bad.ndjson
{"rows_total":15,"rows_valid":12,"rows_invalid":3,"errors_total":6}
11,Kai Mendes,30,Recife,kai@example.org
12,Lea Brandt,65,Bremen,lea@example.org
{"values":["13","Mo Idris","-4","Oslo","mo@example.org"],"er
{"values":["14","Nia Obi","thirty","","nia@example.org"],"er
{"values":["x15","O","38","Tunis",""],"errors":[{"row":15,"c
$ rowkit validate examples/people.csv -s examples/people.schema.json --accepted $WORK/ok.csv --rejected $WORK/other.ndjson
! rowkit: validate_to_files failed: PathAlreadyExists
[2]
$ test ! -e $WORK/other.ndjson && wc -l < $WORK/ok.csv
13
# The one-call outcome: true or false, or with --full the invalid rows; also
# for text on standard input.
$ rowkit validate examples/people.csv -s examples/people.schema.json --outcome
true
$ rowkit validate examples/people.ndjson -s examples/people.schema.json --outcome
false
[1]
$ tail -n 2 examples/people.ndjson | rowkit validate --stdin json -s examples/people.schema.json --outcome --full
[{"values":["14","Nia Obi","thirty","","nia@example.org"],"errors":[{"column":2,"column_name":"age","rule":"bad_type","value":"thirty"},{"column":3,"column_name":"city","rule":"missing_required","value":""}]},{"values":["x15","O","38","Tunis",""],"errors":[{"column":0,"column_name":"id","rule":"bad_type","value":"x15"},{"column":1,"column_name":"name","rule":"too_short","value":"O"},{"column":4,"column_name":"email","rule":"missing_required","value":""}]}]
[1]
$ head -n 3 examples/people.csv | rowkit validate --stdin csv -s examples/people.schema.json --outcome --full
[]
$ : | rowkit validate --stdin csv -s examples/people.schema.json --outcome
! rowkit: validate failed: EmptyFile
[2]
# Options that do not go together.
$ rowkit validate examples/people.csv --stdin csv -s examples/people.schema.json --outcome
! rowkit: give FILE or --stdin, not both
! rowkit: usage: rowkit validate FILE --schema SCHEMA [--max-errors N | --accepted A --rejected R | --outcome [--full]] [--quiet]
[2]
$ rowkit validate -s examples/people.schema.json --outcome
! rowkit: missing FILE
! rowkit: usage: rowkit validate FILE --schema SCHEMA [--max-errors N | --accepted A --rejected R | --outcome [--full]] [--quiet]
[2]
$ rowkit validate examples/people.csv -s examples/people.schema.json --accepted $WORK/a.csv
! rowkit: --accepted and --rejected go together
! rowkit: usage: rowkit validate FILE --schema SCHEMA [--max-errors N | --accepted A --rejected R | --outcome [--full]] [--quiet]
[2]
$ rowkit validate examples/people.csv -s examples/people.schema.json --full
! rowkit: --full goes with --outcome
! rowkit: usage: rowkit validate FILE --schema SCHEMA [--max-errors N | --accepted A --rejected R | --outcome [--full]] [--quiet]
[2]
$ rowkit validate examples/people.csv -s examples/people.schema.json --outcome --max-errors 3
! rowkit: --max-errors applies to the report, not to --outcome
! rowkit: usage: rowkit validate FILE --schema SCHEMA [--max-errors N | --accepted A --rejected R | --outcome [--full]] [--quiet]
[2]
$ rowkit validate --stdin xml -s examples/people.schema.json --outcome
! rowkit: --stdin expects csv or json, got "xml"
! rowkit: usage: rowkit validate FILE --schema SCHEMA [--max-errors N | --accepted A --rejected R | --outcome [--full]] [--quiet]
[2]
$ rowkit validate --stdin csv -s examples/people.schema.json
! rowkit: --stdin goes with --outcome
! rowkit: usage: rowkit validate FILE --schema SCHEMA [--max-errors N | --accepted A --rejected R | --outcome [--full]] [--quiet]
[2]
# A file of more than 64 MiB shows its progress on a terminal (here a
# pseudo-terminal), drawn from the library's first report on; never with
# --quiet, and never when standard error is not a terminal.
$ { echo id,name; yes 12345,abcdefgh | head -n 5000000; } > $WORK/big.csv; echo '{"id": {"type": "integer"}}' > $WORK/id.json
$ script -qec "$ROWKIT validate $WORK/big.csv -s $WORK/id.json > /dev/null" /dev/null < /dev/null | tr '\r' '\n' | grep -o 'rowkit: *[0-9]*%' | sed -n 1p
rowkit:   0%
$ script -qec "$ROWKIT validate $WORK/big.csv -s $WORK/id.json --quiet > /dev/null" /dev/null < /dev/null | wc -c
0
$ rowkit validate $WORK/big.csv -s $WORK/id.json --outcome
true
