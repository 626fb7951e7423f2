/* input.h - the input file's header and the column references that resolve
 * through it: a header name, or #N for the zero-based column N. */
#ifndef ROWKIT_CLI_INPUT_H
#define ROWKIT_CLI_INPUT_H

#include <stddef.h>

#include "rowkit.h"

typedef struct Input {
    const char *path; /* what the library opens: the file, or the spool */
    Ctx *header;      /* opened without options: the header, and rows on request */
    Ctx *rows;        /* the handle input_rows gave out; may be the header's */
    int reopenable;   /* a regular file, or the spool: it can be opened again */
    int spool;        /* descriptor of the spool file, or -1 */
    char spool_path[32];
    char **names;     /* the header as split by input_open_delimited, else NULL */
    size_t n_names;
} Input;

/* Opens `path` and reads its header; 0, or -1 after reporting the error.
 * `twice` says that the command will open the file a second time, for rows
 * with options that depend on the header: a pipe, FIFO or device cannot be
 * read twice, so it is then first copied into an unlinked temporary file
 * (in $TMPDIR, else /tmp) that stands in for it. */
int input_open(Input *input, const char *path, int twice);
/* The same for a CSV file whose fields are split at `delimiter`, which the
 * scanner handle cannot read: its header names come from the parallel
 * collect, which splits at any delimiter (the header line is collected as
 * a row of a one-line copy). The input then has no handle for rows; a pipe
 * is always spooled. */
int input_open_delimited(Input *input, const char *path, char delimiter);

/* Whether the library reads `path` as JSON records, by its suffix. */
int input_is_json(const char *path);

/* Closes both handles and the spool. */
void input_close(Input *input);

/* A handle on the rows, owned by the input (closed by input_close, so that
 * the header names stay valid while rows are written). Options that ask for
 * nothing (no projection, predicates, limit, max_column or negation) get the
 * header's own handle; any other options open the file again. NULL after
 * reporting the error. */
Ctx *input_rows(Input *input, const COptions *options);

size_t input_n_columns(const Input *input);
const char *input_column_name(const Input *input, size_t index);

/* Writes a CSV header line: the names of columns[0..n) or, when columns is
 * NULL, of the first n columns (empty past the header's end). */
void input_write_header(const Input *input, const size_t *columns, size_t n);

/* Resolves one reference; 0, or -1 after a usage error naming it. */
int input_column(const Input *input, const char *reference, size_t *out);

/* Resolves a comma-separated LIST of references (items quoted as in
 * args_take_item) into a new array freed with free(); 0, or -1 after an
 * error. */
int input_column_list(const Input *input, const char *list, size_t **out, size_t *n);

#endif
