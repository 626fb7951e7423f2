# stats: labels, shortest round-trip numbers, empty values when none is a number.
$ rowkit stats examples/people.csv age
count 12
sum   433
min   19
max   65
mean  36.083333333333336
$ rowkit stats examples/people.ndjson '#2' --where 'city != Oslo'
count 13
sum   471
min   19
max   65
mean  36.23076923076923
$ rowkit stats examples/people.csv name
count 0
sum   0
min
max
mean
$ rowkit stats examples/people.csv age --where 'age > 100'
count 0
sum   0
min
max
mean
# top: largest first, -k, --ascending; a key outside --columns is not printed.
$ rowkit top examples/people.csv age -k 3
id,name,age,city,email
12,Lea Brandt,65,Bremen,lea@example.org
6,Farah Aziz,52,Amman,farah@example.org
9,Ivo Petrov,47,Plovdiv,ivo@example.org
$ rowkit top examples/people.csv age -k 2 --ascending --columns name
name
Gus Lindqvist
Ben Okafor
$ rowkit top examples/people.ndjson age --columns name,age --where 'age < 30'
name,age
Dev Sharma,29
Jade Wu,27
Ben Okafor,24
Gus Lindqvist,19
Mo Idris,-4
$ rowkit top examples/people.csv age -k 0
id,name,age,city,email
# sort: numbers as numbers, text as bytes, stable in both directions.
$ rowkit sort examples/people.csv age --columns name,age --where 'age <= 30'
name,age
Gus Lindqvist,19
Ben Okafor,24
Jade Wu,27
Dev Sharma,29
"Eli ""Bo"" Levin",30
Kai Mendes,30
$ rowkit sort examples/people.csv age --columns name,age --where 'age <= 30' --descending
name,age
"Eli ""Bo"" Levin",30
Kai Mendes,30
Dev Sharma,29
Jade Wu,27
Ben Okafor,24
Gus Lindqvist,19
$ rowkit sort examples/people.csv city --columns city
city
Amman
Bremen
Haifa
Kyoto
Lagos
Lyon
Plovdiv
"Portland, OR"
Pune
Recife
Taipei
Uppsala
$ rowkit sort examples/people.ndjson id --descending --columns id -w 'id > 11'
id
x15
14
13
12
