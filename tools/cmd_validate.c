/* cmd_validate.c - validate: rows checked against a JSON schema, printed as
 * the library's report. Exit status 1 when any row is invalid. */
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

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

static const char *const file_only[] = {"FILE"};

enum { OPT_SCHEMA, OPT_MAX_ERRORS, OPT_QUIET };

int cmd_validate(int argc, char **argv)
{
    static const OptionSpec specs[] = {{"schema", 's', 1}, {"max-errors", 0, 1}, {"quiet", 'q', 0}};
    CommandLine line;
    command_begin(&line, argc, argv, specs, sizeof specs / sizeof specs[0], 0, file_only, 1);
    const char *schema_path = NULL;
    uint64_t max_errors = 0; /* the library's default */
    int quiet = 0;
    const char *value;
    int id;
    while ((id = command_next(&line, &value)) >= 0) {
        if (id == OPT_SCHEMA) {
            schema_path = value;
        } else if (id == OPT_QUIET) {
            quiet = 1;
        } else if (args_number("--max-errors", value, SIZE_MAX, &max_errors) < 0) {
            return command_end(&line, STATUS_ERROR);
        } else if (max_errors == 0) {
            fail_usage("--max-errors must be at least 1");
            return command_end(&line, STATUS_ERROR);
        }
    }
    if (id == ARGS_ERROR)
        return command_end(&line, STATUS_ERROR);
    if (!schema_path) {
        fail_usage("missing --schema SCHEMA");
        return command_end(&line, STATUS_ERROR);
    }
    char *schema = read_schema(schema_path);
    if (!schema)
        return command_end(&line, STATUS_ERROR);

    int status = STATUS_OK;
    progress_wait_start(line.positionals[0], quiet, "validating");
    ValidationReport *report = rowkit_validate(line.positionals[0], schema, (size_t)max_errors);
    progress_wait_end();
    if (!report) {
        status = fail_library();
    } else {
        const char *json = rowkit_validate_json(report);
        out_str(json);
        out_char('\n');
        if (rows_invalid(json) > 0)
            status = STATUS_INVALID;
    }
    rowkit_validate_free(report);
    free(schema);
    return command_end(&line, status);
}
