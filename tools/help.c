/* help.c - the table of subcommands and every help text. */
#include "cli.h"

#define FILTERS_HELP                                                                \
    "Filters:\n"                                                                    \
    "  -w, --where 'EXPR'   keep the rows where EXPR holds; repeat it to require\n"  \
    "                       several (all must hold)\n"                              \
    "      --not            keep the rows the filters reject instead\n"             \
    "  EXPR is 'COLUMN OP VALUE' with OP one of = != > >= < <=, or\n"               \
    "  'COLUMN in V1,V2,...'. Two numbers compare as numbers, anything else as\n"   \
    "  bytes. A value in double quotes keeps its blanks and commas.\n"

#define PROGRESS_HELP                                                              \
    "On a terminal, a file of more than 64 MiB shows its progress on standard\n" \
    "error (percent read, MB/s, time elapsed) until the command ends.\n"

#define COLUMN_HELP "COLUMN is a header name or #N, the zero-based column N.\n"

const char cli_usage[] =
    "usage: rowkit COMMAND [ARGS]\n"
    "\n"
    "Reads CSV files with a header line and JSON records (.ndjson, .jsonl,\n"
    ".json: one object per line, or one array of objects) through librowkit.\n"
    "\n"
    "Commands:\n"
    "  headers   index and name of every column\n"
    "  count     number of matching rows\n"
    "  select    matching rows as CSV\n"
    "  stats     count, sum, min, max and mean of a numeric column\n"
    "  top       the rows with the largest (or smallest) numbers in a column\n"
    "  sort      every matching row, ordered by a column\n"
    "  scan      the whole file collected in columns, as CSV or a summary\n"
    "  validate  every row checked against a JSON schema\n"
    "  help      help on a command\n"
    "\n"
    "Options:\n"
    "  -h, --help   this help; after a command, that command's help\n"
    "  --version    the version\n"
    "\n"
    "Exit status: 0 success, 1 invalid rows found by validate, 2 error.\n"
    "Run 'rowkit help COMMAND' for a command's options.\n";

static const char headers_usage[] =
    "usage: rowkit headers FILE\n"
    "\n"
    "Prints the index and name of every column of FILE's header (for JSON\n"
    "records, the keys of the first object).\n"
    "\n"
    "Example:\n"
    "  rowkit headers examples/people.csv\n";

static const char count_usage[] =
    "usage: rowkit count FILE [FILTERS]\n"
    "\n"
    "Prints the number of rows that pass the filters. Without filters the\n"
    "lines after the header are counted without being parsed, so a blank line\n"
    "counts too.\n"
    "\n" FILTERS_HELP
    "\n"
    "Example:\n"
    "  rowkit count examples/people.csv --where 'age >= 30'\n";

static const char select_usage[] =
    "usage: rowkit select FILE [--columns LIST] [FILTERS] [--limit N] [--format csv|ndjson]"
    " [--quiet]\n"
    "\n"
    "Prints the matching rows as CSV: a header line, then one line per row,\n"
    "a field in double quotes when it holds a comma, a double quote or a line\n"
    "break. With --format ndjson, one JSON array of the row's values per line\n"
    "and no header line: strings, or an array of byte values for a value that\n"
    "is not UTF-8.\n" PROGRESS_HELP
    "\n"
    "Options:\n"
    "  -c, --columns LIST   only these columns, in this order: names or #N,\n"
    "                       separated by commas\n"
    "  -n, --limit N        at most N rows\n"
    "      --format FORMAT  csv (the default) or ndjson\n"
    "  -q, --quiet          no progress line\n"
    "\n" FILTERS_HELP
    "\n"
    "Example:\n"
    "  rowkit select examples/people.csv --columns name,city --where 'age >= 30'\n";

static const char stats_usage[] =
    "usage: rowkit stats FILE COLUMN [FILTERS]\n"
    "\n"
    "Prints count, sum, min, max and mean of the values of COLUMN that are\n"
    "numbers, over the matching rows; other values are skipped. min, max and\n"
    "mean are left empty when no value is a number.\n" COLUMN_HELP
    "\n" FILTERS_HELP
    "\n"
    "Example:\n"
    "  rowkit stats examples/people.csv age\n";

static const char top_usage[] =
    "usage: rowkit top FILE COLUMN [-k N] [--ascending] [--columns LIST] [FILTERS]\n"
    "\n"
    "Prints as CSV the N matching rows with the largest numbers in COLUMN,\n"
    "largest first. Rows whose COLUMN is not a number are left out.\n" COLUMN_HELP
    "\n"
    "Options:\n"
    "  -k N                 how many rows (default 10)\n"
    "      --ascending      the smallest numbers instead, smallest first\n"
    "  -c, --columns LIST   only these columns, in this order\n"
    "\n" FILTERS_HELP
    "\n"
    "Example:\n"
    "  rowkit top examples/people.csv age -k 3 --columns name,age\n";

static const char sort_usage[] =
    "usage: rowkit sort FILE COLUMN [--descending] [--columns LIST] [FILTERS]\n"
    "\n"
    "Prints every matching row as CSV, ordered by COLUMN: two values compare\n"
    "as numbers when both are numbers, else as bytes. Rows with equal keys keep\n"
    "their order.\n" COLUMN_HELP
    "\n"
    "Options:\n"
    "      --descending     largest first\n"
    "  -c, --columns LIST   only these columns, in this order\n"
    "\n" FILTERS_HELP
    "\n"
    "Example:\n"
    "  rowkit sort examples/people.csv city --columns city,name\n";

static const char scan_usage[] =
    "usage: rowkit scan FILE [--threads N] [--delimiter C] [--summary] [--quiet] [FILTERS]\n"
    "\n"
    "Collects the matching rows of the whole file into columns on several\n"
    "threads (the library's parallel columnar collect: the file is cut at line\n"
    "feeds, so a quoted field may not hold a line break) and writes them back\n"
    "as CSV, every row brought to the header's width; with --summary, the rows\n"
    "and bytes of each column instead. A pipe is first copied into a temporary\n"
    "file. Lines of JSON records that are not objects are skipped and nested\n"
    "values left empty; both are counted on standard error.\n" PROGRESS_HELP
    "\n"
    "Options:\n"
    "  -t, --threads N      threads to use (default 0: one per processor)\n"
    "  -d, --delimiter C    the CSV field delimiter, one character (default ,;\n"
    "                       'tab' or '\\t' for a tab); ignored for JSON records\n"
    "      --summary        one line per column: name, rows, bytes\n"
    "  -q, --quiet          no progress line\n"
    "\n" FILTERS_HELP
    "\n"
    "Example:\n"
    "  rowkit scan examples/people.ndjson --summary\n";

static const char validate_usage[] =
    "usage: rowkit validate FILE --schema SCHEMA [--max-errors N | --accepted A --rejected R"
    " | --outcome [--full]] [--quiet]\n"
    "       rowkit validate --stdin csv|json --schema SCHEMA --outcome [--full]\n"
    "\n"
    "Checks every row of FILE against the JSON schema in the file SCHEMA and\n"
    "prints the report as one line of JSON: row counts, error counts by rule\n"
    "and the first errors. Exit status 1 when any row is invalid.\n" PROGRESS_HELP
    "\n"
    "Options:\n"
    "  -s, --schema SCHEMA  the schema file\n"
    "      --max-errors N   keep at most N errors in the report (default 100);\n"
    "                       every error is still counted\n"
    "      --accepted A     write the valid rows to the new CSV file A and\n"
    "      --rejected R     the invalid ones, with their errors, to the new file R\n"
    "                       (one JSON object per line); print the totals\n"
    "      --outcome        print only true or false (stops at the first invalid\n"
    "                       row)\n"
    "      --full           with --outcome: the invalid rows with their values and\n"
    "                       errors, [] when there is none\n"
    "      --stdin FORMAT   with --outcome: validate the text on standard input,\n"
    "                       csv or json (JSON records), instead of FILE\n"
    "  -q, --quiet          no progress line\n"
    "\n"
    "Examples:\n"
    "  rowkit validate examples/people.ndjson --schema examples/people.schema.json\n"
    "  rowkit validate examples/people.ndjson -s examples/people.schema.json --outcome --full\n";

const Command cli_commands[] = {
    {"headers", headers_usage, cmd_headers},
    {"count", count_usage, cmd_count},
    {"select", select_usage, cmd_select},
    {"stats", stats_usage, cmd_stats},
    {"top", top_usage, cmd_top},
    {"sort", sort_usage, cmd_sort},
    {"scan", scan_usage, cmd_scan},
    {"validate", validate_usage, cmd_validate},
};
const unsigned cli_n_commands = sizeof cli_commands / sizeof cli_commands[0];
