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
! rowkit: usage: rowkit validate FILE --schema SCHEMA [--max-errors N] [--quiet]
[2]
$ rowkit validate examples/people.csv --schema examples/people.schema.json --max-errors 0
! rowkit: --max-errors must be at least 1
! rowkit: usage: rowkit validate FILE --schema SCHEMA [--max-errors N] [--quiet]
[2]
