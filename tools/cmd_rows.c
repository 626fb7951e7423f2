/* cmd_rows.c - the commands that read rows as they come: headers, count and
 * select. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "cli.h"
#include "command.h"
#include "output.h"
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

enum { OPT_SELECT_COLUMNS = OPT_FIRST_OWN, OPT_SELECT_LIMIT, OPT_SELECT_FORMAT };

int cmd_select(int argc, char **argv)
{
    static const OptionSpec specs[] = {
        FILTER_OPTIONS, {"columns", 'c', 1}, {"limit", 'n', 1}, {"format", 0, 1}};
    CommandLine line;
    command_begin(&line, argc, argv, specs, sizeof specs / sizeof specs[0], 1, file_only, 1);
    const char *columns_text = NULL;
    uint64_t limit = UINT64_MAX;
    const char *value;
    int id;
    while ((id = command_next(&line, &value)) >= 0) {
        if (id == OPT_SELECT_COLUMNS)
            columns_text = value;
        else if (id == OPT_SELECT_LIMIT) {
            if (args_number("--limit", value, INT64_MAX, &limit) < 0)
                return command_end(&line, STATUS_ERROR);
        } else if (strcmp(value, "csv") != 0) {
            fail_usage("--format expects csv, got \"%s\"", value);
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
        input_write_header(&line.input, columns,
                           columns ? n_columns : input_n_columns(&line.input));
        const char *const *fields;
        size_t n;
        int rc = 0;
        while (!out_closed() && (rc = rowkit_next(ctx, &fields, &n)) == 1)
            out_csv_record(fields, n);
        if (!out_closed() && rc < 0)
            status = fail_library();
    }
    free(columns);
    return command_end(&line, status);
}
