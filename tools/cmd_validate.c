/* cmd_validate.c - validate: rows checked against a JSON schema, printed as
 * the library's report. Exit status 1 when any row is invalid. */
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "cli.h"
#include "command.h"
#include "output.h"
#include "progress.h"
#include "rowkit.h"

/* The schema file as one NUL-terminated text; NULL after reporting why it
 * cannot be read. */
static char *read_schema(const char *path)
{
    FILE *file = fopen(path, "rb");
    if (!file) {
        fail("cannot read schema %s: %s", path, strerror(errno));
        return NULL;
    }
    size_t length = 0, capacity = 4096;
    char *text = malloc(capacity);
    while (text) {
        length += fread(text + length, 1, capacity - 1 - length, file);
        if (length < capacity - 1)
            break;
        char *grown = realloc(text, capacity * 2);
        if (!grown) {
            free(text);
            text = NULL;
            break;
        }
        text = grown;
        capacity *= 2;
    }
    int read_error = ferror(file);
    int saved = errno;
    fclose(file);
    if (!text) {
        fail_no_memory();
        return NULL;
    }
    if (read_error) {
        free(text);
        fail("cannot read schema %s: %s", path, strerror(saved));
        return NULL;
    }
    text[length] = '\0';
    if (strlen(text) != length) {
        free(text);
        fail("cannot read schema %s: it holds a NUL byte", path);
        return NULL;
    }
    return text;
}

/* The number after "rows_invalid": in the report's fixed layout. */
static uint64_t rows_invalid(const char *report)
{
    const char *at = strstr(report, "\"rows_invalid\":");
    return at ? strtoull(at + strlen("\"rows_invalid\":"), NULL, 10) : 0;
}

/* Standard input as one block (not NUL-terminated) in *out, its length in
 * *length; 0, or -1 after reporting why it cannot be read. */
static int read_stdin(char **out, size_t *length)
{
    size_t used = 0, capacity = 1 << 16;
    char *text = malloc(capacity);
    if (!text)
        return fail_no_memory(), -1;
    for (;;) {
        if (used == capacity) {
            char *grown = capacity <= SIZE_MAX / 2 ? realloc(text, capacity * 2) : NULL;
            if (!grown) {
                free(text);
                return fail_no_memory(), -1;
            }
            text = grown;
            capacity *= 2;
        }
        ssize_t got = read(STDIN_FILENO, text + used, capacity - used);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            int saved = errno;
            free(text);
            return fail("cannot read standard input: %s", strerror(saved)), -1;
        }
        if (got == 0)
            break;
        used += (size_t)got;
    }
    *out = text;
    *length = used;
    return 0;
}

/* The report of rowkit_validate; status 1 when a row is invalid. */
static int run_report(const char *path, const char *schema, uint64_t max_errors, int quiet)
{
    progress_call_start(path, quiet);
    ValidationReport *report = rowkit_validate(path, schema, (size_t)max_errors);
    progress_call_end();
    if (!report)
        return fail_library();
    const char *json = rowkit_validate_json(report);
    out_str(json);
    out_char('\n');
    int status = rows_invalid(json) > 0 ? STATUS_INVALID : STATUS_OK;
    rowkit_validate_free(report);
    return status;
}

/* The split into an accepted and a rejected file, with its totals printed
 * as one JSON object. */
static int run_split(const char *path, const char *schema, const char *accepted,
                     const char *rejected, int quiet)
{
    Stats stats;
    progress_call_start(path, quiet);
    int rc = rowkit_validate_to_files(path, schema, accepted, rejected, &stats);
    progress_call_end();
    if (rc < 0)
        return fail_library();
    out_str("{\"rows_total\":");
    out_u64(stats.rows_total);
    out_str(",\"rows_valid\":");
    out_u64(stats.rows_valid);
    out_str(",\"rows_invalid\":");
    out_u64(stats.rows_invalid);
    out_str(",\"errors_total\":");
    out_u64(stats.errors_total);
    out_str("}\n");
    return stats.rows_invalid > 0 ? STATUS_INVALID : STATUS_OK;
}

/* The one-call outcome over a file path (format 0) or the text on standard
 * input (1 CSV, 2 JSON records). */
static int run_outcome(const char *path, int format, const char *schema, int full, int quiet)
{
    char *text = NULL;
    size_t length;
    if (format == 0) {
        length = strlen(path);
    } else if (read_stdin(&text, &length) < 0) {
        return STATUS_ERROR;
    }
    if (format == 0)
        progress_call_start(path, quiet);
    char *outcome = rowkit_validate_outcome(
        format == 0 ? (const uint8_t *)path : (const uint8_t *)text, length, schema, format,
        full);
    progress_call_end();
    free(text);
    if (!outcome)
        return fail_library();
    out_str(outcome);
    out_char('\n');
    int valid = full ? strcmp(outcome, "[]") == 0 : strcmp(outcome, "true") == 0;
    rowkit_outcome_free(outcome);
    return valid ? STATUS_OK : STATUS_INVALID;
}

static const char *const file_only[] = {"FILE"};

enum {
    OPT_SCHEMA,
    OPT_MAX_ERRORS,
    OPT_ACCEPTED,
    OPT_REJECTED,
    OPT_OUTCOME,
    OPT_FULL,
    OPT_STDIN,
    OPT_QUIET
};

int cmd_validate(int argc, char **argv)
{
    static const OptionSpec specs[] = {{"schema", 's', 1},   {"max-errors", 0, 1},
                                       {"accepted", 0, 1},   {"rejected", 0, 1},
                                       {"outcome", 0, 0},    {"full", 0, 0},
                                       {"stdin", 0, 1},      {"quiet", 'q', 0}};
    CommandLine line;
    command_begin(&line, argc, argv, specs, sizeof specs / sizeof specs[0], 0, file_only, 1);
    line.n_required = 0; /* FILE, unless --stdin: checked below */
    const char *schema_path = NULL, *accepted = NULL, *rejected = NULL;
    uint64_t max_errors = 0; /* the library's default */
    int max_errors_given = 0, outcome = 0, full = 0, format = 0, quiet = 0;
    const char *value;
    int id;
    while ((id = command_next(&line, &value)) >= 0) {
        if (id == OPT_SCHEMA) {
            schema_path = value;
        } else if (id == OPT_ACCEPTED) {
            accepted = value;
        } else if (id == OPT_REJECTED) {
            rejected = value;
        } else if (id == OPT_OUTCOME) {
            outcome = 1;
        } else if (id == OPT_QUIET) {
            quiet = 1;
        } else if (id == OPT_FULL) {
            full = 1;
        } else if (id == OPT_STDIN) {
            if (strcmp(value, "csv") == 0) {
                format = 1;
            } else if (strcmp(value, "json") == 0) {
                format = 2;
            } else {
                fail_usage("--stdin expects csv or json, got \"%s\"", value);
                return command_end(&line, STATUS_ERROR);
            }
        } else if (args_number("--max-errors", value, SIZE_MAX, &max_errors) < 0) {
            return command_end(&line, STATUS_ERROR);
        } else if (max_errors == 0) {
            fail_usage("--max-errors must be at least 1");
            return command_end(&line, STATUS_ERROR);
        } else {
            max_errors_given = 1;
        }
    }
    const char *path = line.positionals[0];
    const char *problem = NULL;
    if (id == ARGS_ERROR)
        return command_end(&line, STATUS_ERROR);
    if (format && path)
        problem = "give FILE or --stdin, not both";
    else if (!format && !path)
        problem = "missing FILE";
    else if (!schema_path)
        problem = "missing --schema SCHEMA";
    else if (!accepted != !rejected)
        problem = "--accepted and --rejected go together";
    else if (accepted && (outcome || max_errors_given))
        problem = "--accepted and --rejected take neither --outcome nor --max-errors";
    else if (outcome && max_errors_given)
        problem = "--max-errors applies to the report, not to --outcome";
    else if (full && !outcome)
        problem = "--full goes with --outcome";
    else if (format && !outcome)
        problem = "--stdin goes with --outcome";
    if (problem) {
        fail_usage("%s", problem);
        return command_end(&line, STATUS_ERROR);
    }
    char *schema = read_schema(schema_path);
    if (!schema)
        return command_end(&line, STATUS_ERROR);
    int status = accepted  ? run_split(path, schema, accepted, rejected, quiet)
                 : outcome ? run_outcome(path, format, schema, full, quiet)
                           : run_report(path, schema, max_errors, quiet);
    free(schema);
    return command_end(&line, status);
}
