# Every row, header first; fields quoted by the library's writing rule.
$ rowkit select examples/people.csv
id,name,age,city,email
1,Ada Moreau,36,Lyon,ada@example.org
2,Ben Okafor,24,Lagos,ben@example.org
3,Chloe Park,41,"Portland, OR",chloe@example.org
4,Dev Sharma,29,Pune,dev@example.org
5,"Eli ""Bo"" Levin",30,Haifa,eli@example.org
6,Farah Aziz,52,Amman,farah@example.org
7,Gus Lindqvist,19,Uppsala,gus@example.org
8,Hana Sato,33,Kyoto,hana@example.org
9,Ivo Petrov,47,Plovdiv,ivo@example.org
10,Jade Wu,27,Taipei,jade@example.org
11,Kai Mendes,30,Recife,kai@example.org
12,Lea Brandt,65,Bremen,lea@example.org
$ rowkit select examples/people.csv --columns name,city --where 'age >= 30' --limit 4
name,city
Ada Moreau,Lyon
Chloe Park,"Portland, OR"
"Eli ""Bo"" Levin",Haifa
Farah Aziz,Amman
$ rowkit select examples/people.csv -c '#3,#1' -w 'name = "Eli ""Bo"" Levin"'
city,name
Haifa,"Eli ""Bo"" Levin"
$ rowkit select examples/people.csv --columns=email --where='age>60' -n0
email
$ rowkit select examples/people.csv --columns name --where 'city != Lyon' --where 'age <= 24' --not
name
Ada Moreau
Chloe Park
Dev Sharma
"Eli ""Bo"" Levin"
Farah Aziz
Hana Sato
Ivo Petrov
Jade Wu
Kai Mendes
Lea Brandt
# JSON records: escapes decoded, numbers as written; the comparison is the
# library's (numbers as numbers, anything else as bytes).
$ rowkit select examples/people.ndjson --columns id,name,age --where 'age > 40'
id,name,age
3,Chloe Park,41
6,Farah Aziz,52
9,Ivo Petrov,47
12,Lea Brandt,65
14,Nia Obi,thirty
# Fields that need quotes, a lone empty field, a ragged row.
$ printf 'a,b\n"x,y","say ""hi"""\n"line\r",z\n,\n' > $WORK/quote.csv; rowkit select $WORK/quote.csv | sed -n l
a,b$
"x,y","say ""hi"""$
"line\r",z$
,$
$ printf 'only\n\nx\n' > $WORK/lone.csv; rowkit select $WORK/lone.csv
only
""
x
$ printf 'a,b,c\n1\n2,3,4,5\n' > $WORK/ragged.csv; rowkit select $WORK/ragged.csv; rowkit select $WORK/ragged.csv -c c,a
a,b,c
1
2,3,4,5
c,a
,1
4,2
# Filters given before the file, and a file name after "--".
$ rowkit select -w 'id in 2,4' -c name -- examples/people.csv
name
Ben Okafor
Dev Sharma
# --format ndjson: one JSON array of values per line through the library's
# batches, no header line; bytes that are not UTF-8 come as their numbers.
$ rowkit select examples/people.ndjson --format ndjson -c name,city -w 'age > 45'
["Farah Aziz","Amman"]
["Ivo Petrov","Plovdiv"]
["Lea Brandt","Bremen"]
["Nia Obi",""]
$ printf 'a,b\n"say ""hi"", [x]",\\\n\377,\n' > $WORK/odd.csv; rowkit select $WORK/odd.csv --format=ndjson -n 5
["say \"hi\", [x]","\\"]
[[255],""]
$ rowkit select examples/people.csv --format ndjson -w 'age > 100'
$ rowkit select examples/people.csv --format tsv
! rowkit: --format expects csv or ndjson, got "tsv"
! rowkit: usage: rowkit select FILE [--columns LIST] [FILTERS] [--limit N] [--format csv|ndjson] [--quiet]
[2]
# A FIFO named like JSON records is copied into a file that keeps its suffix,
# so the copy is read as JSON records too, and removed at the end.
$ mkfifo $WORK/fifo.ndjson; mkdir $WORK/tmp; cat examples/people.ndjson > $WORK/fifo.ndjson & TMPDIR=$WORK/tmp rowkit select $WORK/fifo.ndjson -c name,city -n 2; ls $WORK/tmp
name,city
Ada Moreau,Lyon
Ben Okafor,Lagos
