/* output.c - buffered standard output and diagnostics. */
#include "output.h"

#include <errno.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "cli.h"
#include "progress.h"
#include "rowkit.h"

enum { BUFFER_SIZE = 64 * 1024 };

static char buffer[BUFFER_SIZE];
static size_t used;
static int closed;      /* the reader went away or a write failed */
static int write_errno; /* the failed write's errno; 0 for a closed pipe */

void out_init(void)
{
    /* A closed pipe then shows up as EPIPE on write, which ends the command
     * quietly instead of killing it. */
    signal(SIGPIPE, SIG_IGN);
}

static void write_all(const char *bytes, size_t n)
{
    while (n > 0 && !closed) {
        ssize_t written = write(STDOUT_FILENO, bytes, n);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            closed = 1;
            write_errno = errno == EPIPE ? 0 : errno;
            return;
        }
        bytes += written;
        n -= (size_t)written;
    }
}

static void flush(void)
{
    write_all(buffer, used);
    used = 0;
}

void out_bytes(const char *bytes, size_t n)
{
    if (n > BUFFER_SIZE - used) {
        flush();
        if (n >= BUFFER_SIZE) {
            write_all(bytes, n);
            return;
        }
    }
    memcpy(buffer + used, bytes, n);
    used += n;
}

void out_str(const char *text) { out_bytes(text, strlen(text)); }

void out_char(char c)
{
    if (used == BUFFER_SIZE)
        flush();
    buffer[used++] = c;
}

void out_u64(uint64_t value)
{
    char text[24];
    int n = snprintf(text, sizeof text, "%llu", (unsigned long long)value);
    out_bytes(text, (size_t)n);
}

void out_double(double value)
{
    char text[40];
    int n = 0;
    for (int digits = 15; digits <= 17; digits++) {
        n = snprintf(text, sizeof text, "%.*g", digits, value);
        if (strtod(text, NULL) == value)
            break;
    }
    out_bytes(text, (size_t)n);
}

/* A field that holds a comma, a double quote, CR or LF: in double quotes,
 * every inner double quote doubled. */
static void write_quoted(const char *bytes, size_t n)
{
    const char *end = bytes + n;
    out_char('"');
    for (;;) {
        const char *quote = memchr(bytes, '"', (size_t)(end - bytes));
        if (!quote) {
            out_bytes(bytes, (size_t)(end - bytes));
            break;
        }
        out_bytes(bytes, (size_t)(quote - bytes) + 1);
        out_char('"');
        bytes = quote + 1;
    }
    out_char('"');
}

static const char csv_specials[] = ",\"\r\n";

void out_csv_field(const char *field)
{
    size_t plain = strcspn(field, csv_specials);
    if (field[plain] == '\0')
        out_bytes(field, plain);
    else
        write_quoted(field, plain + strlen(field + plain));
}

void out_csv_bytes(const char *bytes, size_t n)
{
    size_t i = 0;
    while (i < n && bytes[i] != ',' && bytes[i] != '"' && bytes[i] != '\r' && bytes[i] != '\n')
        i++;
    if (i == n)
        out_bytes(bytes, n);
    else
        write_quoted(bytes, n);
}

/* The row loop of select: a field with nothing to quote is copied straight
 * into the buffer when it fits. */
void out_csv_record(const char *const *fields, size_t n)
{
    if (n == 1 && fields[0][0] == '\0') {
        out_bytes("\"\"\n", 3);
        return;
    }
    size_t at = used; /* kept in a register; stored back before any call */
    for (size_t i = 0; i < n; i++) {
        const char *field = fields[i];
        size_t plain = strcspn(field, csv_specials);
        if (field[plain] == '\0' && plain < BUFFER_SIZE - at) {
            memcpy(buffer + at, field, plain);
            at += plain;
        } else {
            used = at;
            if (field[plain] != '\0')
                write_quoted(field, plain + strlen(field + plain));
            else
                out_bytes(field, plain);
            at = used;
        }
        if (at == BUFFER_SIZE) {
            used = at;
            flush();
            at = used;
        }
        buffer[at++] = i + 1 < n ? ',' : '\n';
    }
    used = at;
    if (n == 0)
        out_char('\n');
}

int out_closed(void) { return closed; }

int out_finish(int status)
{
    flush();
    if (closed && write_errno != 0) {
        int saved = write_errno;
        write_errno = 0; /* reported once */
        return fail("cannot write output: %s", strerror(saved));
    }
    return status;
}

static void vreport(const char *format, va_list args)
{
    flush();
    progress_clear();
    fputs("rowkit: ", stderr);
    vfprintf(stderr, format, args);
    fputc('\n', stderr);
}

int fail(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    vreport(format, args);
    va_end(args);
    return STATUS_ERROR;
}

static const char *alias_of; /* a copy's path the library was given */
static const char *alias_for; /* the path the user gave for it */

void out_alias_path(const char *library_path, const char *shown_path)
{
    alias_of = library_path;
    alias_for = shown_path;
}

/* `detail` with the first 'file "ALIAS_OF"' written as the user's path,
 * escaped as the library escapes names; 0 when it holds no such text. */
static int report_aliased(const char *message, const char *detail)
{
    if (!alias_of)
        return 0;
    char quoted[4200];
    int n = snprintf(quoted, sizeof quoted, "file \"%s\"", alias_of);
    const char *at = n > 0 && (size_t)n < sizeof quoted ? strstr(detail, quoted) : NULL;
    if (!at)
        return 0;
    flush();
    progress_clear();
    fprintf(stderr, "rowkit: %s (%.*sfile \"", message, (int)(at - detail), detail);
    for (const unsigned char *c = (const unsigned char *)alias_for; *c; c++) {
        if (*c == '"' || *c == '\\')
            fprintf(stderr, "\\%c", *c);
        else if (*c < 0x20)
            fprintf(stderr, "\\u%04x", *c);
        else
            fputc(*c, stderr);
    }
    fprintf(stderr, "\"%s)\n", at + n);
    return 1;
}

/* The message, then the library's detail in parentheses when it has one:
 * "next failed: UnterminatedQuote (file "a.csv", line 3, byte offset 27)". */
int fail_library(void)
{
    const char *message = rowkit_last_error();
    const char *detail = rowkit_last_error_detail();
    if (!message)
        return fail("unknown error");
    if (!detail)
        return fail("%s", message);
    if (report_aliased(message, detail))
        return STATUS_ERROR;
    return fail("%s (%s)", message, detail);
}

int fail_usage(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    vreport(format, args);
    va_end(args);
    if (cli_command) {
        const char *usage = cli_command->usage;
        fprintf(stderr, "rowkit: %.*s\n", (int)strcspn(usage, "\n"), usage);
    }
    return STATUS_ERROR;
}

int fail_no_memory(void) { return fail("out of memory"); }
