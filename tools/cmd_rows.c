/* cmd_rows.c - the commands that read rows as they come: headers, count and
 * select. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "cli.h"
#include "command.h"
#include "output.h"
#include "progress.h"
#include "rowkit.h"

static const char *const file_only[] = {"FILE"};

int cmd_headers(int argc, char **argv)
{
    CommandLine line;
    command_begin(&line, argc, argv, NULL, 0, 0, file_only, 1);
    const char *value;
    if (command_next(&line, &value) != ARGS_END || command_open(&line, 0) < 0)
        return command_end(&line, STATUS_ERROR);
    size_t n = input_n_columns(&line.input);
    int width = 1;
    for (size_t limit = 10; limit < n; limit *= 10)
        width++;
    for (size_t i = 0; i < n && !out_closed(); i++) {
        char index[32];
        int length = snprintf(index, sizeof index, "%*zu  ", width, i);
        out_bytes(index, (size_t)length);
        out_str(input_column_name(&line.input, i));
        out_char('\n');
    }
    return command_end(&line, STATUS_OK);
}

int cmd_count(int argc, char **argv)
{
    static const OptionSpec specs[] = {FILTER_OPTIONS};
    CommandLine line;
    command_begin(&line, argc, argv, specs, 2, 1, file_only, 1);
    const char *value;
    if (command_next(&line, &value) != ARGS_END || command_open(&line, 0) < 0)
        return command_end(&line, STATUS_ERROR);
    COptions options = filters_options(&line.filters);
    if (line.filters.n_expressions > 0)
        options.max_column = (int64_t)filters_max_column(&line.filters, 0);
    Ctx *ctx = input_rows(&line.input, &options);
    int64_t count = ctx ? rowkit_count(ctx) : -1;
    int status = STATUS_OK;
    if (!ctx) {
        status = STATUS_ERROR;
    } else if (count < 0) {
        status = fail_library();
    } else {
        out_u64((uint64_t)count);
        out_char('\n');
    }
    return command_end(&line, status);
}

/* Every row as CSV; 0 at the end or once the reader went away, -1 after
 * reporting the library's error. */
static int write_csv_rows(Ctx *ctx)
{
    const char *const *fields;
    size_t n;
    unsigned rows = 0;
    int rc = 0;
    while (!out_closed() && (rc = rowkit_next(ctx, &fields, &n)) == 1) {
        out_csv_record(fields, n);
        if (++rows % 1024 == 0 && progress_active())
            progress_update(rowkit_bytes_read(ctx));
    }
    return !out_closed() && rc < 0 ? (fail_library(), -1) : 0;
}

/* Writes the rows of one batch, [[...],[...]], one array per line. The text
 * is the library's: values are strings or arrays of numbers, strings hold
 * no raw line break, so a row ends where its bracket depth falls back. */
static void write_batch_rows(const char *json, size_t length)
{
    size_t depth = 0, row_start = 0;
    int in_string = 0;
    for (size_t i = 0; i < length; i++) {
        char c = json[i];
        if (in_string) {
            if (c == '\\')
                i++;
            else if (c == '"')
                in_string = 0;
        } else if (c == '"') {
            in_string = 1;
        } else if (c == '[') {
            if (++depth == 2)
                row_start = i;
        } else if (c == ']') {
            if (depth-- == 2) {
                out_bytes(json + row_start, i + 1 - row_start);
                out_char('\n');
            }
        }
    }
}

/* Every row as a JSON array of its values, one per line, through batches;
 * 0, or -1 after reporting the library's error. */
static int write_ndjson_rows(Ctx *ctx)
{
    Batch *batch;
    int rc = 0;
    while (!out_closed() && (rc = rowkit_next_batch(ctx, 4096, 1 << 20, &batch)) == 1) {
        size_t length;
        const char *json = rowkit_batch_json(batch, &length);
        write_batch_rows(json, length);
        rowkit_batch_free(batch);
        if (progress_active())
            progress_update(rowkit_bytes_read(ctx));
    }
    return !out_closed() && rc < 0 ? (fail_library(), -1) : 0;
}

enum { OPT_SELECT_COLUMNS = OPT_FIRST_OWN, OPT_SELECT_LIMIT, OPT_SELECT_FORMAT, OPT_SELECT_QUIET };

int cmd_select(int argc, char **argv)
{
    static const OptionSpec specs[] = {FILTER_OPTIONS,
                                       {"columns", 'c', 1},
                                       {"limit", 'n', 1},
                                       {"format", 0, 1},
                                       {"quiet", 'q', 0}};
    CommandLine line;
    command_begin(&line, argc, argv, specs, sizeof specs / sizeof specs[0], 1, file_only, 1);
    const char *columns_text = NULL;
    uint64_t limit = UINT64_MAX;
    int ndjson = 0, quiet = 0;
    const char *value;
    int id;
    while ((id = command_next(&line, &value)) >= 0) {
        if (id == OPT_SELECT_COLUMNS) {
            columns_text = value;
        } else if (id == OPT_SELECT_LIMIT) {
            if (args_number("--limit", value, INT64_MAX, &limit) < 0)
                return command_end(&line, STATUS_ERROR);
        } else if (id == OPT_SELECT_QUIET) {
            quiet = 1;
        } else if (strcmp(value, "csv") == 0 || strcmp(value, "ndjson") == 0) {
            ndjson = value[0] == 'n';
        } else {
            fail_usage("--format expects csv or ndjson, got \"%s\"", value);
            return command_end(&line, STATUS_ERROR);
        }
    }
    if (id == ARGS_ERROR || command_open(&line, columns_text || limit != UINT64_MAX) < 0)
        return command_end(&line, STATUS_ERROR);

    size_t *columns = NULL, n_columns = 0;
    if (columns_text && input_column_list(&line.input, columns_text, &columns, &n_columns) < 0)
        return command_end(&line, STATUS_ERROR);
    COptions options = filters_options(&line.filters);
    options.columns = columns;
    options.n_columns = n_columns;
    options.limit = limit == UINT64_MAX ? -1 : (int64_t)limit;
    if (columns) {
        size_t highest = 0;
        for (size_t i = 0; i < n_columns; i++)
            highest = columns[i] > highest ? columns[i] : highest;
        options.max_column = (int64_t)filters_max_column(&line.filters, highest);
    }

    int status = STATUS_OK;
    Ctx *ctx = input_rows(&line.input, &options);
    if (!ctx) {
        status = STATUS_ERROR;
    } else {
        progress_start(line.input.path, quiet);
        if (!ndjson)
            input_write_header(&line.input, columns,
                               columns ? n_columns : input_n_columns(&line.input));
        if ((ndjson ? write_ndjson_rows(ctx) : write_csv_rows(ctx)) < 0)
            status = STATUS_ERROR;
    }
    free(columns);
    return command_end(&line, status);
}
