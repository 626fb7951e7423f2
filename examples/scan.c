/* scan: prints name, city and age of everyone aged 30 or more.
 *
 *   scan [FILE]      FILE defaults to examples/people.csv
 *
 * Options are fixed when a handle is opened, so a first handle reads the
 * header to find the columns by name and a second one does the filtered,
 * projected read. */
#include <stdint.h>
#include <stdio.h>

#include "rowkit.h"

static int fail(const char *path)
{
    const char *message = rowkit_last_error();
    fprintf(stderr, "scan: %s: %s\n", path, message ? message : "unknown error");
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
        return fail(path);
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
    COptions options = {.columns = columns, .n_columns = 3,
                        .where = &age_at_least_30, .n_where = 1,
                        .limit = -1, .max_column = -1};
    Ctx *ctx = rowkit_open(path, &options);
    if (!ctx)
        return fail(path);

    for (i = 0; i < 3; i++)
        printf("%s%c", rowkit_column_name(ctx, columns[i]), i < 2 ? '\t' : '\n');

    const char *const *fields;
    size_t n;
    int rc;
    while ((rc = rowkit_next(ctx, &fields, &n)) == 1) {
        for (i = 0; i < n; i++)
            printf("%s%c", fields[i], i + 1 < n ? '\t' : '\n');
    }
    if (rc < 0)
        fail(path);
    rowkit_close(ctx);
    return rc < 0 ? 1 : 0;
}
