/* cmd_scan.c - scan: the whole file collected into columns, written back as
 * CSV, or a summary of rows and bytes per column. */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "cli.h"
#include "command.h"
#include "output.h"
#include "progress.h"
#include "rowkit.h"

static const char *const file_only[] = {"FILE"};

/* The matching rows of the whole file in columns, read by `threads`
 * threads (0: one per processor); NULL after reporting the library's
 * error. Lines of JSON records the parallel reader skipped or values it
 * left empty are reported on standard error. */
static CollectColumnarCtx *collect(CommandLine *line, char delimiter, uint64_t threads,
                                   int quiet)
{
    COptions filters = filters_options(&line->filters);
    progress_call_start(line->input.path, quiet);
    CollectColumnarCtx *columns =
        rowkit_parallel_collect_columnar(line->input.path, (uint8_t)delimiter, filters.where,
                                         filters.n_where, filters.negate, (size_t)threads);
    progress_call_end();
    if (!columns) {
        fail_library();
        return NULL;
    }
    size_t skipped = rowkit_collect_columnar_n_skipped_lines(columns);
    size_t emptied = rowkit_collect_columnar_n_emptied_values(columns);
    if (skipped)
        fail("skipped %zu line%s that %s not a JSON object", skipped, skipped == 1 ? "" : "s",
             skipped == 1 ? "is" : "are");
    if (emptied)
        fail("left %zu nested value%s empty", emptied, emptied == 1 ? "" : "s");
    return columns;
}

/* The name of result column `c`: the header's, or empty for a column past
 * the header's end. */
static const char *column_name(const Input *input, size_t c)
{
    const char *name = input_column_name(input, c);
    return name ? name : "";
}

static void write_summary(const Input *input, CollectColumnarCtx *columns)
{
    size_t n_rows = rowkit_collect_columnar_n_rows(columns);
    size_t n_cols = rowkit_collect_columnar_n_cols(columns);
    /* Without rows there are no result columns: list the header's. */
    size_t n = n_cols ? n_cols : input_n_columns(input);
    out_str("column,rows,bytes\n");
    for (size_t c = 0; c < n && !out_closed(); c++) {
        size_t bytes = 0;
        rowkit_collect_columnar_data(columns, c, &bytes);
        out_csv_field(column_name(input, c));
        out_char(',');
        out_u64(n_rows);
        out_char(',');
        out_u64(bytes);
        out_char('\n');
    }
}

static int write_rows(const Input *input, CollectColumnarCtx *columns)
{
    size_t n_rows = rowkit_collect_columnar_n_rows(columns);
    size_t n_cols = rowkit_collect_columnar_n_cols(columns);
    /* Without rows there are no result columns: the header's names alone. */
    input_write_header(input, NULL, n_cols ? n_cols : input_n_columns(input));
    if (n_cols == 0)
        return 0;
    const uint32_t **offsets = malloc(n_cols * sizeof *offsets);
    const char **data = malloc(n_cols * sizeof *data);
    if (!offsets || !data) {
        free(offsets);
        free(data);
        return fail_no_memory(), -1;
    }
    for (size_t c = 0; c < n_cols; c++) {
        offsets[c] = rowkit_collect_columnar_offsets(columns, c, NULL);
        data[c] = (const char *)rowkit_collect_columnar_data(columns, c, NULL);
    }
    for (size_t r = 0; r < n_rows && !out_closed(); r++) {
        for (size_t c = 0; c < n_cols; c++) {
            uint32_t start = offsets[c][r], end = offsets[c][r + 1];
            if (c > 0)
                out_char(',');
            if (end > start)
                out_csv_bytes(data[c] + start, end - start);
            else if (n_cols == 1)
                out_bytes("\"\"", 2); /* a lone empty field is not an empty line */
        }
        out_char('\n');
    }
    free(offsets);
    free(data);
    return 0;
}

enum { OPT_SCAN_SUMMARY = OPT_FIRST_OWN, OPT_SCAN_THREADS, OPT_SCAN_DELIMITER, OPT_SCAN_QUIET };

int cmd_scan(int argc, char **argv)
{
    static const OptionSpec specs[] = {
        FILTER_OPTIONS, {"summary", 0, 0}, {"threads", 't', 1}, {"delimiter", 'd', 1},
        {"quiet", 'q', 0}};
    CommandLine line;
    command_begin(&line, argc, argv, specs, sizeof specs / sizeof specs[0], 1, file_only, 1);
    int summary = 0, quiet = 0;
    uint64_t threads = 0;
    char delimiter = ',';
    const char *value;
    int id;
    while ((id = command_next(&line, &value)) >= 0) {
        if (id == OPT_SCAN_SUMMARY) {
            summary = 1;
        } else if (id == OPT_SCAN_QUIET) {
            quiet = 1;
        } else if (id == OPT_SCAN_THREADS) {
            if (args_number("--threads", value, 4096, &threads) < 0)
                return command_end(&line, STATUS_ERROR);
        } else if (strcmp(value, "\\t") == 0 || strcmp(value, "tab") == 0) {
            delimiter = '\t';
        } else if (strlen(value) != 1 || value[0] == '"' || value[0] == '\n' ||
                   value[0] == '\r') {
            fail_usage("--delimiter expects one character other than a double quote or a line "
                       "break, got \"%s\"",
                       value);
            return command_end(&line, STATUS_ERROR);
        } else {
            delimiter = value[0];
        }
    }
    if (id == ARGS_ERROR)
        return command_end(&line, STATUS_ERROR);
    /* The parallel reader needs a regular file: a pipe is spooled. */
    int opened = delimiter != ',' && !input_is_json(line.positionals[0])
                     ? input_open_delimited(&line.input, line.positionals[0], delimiter)
                     : input_open(&line.input, line.positionals[0], 1);
    if (opened < 0 || filters_resolve(&line.filters, &line.input) < 0)
        return command_end(&line, STATUS_ERROR);
    CollectColumnarCtx *columns = collect(&line, delimiter, threads, quiet);
    if (!columns)
        return command_end(&line, STATUS_ERROR);
    int status = STATUS_OK;
    if (summary)
        write_summary(&line.input, columns);
    else if (write_rows(&line.input, columns) < 0)
        status = STATUS_ERROR;
    rowkit_collect_columnar_close(columns);
    return command_end(&line, status);
}
