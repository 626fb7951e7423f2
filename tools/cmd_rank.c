/* cmd_rank.c - the commands that look at every matching row before they
 * answer: stats, top and sort. */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "cli.h"
#include "command.h"
#include "output.h"
#include "rowkit.h"

static const char *const file_and_column[] = {"FILE", "COLUMN"};

/* "label value", values aligned; the label alone when there is no value. */
static void write_stat(const char *label, double value, int has_value)
{
    out_str(label);
    if (has_value) {
        out_bytes("      ", 6 - strlen(label));
        out_double(value);
    }
    out_char('\n');
}

int cmd_stats(int argc, char **argv)
{
    static const OptionSpec specs[] = {FILTER_OPTIONS};
    CommandLine line;
    command_begin(&line, argc, argv, specs, 2, 1, file_and_column, 2);
    const char *value;
    size_t column;
    if (command_next(&line, &value) != ARGS_END || command_open(&line, 1) < 0 ||
        input_column(&line.input, line.positionals[1], &column) < 0)
        return command_end(&line, STATUS_ERROR);
    COptions options = filters_options(&line.filters);
    options.max_column = (int64_t)filters_max_column(&line.filters, column);
    Ctx *ctx = input_rows(&line.input, &options);
    AggC stats;
    int status = STATUS_OK;
    if (!ctx) {
        status = STATUS_ERROR;
    } else if (rowkit_aggregate(ctx, column, &stats) < 0) {
        status = fail_library();
    } else {
        out_str("count ");
        out_u64(stats.count);
        out_char('\n');
        write_stat("sum", stats.sum, 1);
        write_stat("min", stats.min, stats.has_values);
        write_stat("max", stats.max, stats.has_values);
        write_stat("mean", stats.avg, stats.has_values);
    }
    return command_end(&line, status);
}

/* What top and sort share: the key column, the optional --columns
 * projection, and writing the rows a cursor hands out. */
typedef struct Ranking {
    size_t *columns;  /* projection: the --columns list, then the key when
                         the list lacks it; NULL without --columns */
    size_t n_columns; /* entries in columns */
    size_t n_output;  /* columns written: the list's length */
    size_t key;       /* the key's index in the rows the handle delivers */
} Ranking;

/* Resolves the key and --columns and opens the handle. */
static Ctx *open_ranking(CommandLine *line, const char *columns_text, Ranking *ranking)
{
    size_t key;
    if (input_column(&line->input, line->positionals[1], &key) < 0)
        return NULL;
    ranking->key = key;
    ranking->columns = NULL;
    ranking->n_columns = ranking->n_output = 0;
    COptions options = filters_options(&line->filters);
    if (columns_text) {
        size_t *list, n;
        if (input_column_list(&line->input, columns_text, &list, &n) < 0)
            return NULL;
        size_t *columns = realloc(list, (n + 1) * sizeof *columns);
        if (!columns) {
            free(list);
            fail_no_memory();
            return NULL;
        }
        size_t at = 0, highest = key;
        while (at < n && columns[at] != key)
            at++;
        for (size_t i = 0; i < n; i++)
            highest = columns[i] > highest ? columns[i] : highest;
        columns[n] = key;
        ranking->columns = columns;
        ranking->n_output = n;
        ranking->n_columns = at == n ? n + 1 : n;
        ranking->key = at;
        options.columns = columns;
        options.n_columns = ranking->n_columns;
        options.max_column = (int64_t)filters_max_column(&line->filters, highest);
    }
    return input_rows(&line->input, &options);
}

/* The header line: the --columns list, or every column. */
static void write_ranked_header(const Input *input, const Ranking *ranking)
{
    if (ranking->columns)
        input_write_header(input, ranking->columns, ranking->n_output);
    else
        input_write_header(input, NULL, input_n_columns(input));
}

static void write_ranked_row(const Ranking *ranking, const char *const *fields, size_t n)
{
    out_csv_record(fields, ranking->columns && ranking->n_output < n ? ranking->n_output : n);
}

enum { OPT_TOP_K = OPT_FIRST_OWN, OPT_TOP_ASCENDING, OPT_TOP_COLUMNS };

int cmd_top(int argc, char **argv)
{
    static const OptionSpec specs[] = {
        FILTER_OPTIONS, {"k", 'k', 1}, {"ascending", 0, 0}, {"columns", 'c', 1}};
    CommandLine line;
    command_begin(&line, argc, argv, specs, sizeof specs / sizeof specs[0], 1,
                  file_and_column, 2);
    uint64_t k = 10;
    int ascending = 0;
    const char *columns_text = NULL;
    const char *value;
    int id;
    while ((id = command_next(&line, &value)) >= 0) {
        if (id == OPT_TOP_K) {
            if (args_number("-k", value, SIZE_MAX, &k) < 0)
                return command_end(&line, STATUS_ERROR);
        } else if (id == OPT_TOP_ASCENDING) {
            ascending = 1;
        } else {
            columns_text = value;
        }
    }
    Ranking ranking = {0};
    Ctx *ctx = NULL;
    if (id == ARGS_ERROR || command_open(&line, columns_text != NULL) < 0 ||
        !(ctx = open_ranking(&line, columns_text, &ranking))) {
        free(ranking.columns);
        return command_end(&line, STATUS_ERROR);
    }
    int status = STATUS_OK;
    TopkCtx *top = rowkit_topk(ctx, ranking.key, (size_t)k, !ascending);
    if (!top) {
        status = fail_library();
    } else {
        write_ranked_header(&line.input, &ranking);
        const char *const *fields;
        size_t n;
        int rc = 0;
        while (!out_closed() && (rc = rowkit_topk_next(top, &fields, &n, NULL)) == 1)
            write_ranked_row(&ranking, fields, n);
        if (!out_closed() && rc < 0)
            status = fail_library();
    }
    rowkit_topk_close(top);
    free(ranking.columns);
    return command_end(&line, status);
}

enum { OPT_SORT_DESCENDING = OPT_FIRST_OWN, OPT_SORT_COLUMNS };

int cmd_sort(int argc, char **argv)
{
    static const OptionSpec specs[] = {
        FILTER_OPTIONS, {"descending", 0, 0}, {"columns", 'c', 1}};
    CommandLine line;
    command_begin(&line, argc, argv, specs, sizeof specs / sizeof specs[0], 1,
                  file_and_column, 2);
    int descending = 0;
    const char *columns_text = NULL;
    const char *value;
    int id;
    while ((id = command_next(&line, &value)) >= 0) {
        if (id == OPT_SORT_DESCENDING)
            descending = 1;
        else
            columns_text = value;
    }
    Ranking ranking = {0};
    Ctx *ctx = NULL;
    if (id == ARGS_ERROR || command_open(&line, columns_text != NULL) < 0 ||
        !(ctx = open_ranking(&line, columns_text, &ranking))) {
        free(ranking.columns);
        return command_end(&line, STATUS_ERROR);
    }
    int status = STATUS_OK;
    OrderByCtx *sorted = rowkit_order_by(ctx, ranking.key, descending);
    if (!sorted) {
        status = fail_library();
    } else {
        write_ranked_header(&line.input, &ranking);
        const char *const *fields;
        size_t n;
        int rc = 0;
        while (!out_closed() && (rc = rowkit_order_by_next(sorted, &fields, &n)) == 1)
            write_ranked_row(&ranking, fields, n);
        if (!out_closed() && rc < 0)
            status = fail_library();
    }
    rowkit_order_by_close(sorted);
    free(ranking.columns);
    return command_end(&line, status);
}
