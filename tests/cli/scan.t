# scan: the whole file through the columnar collect, written back as CSV.
$ rowkit scan examples/people.csv --where 'age > 45'
id,name,age,city,email
6,Farah Aziz,52,Amman,farah@example.org
9,Ivo Petrov,47,Plovdiv,ivo@example.org
12,Lea Brandt,65,Bremen,lea@example.org
$ rowkit scan examples/people.ndjson --not -w 'id <= 12'
id,name,age,city,email
13,Mo Idris,-4,Oslo,mo@example.org
14,Nia Obi,thirty,,nia@example.org
x15,O,38,Tunis,
$ rowkit scan examples/people.csv --summary --quiet
column,rows,bytes
id,12,15
name,12,123
age,12,24
city,12,72
email,12,186
$ rowkit scan examples/people.csv --summary --where 'age > 100'
column,rows,bytes
id,0,0
name,0,0
age,0,0
city,0,0
email,0,0
$ rowkit scan examples/people.csv --where 'age > 100'
id,name,age,city,email
# Several threads give the rows in file order; a pipe is copied first, since
# the parallel reader needs positions.
$ awk 'BEGIN { print "n,sq"; for (i = 0; i < 30000; i++) print i "," i * i }' > $WORK/many.csv; rowkit scan $WORK/many.csv --threads 4 | cmp - $WORK/many.csv && cat $WORK/many.csv | rowkit scan /dev/stdin -t 3 -w 'n >= 29998'
n,sq
29998,899880004
29999,899940001
# Another delimiter splits the header too, so names resolve; output is CSV.
$ printf 'a;b;c\n1;"x;y";3\n4;5;6\n' > $WORK/semi.csv; rowkit scan $WORK/semi.csv -d ';' -w 'b != 5'; printf 'a\tb\n1\t2\n' | rowkit scan /dev/stdin --delimiter tab --summary
a,b,c
1,x;y,3
column,rows,bytes
a,1,1
b,1,1
# Lines of JSON records that are not objects are skipped and nested values
# left empty by the parallel reader: both are counted on standard error.
$ printf '{"a":1,"b":2}\nnot json\n{"a":{"x":1},"b":3}\n' > $WORK/skip.ndjson; rowkit scan $WORK/skip.ndjson
a,b
1,2
,3
! rowkit: skipped 1 line that is not a JSON object
! rowkit: left 1 nested value empty
# Usage and library errors.
$ rowkit scan examples/people.csv --delimiter ';;'
! rowkit: --delimiter expects one character other than a double quote or a line break, got ";;"
! rowkit: usage: rowkit scan FILE [--threads N] [--delimiter C] [--summary] [--quiet] [FILTERS]
[2]
$ rowkit scan examples/people.csv --threads many
! rowkit: --threads expects a whole number, got "many"
! rowkit: usage: rowkit scan FILE [--threads N] [--delimiter C] [--summary] [--quiet] [FILTERS]
[2]
$ printf 'a,b\n"x\ny",1\n' > $WORK/break.csv; rowkit scan $WORK/break.csv
! rowkit: parallel scan failed: UnterminatedQuote
[2]
$ rowkit scan examples/nope.csv; : | rowkit scan /dev/stdin -d ';'
! rowkit: open failed: FileNotFound (file "examples/nope.csv")
! rowkit: open failed: EmptyFile (file "/dev/stdin")
[2]
