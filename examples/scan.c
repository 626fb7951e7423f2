/* scan: prints name, city and age of everyone aged 30 or more.
 *
 *   scan [FILE]      FILE defaults to examples/people.csv
 *
 * Options are fixed when a handle is opened, so a first handle reads the
 * header to find the columns by name and a second one does the filtered,
 * projected read; FILE is therefore opened twice and must be a file, not a
 * pipe, which can be read only once. A row that cannot be read (an unclosed
 * quote, say) is reported on stderr with its line and skipped: the handle
 * stays usable and the next call goes on with the following row. The exit
 * status is 1 when any row failed. */
#include <stdint.h>
#include <stdio.h>

#include "rowkit.h"

/* A read error that does not go away makes every call fail; give up then. */
#define MAX_FAILURES_IN_A_ROW 100

/* Reports the last failure: "scan: FILE:LINE: MESSAGE" for a row of an open
 * handle, else the message and the library's detail (which names the file
 * and, for a bad header, its line). */
static int fail(const char *path, Ctx *ctx)
{
    const char *message = rowkit_last_error();
    const char *detail = rowkit_last_error_detail();
    uint64_t line = rowkit_line_number(ctx);
    if (!message)
        message = "unknown error";
    if (line)
        fprintf(stderr, "scan: %s:%llu: %s\n", path, (unsigned long long)line, message);
    else if (detail)
        fprintf(stderr, "scan: %s (%s)\n", message, detail);
    else
        fprintf(stderr, "scan: %s: %s\n", path, message);
    return 1;
}

int main(int argc, char **argv)
{
    const char *path = argc > 1 ? argv[1] : "examples/people.csv";
    const char *const wanted[3] = {"name", "city", "age"};
    size_t columns[3];
    size_t i;

    Ctx *header = rowkit_open(path, NULL);
    if (!header)
        return fail(path, NULL);
    for (i = 0; i < 3; i++) {
        columns[i] = rowkit_column_index(header, wanted[i]);
        if (columns[i] == SIZE_MAX) {
            fprintf(stderr, "scan: %s has no column \"%s\"\n", path, wanted[i]);
            rowkit_close(header);
            return 1;
        }
    }
    rowkit_close(header);

    CPredicate age_at_least_30 = {.column = columns[2], .op = ROWKIT_OP_GTE, .value = "30"};
    COptions options = ROWKIT_OPTIONS_INIT;
    options.columns = columns;
    options.n_columns = 3;
    options.where = &age_at_least_30;
    options.n_where = 1;
    Ctx *ctx = rowkit_open(path, &options);
    if (!ctx)
        return fail(path, NULL);

    for (i = 0; i < 3; i++)
        printf("%s%c", rowkit_column_name(ctx, columns[i]), i < 2 ? '\t' : '\n');

    const char *const *fields;
    size_t n;
    int rc;
    int failures = 0, failures_in_a_row = 0;
    while ((rc = rowkit_next(ctx, &fields, &n)) != 0) {
        if (rc < 0) {
            fail(path, ctx);
            failures++;
            if (++failures_in_a_row == MAX_FAILURES_IN_A_ROW)
                break;
            continue;
        }
        failures_in_a_row = 0;
        for (i = 0; i < n; i++)
            printf("%s%c", fields[i], i + 1 < n ? '\t' : '\n');
    }
    rowkit_close(ctx);
    return failures ? 1 : 0;
}
