/* input.c - the input file's header and column references. */
#include "input.h"

#include <errno.h>
#include <signal.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "args.h"
#include "output.h"

/* The suffix that makes the library read `path` as JSON records, or NULL. */
static const char *json_suffix(const char *path)
{
    static const char *const suffixes[] = {".ndjson", ".jsonl", ".json"};
    size_t length = strlen(path);
    for (size_t i = 0; i < sizeof suffixes / sizeof suffixes[0]; i++) {
        size_t n = strlen(suffixes[i]);
        if (length >= n && strcmp(path + length - n, suffixes[i]) == 0)
            return suffixes[i];
    }
    return NULL;
}

/* A spool that must keep a JSON suffix, for the library to read it as
 * JSON records, cannot be reached through /proc/self/fd: it is the file
 * "input" plus the suffix in a new directory, both removed by
 * remove_named_spool, also when a signal ends the program. */
static char named_spool_dir[4096], named_spool[4200];
static volatile sig_atomic_t named_spool_exists;

static void remove_named_spool(void)
{
    if (named_spool_exists) {
        named_spool_exists = 0;
        unlink(named_spool);
        rmdir(named_spool_dir);
    }
}

static void remove_named_spool_and_die(int signal_number)
{
    remove_named_spool();
    signal(signal_number, SIG_DFL);
    raise(signal_number);
}

/* A new temporary file for a copy of `path`: unlinked at once for CSV,
 * named with the path's suffix for JSON records. Its descriptor, or -1. */
static int make_spool(const char *path, const char *directory, char *name, size_t name_size)
{
    const char *suffix = json_suffix(path);
    if (!suffix) {
        snprintf(name, name_size, "%s/rowkit-XXXXXX", directory);
        int fd = mkstemp(name);
        if (fd >= 0) {
            unlink(name);
            fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
        return fd;
    }
    snprintf(named_spool_dir, sizeof named_spool_dir, "%s/rowkit-XXXXXX", directory);
    if (!mkdtemp(named_spool_dir))
        return -1;
    snprintf(named_spool, sizeof named_spool, "%s/input%s", named_spool_dir, suffix);
    int fd = open(named_spool, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        int saved = errno;
        rmdir(named_spool_dir);
        errno = saved;
        return -1;
    }
    named_spool_exists = 1;
    static const int signals[] = {SIGINT, SIGTERM, SIGHUP};
    for (size_t i = 0; i < sizeof signals / sizeof signals[0]; i++)
        signal(signals[i], remove_named_spool_and_die);
    snprintf(name, name_size, "%s", named_spool);
    return fd;
}

/* Copies the input at `path` into a temporary file and makes that file the
 * input; 0, or -1 after a report. */
static int spool(Input *input, const char *path)
{
    const char *directory = getenv("TMPDIR");
    if (!directory || !*directory)
        directory = "/tmp";
    char name[4200];
    if (strlen(directory) > 4000)
        return fail("cannot make a temporary file: TMPDIR is too long"), -1;
    int from = open(path, O_RDONLY | O_CLOEXEC);
    if (from < 0)
        return fail("cannot read %s: %s", path, strerror(errno)), -1;
    int to = make_spool(path, directory, name, sizeof name);
    if (to < 0) {
        int saved = errno;
        close(from);
        return fail("cannot make a temporary file in %s: %s", directory, strerror(saved)), -1;
    }
    static char block[1 << 16];
    const char *failed = NULL;
    int saved = 0;
    for (;;) {
        ssize_t got = read(from, block, sizeof block);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            if (got < 0)
                failed = path, saved = errno;
            break;
        }
        for (ssize_t done = 0; done < got && !failed;) {
            ssize_t wrote = write(to, block + done, (size_t)(got - done));
            if (wrote < 0 && errno != EINTR)
                failed = "a temporary file", saved = errno;
            else if (wrote > 0)
                done += wrote;
        }
        if (failed)
            break;
    }
    close(from);
    if (failed) {
        close(to);
        remove_named_spool();
        return fail("cannot copy %s: %s: %s", path, failed, strerror(saved)), -1;
    }
    input->spool = to;
    if (named_spool_exists)
        input->path = named_spool;
    else {
        snprintf(input->spool_path, sizeof input->spool_path, "/proc/self/fd/%d", to);
        input->path = input->spool_path;
    }
    out_alias_path(input->path, path);
    input->reopenable = 1;
    return 0;
}

int input_open(Input *input, const char *path, int twice)
{
    struct stat st;
    int exists = stat(path, &st) == 0;
    input->path = path;
    input->rows = NULL;
    input->spool = -1;
    input->reopenable = exists && S_ISREG(st.st_mode);
    /* A path that cannot be read is left to the library to report. */
    if (twice && exists && !input->reopenable && !S_ISDIR(st.st_mode) &&
        spool(input, path) < 0)
        return -1;
    input->header = rowkit_open(input->path, NULL);
    return input->header ? 0 : (fail_library(), -1);
}

int input_is_json(const char *path) { return json_suffix(path) != NULL; }

/* The first line of the file at `path` (at most `limit` bytes, without its
 * line feed) into a new temporary file, twice; its descriptor, or -1 after a
 * report. The library's parallel collect takes the first copy as the header
 * and gives back the second as a row. */
static int header_twice(const char *path, char *name, size_t name_size)
{
    const char *directory = getenv("TMPDIR");
    if (!directory || !*directory)
        directory = "/tmp";
    int length = snprintf(name, name_size, "%s/rowkit-XXXXXX", directory);
    if (length < 0 || (size_t)length >= name_size)
        return fail("cannot make a temporary file: TMPDIR is too long"), -1;
    FILE *from = fopen(path, "rb");
    if (!from)
        return fail("cannot read %s: %s", path, strerror(errno)), -1;
    char *line = NULL;
    size_t capacity = 0;
    errno = 0;
    ssize_t got = getline(&line, &capacity, from);
    int saved = errno;
    fclose(from);
    if (got < 0 && saved != 0) {
        free(line);
        return fail("cannot read %s: %s", path, strerror(saved)), -1;
    }
    if (got < 0) {
        free(line);
        return fail("cannot read %s: it is empty", path), -1;
    }
    if (got > 0 && line[got - 1] == '\n')
        got--;
    int to = mkstemp(name);
    if (to < 0) {
        saved = errno;
        free(line);
        return fail("cannot make a temporary file in %s: %s", directory, strerror(saved)), -1;
    }
    int ok = 1;
    for (int copy = 0; copy < 2 && ok; copy++) {
        line[got] = '\n'; /* getline left room for the NUL */
        for (ssize_t done = 0; done <= got && ok;) {
            ssize_t wrote = write(to, line + done, (size_t)(got + 1 - done));
            if (wrote < 0 && errno != EINTR)
                ok = 0;
            else if (wrote > 0)
                done += wrote;
        }
    }
    saved = errno;
    free(line);
    if (!ok) {
        close(to);
        unlink(name);
        return fail("cannot write a temporary file: %s", strerror(saved)), -1;
    }
    return to;
}

int input_open_delimited(Input *input, const char *path, char delimiter)
{
    struct stat st;
    input->path = path;
    input->rows = input->header = NULL;
    input->spool = -1;
    if (stat(path, &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode) &&
        spool(input, path) < 0)
        return -1;
    if (stat(input->path, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) {
        /* Missing, a directory, empty: the library names the problem. */
        Ctx *probe = rowkit_open(input->path, NULL);
        rowkit_close(probe);
        return (probe ? fail("%s cannot be read", path) : fail_library()), -1;
    }
    char name[4096];
    int copy = header_twice(input->path, name, sizeof name);
    if (copy < 0)
        return -1;
    CollectColumnarCtx *header =
        rowkit_parallel_collect_columnar(name, (uint8_t)delimiter, NULL, 0, 0, 1);
    unlink(name);
    close(copy);
    if (!header)
        return fail_library(), -1;
    size_t n = rowkit_collect_columnar_n_cols(header);
    input->names = calloc(n ? n : 1, sizeof *input->names);
    int rc = input->names ? 0 : -1;
    for (size_t c = 0; rc == 0 && c < n; c++) {
        size_t bytes = 0;
        const uint8_t *data = rowkit_collect_columnar_data(header, c, &bytes);
        const uint32_t *offsets = rowkit_collect_columnar_offsets(header, c, NULL);
        size_t start = offsets[0], end = offsets[1];
        input->names[c] = malloc(end - start + 1);
        if (!input->names[c]) {
            rc = -1;
            break;
        }
        memcpy(input->names[c], data + start, end - start);
        input->names[c][end - start] = '\0';
        input->n_names = c + 1;
    }
    rowkit_collect_columnar_close(header);
    return rc == 0 ? 0 : (fail_no_memory(), -1);
}

void input_close(Input *input)
{
    for (size_t i = 0; i < input->n_names; i++)
        free(input->names[i]);
    free(input->names);
    input->names = NULL;
    input->n_names = 0;
    if (input->rows != input->header)
        rowkit_close(input->rows);
    rowkit_close(input->header);
    input->rows = input->header = NULL;
    if (input->spool >= 0)
        close(input->spool);
    input->spool = -1;
    remove_named_spool();
    out_alias_path(NULL, NULL);
}

Ctx *input_rows(Input *input, const COptions *options)
{
    if (options->n_columns == 0 && options->n_where == 0 && options->limit < 0 &&
        options->max_column < 0 && !options->negate)
        return input->rows = input->header;
    if (!input->reopenable) { /* input_open was not told: never read a pipe twice */
        fail("%s cannot be read twice", input->path);
        return NULL;
    }
    input->rows = rowkit_open(input->path, options);
    if (!input->rows)
        fail_library();
    return input->rows;
}

size_t input_n_columns(const Input *input)
{
    return input->names ? input->n_names : rowkit_n_columns(input->header);
}

const char *input_column_name(const Input *input, size_t index)
{
    if (input->names)
        return index < input->n_names ? input->names[index] : NULL;
    return rowkit_column_name(input->header, index);
}

/* The first header name equal to `name`, or SIZE_MAX. */
static size_t column_index(const Input *input, const char *name)
{
    if (!input->names)
        return rowkit_column_index(input->header, name);
    for (size_t i = 0; i < input->n_names; i++)
        if (strcmp(input->names[i], name) == 0)
            return i;
    return SIZE_MAX;
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
    size_t index = column_index(input, reference);
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
