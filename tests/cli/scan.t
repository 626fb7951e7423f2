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
