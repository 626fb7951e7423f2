/* input.c - the input file's header and column references. */
#include "input.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "args.h"
#include "output.h"

int input_open(Input *input, const char *path)
{
    struct stat st;
    input->path = path;
    input->rows = NULL;
    input->regular = stat(path, &st) == 0 && S_ISREG(st.st_mode);
    input->header = rowkit_open(path, NULL);
    return input->header ? 0 : (fail_library(), -1);
}

void input_close(Input *input)
{
    if (input->rows != input->header)
        rowkit_close(input->rows);
    rowkit_close(input->header);
    input->rows = input->header = NULL;
}

Ctx *input_rows(Input *input, const COptions *options)
{
    if (options->n_columns == 0 && options->n_where == 0 && options->limit < 0 &&
        options->max_column < 0 && !options->negate)
        return input->rows = input->header;
    if (!input->regular) {
        fail("%s is not a regular file, and this command reads it twice: for its header, "
             "then for its rows",
             input->path);
        return NULL;
    }
    input->rows = rowkit_open(input->path, options);
    if (!input->rows)
        fail_library();
    return input->rows;
}

size_t input_n_columns(const Input *input) { return rowkit_n_columns(input->header); }

const char *input_column_name(const Input *input, size_t index)
{
    return rowkit_column_name(input->header, index);
}

void input_write_header(const Input *input, const size_t *columns, size_t n)
{
    for (size_t i = 0; i < n; i++) {
        const char *name = input_column_name(input, columns ? columns[i] : i);
        if (i > 0)
            out_char(',');
        if (name && name[0])
            out_csv_field(name);
        else if (n == 1)
            out_bytes("\"\"", 2); /* a lone empty field is not an empty line */
    }
    out_char('\n');
}

/* "#" followed by digits only. */
static int is_index_reference(const char *reference)
{
    if (reference[0] != '#' || reference[1] == '\0')
        return 0;
    for (const char *p = reference + 1; *p; p++)
        if (*p < '0' || *p > '9')
            return 0;
    return 1;
}

int input_column(const Input *input, const char *reference, size_t *out)
{
    if (is_index_reference(reference)) {
        size_t n = input_n_columns(input);
        size_t index = 0;
        for (const char *p = reference + 1; *p && index < n; p++)
            index = index * 10 + (size_t)(*p - '0'); /* stops once past n: no overflow */
        if (index >= n)
            return fail_usage("column %s is out of range: the header has %zu column%s",
                              reference, n, n == 1 ? "" : "s"),
                   -1;
        *out = index;
        return 0;
    }
    size_t index = rowkit_column_index(input->header, reference);
    if (index == SIZE_MAX)
        return fail_usage("unknown column \"%s\"", reference), -1;
    *out = index;
    return 0;
}

int input_column_list(const Input *input, const char *list, size_t **out, size_t *n)
{
    char **items;
    size_t count;
    if (args_split_list("--columns", list, &items, &count) < 0)
        return -1;
    size_t *columns = malloc(count * sizeof *columns);
    int rc = columns ? 0 : (fail_no_memory(), -1);
    for (size_t i = 0; rc == 0 && i < count; i++)
        rc = input_column(input, items[i], &columns[i]);
    args_free_list(items, count);
    if (rc < 0) {
        free(columns);
        return -1;
    }
    *out = columns;
    *n = count;
    return 0;
}
