# Library errors: the last-error message behind "rowkit: ", exit status 2.
$ rowkit headers examples/nope.csv
! rowkit: open failed: FileNotFound (file "examples/nope.csv")
[2]
$ rowkit count examples
! rowkit: open failed: IsDir (file "examples")
[2]
$ : > $WORK/empty.csv; rowkit select $WORK/empty.csv
! rowkit: open failed: EmptyFile (file "$WORK/empty.csv")
[2]
$ printf 'not json\n' > $WORK/bad.ndjson; rowkit headers $WORK/bad.ndjson
! rowkit: open failed: InvalidJson (file "$WORK/bad.ndjson", line 1, byte offset 0)
[2]
# A row the reader refuses stops the command after the rows before it.
$ printf 'a,b\n1,2\n"3,4\n5,6\n' > $WORK/open.csv; rowkit select $WORK/open.csv
a,b
1,2
! rowkit: next failed: UnterminatedQuote (file "$WORK/open.csv", line 3, byte offset 8)
[2]
$ rowkit count $WORK/open.csv --where 'a > 0'
! rowkit: count failed: UnterminatedQuote (file "$WORK/open.csv", line 3, byte offset 8)
[2]
$ rowkit sort $WORK/open.csv a
! rowkit: order_by failed: UnterminatedQuote (file "$WORK/open.csv", line 3, byte offset 8)
[2]
# A pipe read through a temporary copy is named as the user gave it.
$ cat $WORK/open.csv | rowkit count /dev/stdin --where 'a > 0'
! rowkit: count failed: UnterminatedQuote (file "/dev/stdin", line 3, byte offset 8)
[2]
# A closed pipe ends the program quietly with status 0; other write errors
# are reported.
$ awk 'BEGIN { print "n,text"; for (i = 0; i < 200000; i++) print i ",row number " i }' > $WORK/big.csv; rowkit select $WORK/big.csv | head -n 3; rowkit select $WORK/big.csv --format ndjson | head -n 1
n,text
0,row number 0
1,row number 1
["0","row number 0"]
$ rowkit scan $WORK/big.csv | head -n 2
n,text
0,row number 0
$ rowkit sort $WORK/big.csv n --descending | head -n 2
n,text
199999,row number 199999
$ rowkit headers examples/people.csv > /dev/full
! rowkit: cannot write output: No space left on device
[2]
