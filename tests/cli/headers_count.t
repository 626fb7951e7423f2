# headers: index and name of every column; JSON records give their keys.
$ rowkit headers examples/people.csv
0  id
1  name
2  age
3  city
4  email
$ rowkit headers examples/people.ndjson
0  id
1  name
2  age
3  city
4  email
$ printf '%s\n' c0,c1,c2,c3,c4,c5,c6,c7,c8,c9,c10 > $WORK/wide.csv; rowkit headers $WORK/wide.csv
 0  c0
 1  c1
 2  c2
 3  c3
 4  c4
 5  c5
 6  c6
 7  c7
 8  c8
 9  c9
10  c10
# count: every line after the header without filters, blank ones too.
$ rowkit count examples/people.csv
12
$ printf 'a,b\n1,2\n\n3,4' > $WORK/blank.csv; rowkit count $WORK/blank.csv
3
$ rowkit count examples/people.csv --where 'age >= 30'
8
$ rowkit count examples/people.csv --where 'age >= 30' --not
4
$ rowkit count examples/people.csv -w 'age >= 30' -w 'city in Lyon,Kyoto,"Portland, OR"'
3
$ rowkit count examples/people.ndjson --where 'age < 0'
1
# Standard input: a pipe is read once when the command needs nothing from
# its header before the rows, else first copied into a temporary file.
$ rowkit count /dev/stdin < examples/people.csv
12
$ cat examples/people.csv | rowkit count /dev/stdin
12
$ cat examples/people.csv | rowkit select /dev/stdin --columns name,age --where 'age > 45'
name,age
Farah Aziz,52
Ivo Petrov,47
Lea Brandt,65
$ cat examples/people.csv | rowkit top /dev/stdin age -k 1 --columns name
name
Lea Brandt
$ cat examples/people.csv | TMPDIR=$WORK/none rowkit stats /dev/stdin age
! rowkit: cannot make a temporary file in $WORK/none: No such file or directory
[2]
