/* output.h - buffered standard output and the diagnostics on standard error.
 *
 * Data goes through one 64 KiB buffer written to file descriptor 1 with
 * write(2). When the reader of a pipe goes away (EPIPE; SIGPIPE is ignored)
 * the output is marked closed: commands stop producing as soon as
 * out_closed() says so and exit quietly. Any other write error is reported
 * once by out_finish(). */
#ifndef ROWKIT_CLI_OUTPUT_H
#define ROWKIT_CLI_OUTPUT_H

#include <stddef.h>
#include <stdint.h>

void out_init(void);
void out_bytes(const char *bytes, size_t n);
void out_str(const char *text);
void out_char(char c);
void out_u64(uint64_t value);
/* The shortest text that reads back as the same binary64 value. */
void out_double(double value);
/* One CSV field, quoted when it holds a comma, a double quote, CR or LF,
 * inner double quotes doubled; an empty field is written as nothing. */
void out_csv_field(const char *field);
/* The same for a field given by its bytes (which may hold NUL bytes). */
void out_csv_bytes(const char *bytes, size_t n);
/* Fields separated by commas, ended by LF. A record of exactly one empty
 * field is written as "" so that it is not an empty line. */
void out_csv_record(const char *const *fields, size_t n);

/* Non-zero once the reader went away or a write failed: stop producing. */
int out_closed(void);
/* Writes what is buffered; returns `status`, or STATUS_ERROR after reporting
 * a write error (a closed pipe is not an error). */
int out_finish(int status);

/* Diagnostics: one line "rowkit: ..." on standard error, after standard
 * output is flushed so that the two keep their order on a terminal. Each
 * returns STATUS_ERROR. */
int fail_library(void);                         /* the library's last-error message and detail */
int fail(const char *format, ...)               /* any other failure */
    __attribute__((format(printf, 1, 2)));
int fail_usage(const char *format, ...)         /* plus the command's synopsis */
    __attribute__((format(printf, 1, 2)));
int fail_no_memory(void);
/* The library reads a temporary copy at `library_path` in place of the
 * user's `shown_path` (both kept, not copied): fail_library then names the
 * user's path in the detail. NULL, NULL forgets it. */
void out_alias_path(const char *library_path, const char *shown_path);

#endif
