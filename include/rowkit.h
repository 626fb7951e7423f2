/*
 * rowkit.h - fast reading and validation of CSV and JSON records.
 *
 * librowkit reads CSV files with a header line and JSON records (one object
 * per line, or one top-level array of objects) and hands out rows as arrays
 * of NUL-terminated strings.
 *
 * Conventions that hold for every function below:
 *  - Every function that can fail clears the last-error message on entry and,
 *    on failure, stores a message and returns NULL (handle results) or -1
 *    (int and int64_t results). rowkit_last_error() reads the message; reading
 *    it never changes it.
 *  - Accessors and close functions never touch the message and accept NULL.
 *  - Row cursors return 1 for a row, 0 at the end, -1 on failure.
 *  - Pointers a handle hands out stay valid until the next call on the same
 *    handle or its close, unless a function says otherwise.
 *  - A handle is used by one thread at a time. The last-error message is one
 *    process-wide buffer shared by all threads.
 */
#ifndef ROWKIT_H
#define ROWKIT_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ==========================================================================
 * Version
 * ========================================================================== */

/* The version of this header, which is also the library's version (the build
 * takes its project version from these three lines). A host can compare them
 * with rowkit_version() to see at run time which library it has loaded. */
#define ROWKIT_VERSION_MAJOR 0
#define ROWKIT_VERSION_MINOR 1
#define ROWKIT_VERSION_PATCH 0

/* ==========================================================================
 * Types
 * ========================================================================== */

/* Predicate operator codes. Any other value is taken as ROWKIT_OP_EQ. */
enum {
    ROWKIT_OP_EQ = 0,     /* field equals value */
    ROWKIT_OP_NEQ = 1,    /* field differs from value */
    ROWKIT_OP_GT = 2,     /* field greater than value */
    ROWKIT_OP_GTE = 3,    /* field greater than or equal to value */
    ROWKIT_OP_LT = 4,     /* field less than value */
    ROWKIT_OP_LTE = 5,    /* field less than or equal to value */
    ROWKIT_OP_IN_LIST = 6 /* field equals one of values */
};

/* One predicate on a source column. When both the field and the value text
 * are numbers (the whole text a finite decimal or hexadecimal number, with an
 * optional sign and single underscores between digits), they compare as
 * numbers; otherwise as unsigned byte strings. A predicate on a column the
 * row does not have is false. */
typedef struct CPredicate {
    size_t column;              /* zero-based source column index */
    int op;                     /* ROWKIT_OP_* */
    const char *value;          /* comparison text for ops 0-5; not copied */
    const char *const *values;  /* texts for ROWKIT_OP_IN_LIST; copied */
    size_t n_values;            /* entries in values; 0 never matches */
} CPredicate;

/* Options of rowkit_open. A NULL options pointer means: no projection, no
 * predicates, no limit, all columns, no negation; so does a record that
 * starts from ROWKIT_OPTIONS_INIT. A record filled with zeros does NOT: its
 * limit 0 returns no rows at all (and no error). */
typedef struct COptions {
    const size_t *columns;   /* projection: source column indices in output order;
                                not copied */
    size_t n_columns;        /* 0 (or columns NULL) means no projection */
    const CPredicate *where; /* predicates that must all hold */
    size_t n_where;          /* entries in where */
    int64_t limit;           /* maximum rows returned; negative means no limit,
                                0 means no rows */
    int64_t max_column;      /* highest column index needed; rows then carry only
                                columns 0..max_column; negative means all */
    int negate;              /* non-zero inverts the whole conjunction */
} COptions;

/* Initialiser of a COptions with no projection, no predicates, no limit
 * (-1), all columns (max_column -1) and no negation; set the fields you need
 * afterwards:
 *     COptions options = ROWKIT_OPTIONS_INIT;
 *     options.limit = 10;
 * Valid in C and in C++. */
#define ROWKIT_OPTIONS_INIT {NULL, 0, NULL, 0, -1, -1, 0}

/* The scanner handle. */
typedef struct Ctx Ctx;

/* ==========================================================================
 * Library and errors
 * ========================================================================== */

/* The static text "ReleaseFast". Never fails; do not free. */
const char *rowkit_build_mode(void);

/* The library's version as the static text "MAJOR.MINOR.PATCH" (for example
 * "0.1.0"), the numbers the library was built with; compare them with the
 * ROWKIT_VERSION_* macros of the header a host was compiled with. Never
 * fails and never touches the last-error message; do not free. */
const char *rowkit_version(void);

/* The message of the last failed call, NUL-terminated, or NULL when the last
 * fallible call succeeded (or none failed yet). The text is owned by the
 * library and stays valid until the next fallible call on any thread. */
const char *rowkit_last_error(void);

/* A short text beside the last-error message that says more about the
 * failure, NUL-terminated, or NULL when the failed call knew nothing more
 * (and whenever rowkit_last_error() is NULL). It is stored and cleared
 * together with the message, with the same lifetime; the message keeps its
 * fixed wording, so match on the message and show the detail to people.
 * Among the details:
 *  - reading errors (UnterminatedQuote, InvalidJson, RecordTooLarge,
 *    TooManyFields, NestedValueNotSupported, read failures), in
 *    rowkit_open, rowkit_next and the calls that drain a handle (count,
 *    aggregate, collect, order_by, topk) or validate a file, say where the
 *    failing record begins: 'file "data.csv", line 3, byte offset 27'
 *    (line 1 is the file's first line, the CSV header included; the offset
 *    counts bytes from the start of the file, from 0; a record of a JSON
 *    array begins at its '{'); other open failures name the file;
 *  - schema errors name the column, the rule and what was wrong:
 *    'column "age": rule "min" must be a number, got a string',
 *    'column "nme" is not in the header', 'column "age": unknown rule key
 *    "requird"'; a schema that is not JSON gives the place in its text:
 *    'schema is not valid JSON: expected a key in quotes at byte 40 (line 2,
 *    column 31)' (offsets and columns count bytes, from 0 and 1).
 * Names are in double quotes, with quotes, backslashes and control bytes
 * escaped as in JSON. The detail has a 512-byte buffer under the message's
 * rules: up to 511 bytes are kept, exactly 512 leave no room for the NUL and
 * give NULL, a longer detail is replaced by the text "error (detail too
 * long)". Never fails and never changes the detail; do not free. */
const char *rowkit_last_error_detail(void);

/* ==========================================================================
 * JSON records
 * ========================================================================== */

/* How every function that opens a path reads a ".ndjson", ".jsonl" or ".json"
 * file (there are no JSON-specific functions):
 *  - When the first byte that is not whitespace is '[', the file is one
 *    array of objects, spread over any number of lines; elements that are
 *    not objects are skipped, and the array's closing ']' ends the input
 *    (a missing ']' is accepted). Otherwise every line is one object.
 *  - The header is the key list of the first object, in order. Every object
 *    is mapped onto those columns by key: keys not in the header are
 *    ignored, missing keys give empty text.
 *  - Values become text: null is empty, true and false are those words,
 *    numbers are exactly as written, strings are decoded (every escape,
 *    Unicode escapes and surrogate pairs as UTF-8; other bytes, invalid UTF-8
 *    included, unchanged). An object or array in a column the row carries
 *    fails that row with NestedValueNotSupported.
 *  - A record that is not an object (a blank line, bad escapes, an object
 *    cut off by the end of the file, nesting deeper than 64 levels, 4096
 *    or more of the bytes {}[]":, in one record, strings included) fails
 *    its own rowkit_next with InvalidJson; the next
 *    call goes on after it. A first record that is not an object fails
 *    rowkit_open with InvalidJson; a file with no record at all (empty, or
 *    an array without objects) with EmptyFile.
 *  - A key given twice in one record: the later value counts, except in a
 *    record whose leading keys come in header order without escapes, which
 *    is read by a shortcut that stops after the last column the row
 *    carries and so keeps the first value. That shortcut also does not
 *    check the bytes after that column. */

/* ==========================================================================
 * Scanner handle
 * ========================================================================== */

/* Opens `path` for reading. A path ending in ".ndjson", ".jsonl" or ".json"
 * (case-sensitive) is read as JSON records; anything else as CSV with a header
 * line. The header is read at once. A pipe, FIFO or character device (say
 * "/dev/stdin" with data piped in, or a shell's process substitution) is read
 * once from start to end, like a file; one that delivers no byte fails with
 * EmptyFile, as an empty file does.
 *
 * A regular file is read up to the size it had at the open: bytes appended
 * while it is read are not read. A file cut shorter than that size while it
 * is read fails the read that meets the cut with FileTruncated, after the
 * rows that ended before it; no row is made of bytes from either side of a
 * change of size. (A file rewritten in place with other bytes of the same
 * size cannot be told apart and is not guarded against.)
 *
 * The `columns` array and each scalar predicate's `value` are not copied: keep
 * them alive and unchanged until rowkit_close. IN-list values are copied.
 *
 * Returns a handle owned by the caller and freed by rowkit_close, or NULL
 * with one of the messages "path is null", "predicates are null",
 * "predicate text is null", "out of memory allocating predicates",
 * "out of memory allocating IN values",
 * "out of memory allocating scanner context", "out of memory allocating header",
 * or "open failed: " followed by an error name (FileNotFound, AccessDenied,
 * IsDir, EmptyFile, InvalidJson, ...), whose detail
 * (rowkit_last_error_detail) names the file and, when the header or first
 * record failed, its line and byte offset. A failed open leaves nothing
 * allocated. */
Ctx *rowkit_open(const char *path, const COptions *options);

/* Opens `path` as rowkit_open does, but the handle yields only the rows of
 * the lines that start in the byte range [start, end) of the file, so that
 * several readers (threads, processes, machines) can share one file. The
 * header is read from the start of the file in every case. A line starts
 * at the first byte after the CSV header line (for JSON records, at byte 0:
 * the first record is a row too) or right after a line feed, and belongs to
 * the range its first byte lies in; it is read whole, however far it runs
 * past `end`. So any partition of [0, file size) into consecutive ranges
 * yields every row exactly once, in file order, wherever the bounds fall:
 * inside the header, on a line feed, between a CR and its LF, or inside a
 * quoted field. (CSV fields never span lines: a quoted field holding a line
 * break fails its row with UnterminatedQuote in the range its line starts
 * in, exactly as it does when the whole file is read, and the line after
 * the break is a line of its own.) Bounds past the end of the file are
 * taken as its end; start == end gives a handle without rows.
 *
 * Everything else works as on a rowkit_open handle: the options, the row
 * cursor and every whole-result call (count, aggregate, top-k, order-by,
 * collects, batches) over the range's rows; a limit counts the range's rows.
 * Line numbers are the one exception: a range that starts past byte 0 has
 * not counted the lines before it (that would mean reading the file up to
 * it), so rowkit_line_number gives 0 on its handle and its error details
 * give the file and the record's byte offset in the file, without a line.
 * The file must be a regular file and line-delimited: a JSON array has no
 * lines to cut at.
 *
 * Returns a handle freed by rowkit_close, or NULL with the messages of
 * rowkit_open, "range start is past its end" when start > end, or
 * "open failed: " followed by JsonArrayNotSplittable (the file is one JSON
 * array) or NotRegularFile (a pipe or device) among the other names. */
Ctx *rowkit_open_range(const char *path, const COptions *options, uint64_t start, uint64_t end);

/* Zero-based index of the first header name equal to `name` (whole string,
 * byte for byte), or SIZE_MAX when there is none or ctx or name is NULL. */
size_t rowkit_column_index(Ctx *ctx, const char *name);

/* Number of header names; 0 when ctx is NULL. */
size_t rowkit_n_columns(Ctx *ctx);

/* The header name at `index`, owned by the handle and valid until
 * rowkit_close; NULL when ctx is NULL or index is out of range. */
const char *rowkit_column_name(Ctx *ctx, size_t index);

/* Reads the next row that passes the predicates, projected onto the columns.
 * Returns 1 and stores the row in *out_fields (an array of *out_n
 * NUL-terminated strings; either pointer may be NULL), 0 at the end (outputs
 * untouched; later calls return 0 again), or -1 with "scanner is null",
 * "next failed: " followed by an error name (UnterminatedQuote, InvalidJson,
 * NestedValueNotSupported, OutOfMemory, a read error), "out of memory growing
 * field buffers" or "out of memory copying row". The detail of a "next
 * failed: " message names the file and the line and byte offset where the
 * failing record begins. After a failure the handle stays usable and the
 * next call goes on with the following row.
 *
 * The array and its strings are owned by the handle and valid until the next
 * rowkit_next or rowkit_close on it. A field holding a NUL byte is copied
 * whole but reads as shorter through its C string. When *out_n is 0 the
 * array is not to be read. */
int rowkit_next(Ctx *ctx, const char *const **out_fields, size_t *out_n);

/* How many bytes of the input the handle has consumed so far: a row counts
 * once rowkit_next (or a batch) has read it, rows the predicates passed over
 * included, and at the end the count is the input's size. Bytes read ahead
 * into the handle's buffer do not count. Meant for progress displays:
 * compare it with the file's size. Never fails and never touches the
 * last-error message; 0 when ctx is NULL. */
uint64_t rowkit_bytes_read(Ctx *ctx);

/* The 1-based file line where the row last returned (by rowkit_next, or as
 * the last row of a batch) begins, or where the record whose reading last
 * failed begins (in rowkit_next, a batch or a call that drains the handle:
 * count, aggregate, collect, order_by, topk).
 * Lines are those of the file: line 1 is a CSV file's header, a record of a
 * JSON array is on the line of its '{'. 0 before the first row and when ctx
 * is NULL. Rows the predicates skip do not move it. Never fails and never
 * touches the last-error message. */
uint64_t rowkit_line_number(Ctx *ctx);

/* Closes the file and frees the handle and everything it handed out. NULL is
 * ignored. */
void rowkit_close(Ctx *ctx);

/* ==========================================================================
 * Progress
 * ========================================================================== */

/* A progress callback: `bytes_done` of the input's `bytes_total` bytes have
 * been read. `user` is the pointer given to rowkit_set_progress. */
typedef void (*RowkitProgressFn)(void *user, uint64_t bytes_done, uint64_t bytes_total);

/* Registers `fn`, called with `user`, for the calls that read a whole input
 * and are made later on the calling thread. The registration belongs to the
 * thread: other threads' calls never see it, and a NULL fn removes it. A
 * call uses the registration it found when it began. Never fails and never
 * touches the last-error message.
 *
 * The calls that report are rowkit_count, rowkit_aggregate, rowkit_topk,
 * rowkit_order_by, rowkit_collect, rowkit_collect_columnar,
 * rowkit_parallel_collect_columnar, rowkit_validate,
 * rowkit_validate_to_files and rowkit_validate_outcome; opens, row cursors
 * and batches do not. While one of them reads, fn is called each time a
 * chunk of input has been consumed (every 256 KiB by default, never per
 * row), and always on the registering thread: the worker threads of
 * rowkit_parallel_collect_columnar only count what they read, and the
 * calling thread reports their sum about ten times a second while it waits
 * for them (on systems without a timed thread join, as each thread ends).
 *
 * bytes_done counts the input bytes consumed so far, as rowkit_bytes_read
 * counts them: from the start of the input (of the range, on a
 * rowkit_open_range handle), bytes that a handle's open and earlier calls
 * read included; it never decreases during a call. bytes_total is the input's size: the
 * file's, a range's length, the text's length for rowkit_validate_outcome
 * on bytes in memory; 0 when it is not known (a pipe or a device). When
 * the size is known and the call reads the input to its end (a JSON array
 * ends at its closing ']'), its last report has bytes_done == bytes_total.
 * A call that stops earlier (a limit, an error, an outcome answered at the
 * first invalid row) or finds its handle's input read already may end
 * without that report, or without any.
 *
 * fn runs inside the call: it should return quickly and must not use the
 * handle being read. */
void rowkit_set_progress(RowkitProgressFn fn, void *user);

/* ==========================================================================
 * Counting
 * ========================================================================== */

/* Counts the rows that remain in `ctx` and that rowkit_next would deliver,
 * and consumes them. With no predicates, no limit and no negation nothing is
 * parsed: the lines left in the input are counted, so every line counts
 * (blank lines too, and a line an unclosed quote would make rowkit_next
 * refuse); a line ended by "\r\n" counts once and a last line without a line
 * feed counts too. Otherwise rows are read and matched, and the counted rows
 * count against the limit. Rows already read are not counted again.
 *
 * Returns the count (0 when the limit is already reached, without a
 * message), or -1 with "scanner is null" or "count failed: " followed by an
 * error name (UnterminatedQuote, InvalidJson, a read error, ...). */
int64_t rowkit_count(Ctx *ctx);

/* ==========================================================================
 * Aggregate
 * ========================================================================== */

/* Statistics of one numeric column. */
typedef struct AggC {
    uint64_t count;  /* number of numeric values */
    double sum;      /* their sum, accumulated in row order */
    double min;      /* smallest value; 0.0 when there were none */
    double max;      /* largest value; 0.0 when there were none */
    double avg;      /* sum / count; 0.0 when there were none */
    int has_values;  /* 1 when count > 0, else 0 */
} AggC;

/* Reads every row that remains in `ctx` (predicates, negation, limit and
 * projection apply, so `column` indexes the projected row) and fills *out with
 * the count, sum, minimum, maximum and mean of the values of `column` that are
 * numbers (the rule of CPredicate). Rows without the column and values that
 * are empty, text, "inf" or "nan" are skipped, not errors. No row is kept;
 * a second call on the same handle sees no rows.
 *
 * Returns 0, or -1 with "scanner is null", "output pointer is null" (both
 * checked before any row is read) or "aggregate failed: " followed by an
 * error name; *out is not written on failure. */
int rowkit_aggregate(Ctx *ctx, size_t column, AggC *out);

/* ==========================================================================
 * Top-k
 * ========================================================================== */

/* A cursor over the rows kept by rowkit_topk. */
typedef struct TopkCtx TopkCtx;

/* Reads every row that remains in `ctx` (predicates, negation, limit and
 * projection apply; `column` indexes the projected row) and keeps the k rows
 * whose `column` holds the largest numbers (descending non-zero) or the
 * smallest (descending 0). Rows whose value is missing or not a number are
 * left out. Of several rows with the same key at the boundary the earlier
 * ones are kept. At most k row copies are held at any time; with k = 0 the
 * rows are still consumed and the cursor is empty.
 *
 * Returns a cursor owned by the caller and freed by rowkit_topk_close; it
 * owns copies of its rows and stays valid after rowkit_close(ctx). Returns
 * NULL with "scanner is null", "topk failed: " followed by an error name
 * (OutOfMemory, also for a k too large to allocate, checked before any row
 * is read; UnterminatedQuote, InvalidJson, a read error, ...) or
 * "out of memory allocating topk context". */
TopkCtx *rowkit_topk(Ctx *ctx, size_t column, size_t k, int descending);

/* Hands out the next kept row, best first (rows with equal keys in an order
 * fixed by the heap). Returns 1 and stores, for each non-NULL pointer, the
 * row in *out_fields (an array of *out_n NUL-terminated strings) and its key
 * in *out_key; 0 when every row was handed out; -1 with
 * "topk context is null", "out of memory growing field buffers" or
 * "out of memory copying row" (that row is skipped; the cursor stays
 * usable). The array and its strings are owned by the cursor and valid until
 * the next rowkit_topk_next or rowkit_topk_close on it. */
int rowkit_topk_next(TopkCtx *tctx, const char *const **out_fields, size_t *out_n,
                     double *out_key);

/* Frees the cursor and its rows. NULL is ignored. */
void rowkit_topk_close(TopkCtx *tctx);

/* ==========================================================================
 * Order by
 * ========================================================================== */

/* A cursor over the rows sorted by rowkit_order_by. */
typedef struct OrderByCtx OrderByCtx;

/* Reads and copies every row that remains in `ctx` (predicates, negation,
 * limit and projection apply; `column` indexes the projected row) and sorts
 * the copies by `column`, ascending (descending 0) or descending: two values
 * compare as numbers when both are numbers (the rule of CPredicate), else as
 * unsigned bytes, a prefix before the longer text. A row without the column
 * sorts as the empty text. The sort is stable in both directions: rows with
 * equal keys keep their input order. Over a column that mixes numbers and
 * other texts this comparison is not a total order; every row is still
 * returned, in an order that depends on the sort.
 *
 * Returns a cursor owned by the caller and freed by rowkit_order_by_close;
 * it owns copies of its rows and stays valid after rowkit_close(ctx). Returns
 * NULL with "scanner is null", "order_by failed: " followed by an error name
 * (OutOfMemory, UnterminatedQuote, InvalidJson, a read error, ...) or
 * "out of memory allocating order_by context". */
OrderByCtx *rowkit_order_by(Ctx *ctx, size_t column, int descending);

/* Hands out the next row in order. Returns 1 and stores, for each non-NULL
 * pointer, the row in *out_fields (an array of *out_n NUL-terminated
 * strings); 0 when every row was handed out; -1 with
 * "order_by context is null", "out of memory growing field buffers" or
 * "out of memory copying row" (that row is skipped; the cursor stays
 * usable). The array and its strings are owned by the cursor and valid until
 * the next rowkit_order_by_next or rowkit_order_by_close on it. */
int rowkit_order_by_next(OrderByCtx *octx, const char *const **out_fields, size_t *out_n);

/* Frees the cursor and its rows. NULL is ignored. */
void rowkit_order_by_close(OrderByCtx *octx);

/* ==========================================================================
 * Row-major collect
 * ========================================================================== */

/* A whole result in one buffer. */
typedef struct CollectCtx CollectCtx;

/* Drains the rows that remain in `ctx` (predicates, negation, projection and
 * limit apply; rows already read are not included, rows read here count
 * against the limit) into one buffer: for every row in order, every field's
 * bytes followed by one NUL byte, with no row separator. Row r, field c is
 * NUL-terminated string number r * n_cols + c; a field holding a NUL byte is
 * copied verbatim and splits into two strings. n_cols is the width of the
 * handle's rows: the projection's length, or without a projection the
 * header's width (cut to max_column + 1 when max_column is set). Every row is
 * brought to it: a missing field is an empty string, fields past it are
 * dropped. (Earlier builds took the first row's field count instead, so a
 * short first row made every later row lose its other columns.) A result
 * without rows has n_cols 0.
 *
 * Returns a handle owned by the caller and freed by rowkit_collect_close; it
 * owns a copy of every byte and stays valid after rowkit_close(ctx). Returns
 * NULL with "scanner is null", "out of memory allocating collect context",
 * "out of memory collecting rows" or "collect failed: " followed by an error
 * name (UnterminatedQuote, InvalidJson, a read error, ...). On failure nothing
 * is returned, the scanner stays open and the rows read so far are gone from
 * it. */
CollectCtx *rowkit_collect(Ctx *ctx);

/* The collected bytes, owned by the handle and valid until
 * rowkit_collect_close; NULL when cc is NULL (out_len not written) or the
 * buffer is empty. When out_len is not NULL it receives the length in bytes
 * (0 when empty). */
const uint8_t *rowkit_collect_data(CollectCtx *cc, size_t *out_len);

/* Rows collected; 0 when cc is NULL. */
size_t rowkit_collect_n_rows(CollectCtx *cc);

/* Fields per row (the handle's width described at rowkit_collect); 0 when no
 * row was collected or cc is NULL. */
size_t rowkit_collect_n_cols(CollectCtx *cc);

/* Frees the handle and its buffer. NULL is ignored. */
void rowkit_collect_close(CollectCtx *cc);

/* ==========================================================================
 * Columnar collect
 * ========================================================================== */

/* A whole result as one data buffer and one offset array per column. */
typedef struct CollectColumnarCtx CollectColumnarCtx;

/* Drains the rows that remain in `ctx` (as rowkit_collect does) into columns:
 * column c's data holds the bytes of field c of every row, concatenated with
 * no separators, and its n_rows + 1 offsets delimit them: row r's value is
 * data[offsets[r]] up to data[offsets[r + 1]], offsets[0] is 0 and the last
 * offset is the data length. The number of columns is the handle's width as
 * for rowkit_collect (the projection's length, else the header's width), and
 * every row is brought to it: a missing field is an empty value, fields past
 * it are dropped. A result without rows has no columns.
 *
 * Returns a handle owned by the caller and freed by
 * rowkit_collect_columnar_close; it owns a copy of every byte and stays valid
 * after rowkit_close(ctx). Returns NULL with "scanner is null",
 * "out of memory allocating columnar collect context",
 * "out of memory collecting rows", "collect failed: ColumnTooLarge" (a column's
 * data would pass 4,294,967,295 bytes, beyond 32-bit offsets) or
 * "collect failed: " followed by another error name (UnterminatedQuote,
 * InvalidJson, a read error, ...). On failure nothing is returned, the
 * scanner stays open and the rows read so far are gone from it. */
CollectColumnarCtx *rowkit_collect_columnar(Ctx *ctx);

/* Rows collected; 0 when cc is NULL. */
size_t rowkit_collect_columnar_n_rows(CollectColumnarCtx *cc);

/* Number of columns; 0 when cc is NULL. */
size_t rowkit_collect_columnar_n_cols(CollectColumnarCtx *cc);

/* Non-empty lines the parallel scan of JSON records skipped because they are
 * not a JSON object (bad JSON, a bare value, a line of blanks); 0 when cc is
 * NULL and for every other result. Those lines give no row. */
size_t rowkit_collect_columnar_n_skipped_lines(CollectColumnarCtx *cc);

/* Values the parallel scan of JSON records left empty in the rows it
 * collected because the record held an object or an array there; 0 when cc
 * is NULL and for every other result. */
size_t rowkit_collect_columnar_n_emptied_values(CollectColumnarCtx *cc);

/* Column col_idx's data bytes, owned by the handle and valid until its close.
 * NULL, with out_len not written, when cc is NULL or col_idx is not below the
 * number of columns. Otherwise out_len (when not NULL) receives the length in
 * bytes, and NULL is returned when that length is 0. */
const uint8_t *rowkit_collect_columnar_data(CollectColumnarCtx *cc, size_t col_idx,
                                            size_t *out_len);

/* Column col_idx's offsets, owned by the handle and valid until its close.
 * NULL, with out_len not written, when cc is NULL or col_idx is not below the
 * number of columns. Otherwise out_len (when not NULL) receives the number of
 * entries (n_rows + 1, not bytes). */
const uint32_t *rowkit_collect_columnar_offsets(CollectColumnarCtx *cc, size_t col_idx,
                                                size_t *out_len);

/* Frees the handle and every column. NULL is ignored. */
void rowkit_collect_columnar_close(CollectColumnarCtx *cc);

/* ==========================================================================
 * Batches
 * ========================================================================== */

/* Many rows as one JSON text, for hosts (Python, JavaScript) that would
 * rather take thousands of rows per call than one. */
typedef struct Batch Batch;

/* The streaming validator handle (see "Streaming validator" below). */
typedef struct ValidatorCtx ValidatorCtx;

/* Takes the next rows of `ctx` (predicates, negation, projection and limit
 * apply; the rows taken count against the limit and are gone from the
 * handle) as one JSON text without whitespace: an array of rows, each an
 * array of its field values, e.g. [["1","x"],["2","y"]]. A value is a JSON
 * string ('"' and '\' escaped with a backslash; \b \f \n \r \t; other
 * bytes below 0x20 as \u00XX; everything else as it is), or, when its bytes
 * are not valid UTF-8, an array of its byte values: [104,255].
 *
 * A batch holds at least one row and at most `max_rows` (1 to 65536); it is
 * closed after the first row that brings the text (counted from its opening
 * bracket, without the closing one) to `target_bytes` or more, so a single
 * row larger than the target still makes a batch of one row.
 *
 * Returns 1 and stores a new batch in *out (owned by the caller, freed by
 * rowkit_batch_free, independent of `ctx`); 0 when no row is left (*out is
 * NULL; later calls return 0 again); -1 with *out NULL and one of
 * "scanner is null", "batch output is null",
 * "batch failed: InvalidBatchSize" (max_rows 0 or above 65536, or
 * target_bytes 0; no row is read), "batch failed: " followed by a reader
 * error name (UnterminatedQuote, InvalidJson, ...: the rows of the batch
 * read so far are gone, the handle goes on after them), "batch failed:
 * WriteFailed" (the text cannot grow) or "out of memory allocating batch".
 * A "batch failed: " message has the detail of rowkit_next. */
int rowkit_next_batch(Ctx *ctx, size_t max_rows, size_t target_bytes, Batch **out);

/* The same over the validated rows of `vctx`: each row is an object with
 * its row number, its values and, only when it has errors, the error array
 * of rowkit_validator_next:
 *   [{"number":1,"values":["1","x"]},
 *    {"number":2,"values":["-4","y"],"errors":[{"row":2,...}]}]
 * Messages as rowkit_next_batch, with "validator is null" for a NULL
 * handle and "batch failed: " followed by the validator's error name. */
int rowkit_validator_next_batch(ValidatorCtx *vctx, size_t max_rows, size_t target_bytes,
                                Batch **out);

/* The batch's JSON text, owned by the batch and valid until
 * rowkit_batch_free. Its length in bytes goes to *out_len when out_len is
 * not NULL; a NUL follows the text (not counted). NULL, with 0 in *out_len,
 * when batch is NULL. */
const char *rowkit_batch_json(Batch *batch, size_t *out_len);

/* Frees the batch and its text. NULL is ignored. */
void rowkit_batch_free(Batch *batch);

/* ==========================================================================
 * Parallel columnar collect
 * ========================================================================== */

/* Collects the whole file at `path` into the columnar result of
 * rowkit_collect_columnar, on several threads: the file is cut into ranges
 * at line feeds (at least 64 KiB of data per thread and per range, so a
 * small file runs on one thread), the threads take the ranges in file order
 * as they become free, and each range's rows join the result in file order
 * while later ranges are still being read. No scanner handle is involved.
 * `num_threads` is the number of threads wanted; 0 means one per processor
 * the calling thread may run on.
 *
 * The file is CSV with a header line, fields split at `delimiter` (the
 * quoting rules of the CSV reader), unless its name ends in ".ndjson",
 * ".jsonl" or ".json", in which case every line is one JSON object and the
 * first line's keys are the columns. A file whose first non-blank byte among
 * its first 256 is '[' (whatever its name) is one JSON array of objects and
 * is read on the calling thread as rowkit_open reads it. The `n_where`
 * predicates of `where` (NULL only when n_where is 0; texts not kept after
 * the call) and `negate` select rows as for rowkit_open; there is no
 * projection and no limit.
 *
 * The result has the header's columns and every row in file order, brought
 * to that width like rowkit_collect_columnar's rows. When no row matches it
 * still has the header's columns, each with the one offset 0, unlike
 * rowkit_collect_columnar; a CSV file that holds only its header line gives
 * no columns. Otherwise, for CSV and an array it is what
 * rowkit_collect_columnar gives on a handle opened without options (with the
 * same predicates). JSON records per line differ from it in two
 * ways, counted on the result: a line that is not a JSON object is skipped
 * (rowkit_collect_columnar_n_skipped_lines; an empty line is passed over
 * without being counted), and an object or array under a header key leaves
 * that value empty (rowkit_collect_columnar_n_emptied_values); the
 * sequential reader fails on both. In an array every such record fails the
 * call.
 *
 * Only line feeds separate rows here: a quoted CSV field holding a line
 * break is cut in two, and the call fails with the quote error that
 * surfaces (UnterminatedQuote) rather than read it. The file is opened once
 * and every read goes to that open file, which must be a regular file.
 *
 * Returns a handle owned by the caller, read with the rowkit_collect_columnar_*
 * accessors and freed by rowkit_collect_columnar_close. Returns NULL with
 * "path is null", "predicates are null", "predicate text is null",
 * "out of memory allocating predicates", "out of memory allocating IN
 * values", "out of memory allocating columnar collect context", or
 * "parallel scan failed: " followed by an error name: FileNotFound,
 * AccessDenied, IsDir, NotRegularFile (a pipe, a terminal, a device),
 * EmptyFile, a read error, the header's error (UnterminatedQuote, or
 * InvalidJson when the first JSON line is not an object), the error of the
 * first range in file order that fails (UnterminatedQuote, ...; the other
 * threads stop after the range they are reading), ColumnTooLarge (a
 * column's data would pass 4,294,967,295 bytes), SystemResources or
 * Unexpected (a thread could not be started) or OutOfMemory. Every thread has ended and nothing is left
 * allocated when it returns. */
CollectColumnarCtx *rowkit_parallel_collect_columnar(const char *path, uint8_t delimiter,
                                                     const CPredicate *where, size_t n_where,
                                                     int negate, size_t num_threads);

/* ==========================================================================
 * Validation report
 * ========================================================================== */

/* The result of rowkit_validate: row counts, error counts and the first
 * errors, as JSON text. */
typedef struct ValidationReport ValidationReport;

/* Validates every row of the file at `path` (read as by rowkit_open, with no
 * options) against the NUL-terminated JSON schema `schema_json`, an object
 * mapping column names to rules:
 *   {"id": {"type": "integer", "required": true, "min": 1},
 *    "status": {"one_of": ["open", "closed"]}}
 * Rule keys: "type" ("any", "integer", "float", "boolean", "datetime",
 * "string"), "required" (a blank field is an error), "min" and "max"
 * (inclusive numeric bounds), "min_len" and "max_len" (inclusive length in
 * code points, in bytes for text that is not UTF-8), "one_of" (allowed texts;
 * numbers stand for their plain decimal text). Every row is also checked for
 * the header's field count. At most `max_errors` errors (0 means 100) are
 * kept over the whole file; later ones are still counted.
 *
 * Returns a handle owned by the caller and freed by rowkit_validate_free, or
 * NULL with "path is null", "schema_json is null", "validate failed: "
 * followed by an error name (FileNotFound, BadSchema, UnknownColumn,
 * UnterminatedQuote, InvalidJson, OutOfMemory, ...), "out of memory
 * rendering report" or "out of memory". The detail of "validate failed: "
 * says which column and rule of the schema is wrong, where its JSON breaks,
 * or where in the file reading failed. A failed call leaves nothing
 * allocated. */
ValidationReport *rowkit_validate(const char *path, const char *schema_json, size_t max_errors);

/* The report as one NUL-terminated JSON object without whitespace:
 *   {"rows_total":N,"rows_valid":N,"rows_invalid":N,"errors_total":N,
 *    "truncated":true|false,"counts":{"bad_type":N,...},"errors":[...]}
 * where counts names only the kinds that occurred (too_few_fields,
 * too_many_fields, missing_required, bad_type, below_min, above_max,
 * too_short, too_long, not_in_set, in that order) and each kept error is
 *   {"row":R,"column":C,"column_name":"...","rule":"kind","value":"..."}
 * (row 1 is the first data row; column null and empty texts for field-count
 * errors; a text that is not valid UTF-8 is an array of its byte values).
 * Owned by the handle and valid until rowkit_validate_free; NULL when vr is
 * NULL. */
const char *rowkit_validate_json(ValidationReport *vr);

/* Frees the handle and its text. NULL is ignored. */
void rowkit_validate_free(ValidationReport *vr);

/* ==========================================================================
 * Streaming validator
 * ========================================================================== */

/* Opens the file at `path` (read as by rowkit_open with no options) for
 * validation against `schema_json` (the schema of rowkit_validate), to
 * pull validated rows one at a time with rowkit_validator_next or in
 * batches with rowkit_validator_next_batch.
 *
 * Returns a handle owned by the caller and freed by rowkit_validator_close,
 * or NULL with "path is null", "schema_json is null", "out of memory",
 * "cannot open validator: " followed by an error name (FileNotFound,
 * EmptyFile, InvalidJson, BadSchema, UnknownColumn, ...) or "out of memory
 * copying header"; the detail (rowkit_last_error_detail) names the file and
 * the place of a bad header or first record, or says what the schema gets
 * wrong. */
ValidatorCtx *rowkit_validator_open(const char *path, const char *schema_json);

/* Reads and checks the next row (every error of the row is kept). Returns
 * 1 and stores, for each non-NULL pointer: the row's fields as they were
 * read (all of them, also those with errors and those beyond the header) in
 * *out_fields, an array of *out_n NUL-terminated strings; its errors in
 * *out_errors_json, the JSON array
 *   [{"row":R,"column":C,"column_name":"...","rule":"kind","value":"..."}]
 * (as in the report of rowkit_validate), or NULL when the row is valid;
 * its number in *out_row_number (the first data row is 1). Returns 0 at
 * the end (nothing written; later calls return 0 again), or -1 with
 * nothing written and "validator is null", "validate failed: " followed by
 * an error name (UnterminatedQuote, InvalidJson, OutOfMemory, ...),
 * "out of memory growing field buffers", "out of memory copying row" or
 * "out of memory rendering row errors". The detail of "validate failed: "
 * names the file and the line and byte offset of the failing record.
 *
 * A "validate failed: " error ends the validation: later calls and batches
 * fail with the same message, since a row the reader could not read has no
 * number and the rows after it could not be numbered by their place. After
 * the other failures the row is counted but lost, and the next call goes
 * on with the following row.
 *
 * The array, its strings and the errors text are owned by the handle and
 * valid until the next rowkit_validator_next, rowkit_validator_next_batch
 * or rowkit_validator_close on it. */
int rowkit_validator_next(ValidatorCtx *vctx, const char *const **out_fields, size_t *out_n,
                          const char **out_errors_json, uint64_t *out_row_number);

/* The header name at `index`, owned by the handle and valid until
 * rowkit_validator_close; NULL when vctx is NULL or index is out of range. */
const char *rowkit_validator_column_name(ValidatorCtx *vctx, size_t index);

/* Number of header names; 0 when vctx is NULL. */
size_t rowkit_validator_n_columns(ValidatorCtx *vctx);

/* Rows read so far, rows without errors and rows with errors (0 when vctx
 * is NULL). After the last row, total = valid + invalid. */
uint64_t rowkit_validator_rows_total(ValidatorCtx *vctx);
uint64_t rowkit_validator_rows_valid(ValidatorCtx *vctx);
uint64_t rowkit_validator_rows_invalid(ValidatorCtx *vctx);

/* The input bytes the validator has consumed so far, as rowkit_bytes_read
 * counts them; 0 when vctx is NULL. */
uint64_t rowkit_validator_bytes_read(ValidatorCtx *vctx);

/* The 1-based file line where the row last returned (by
 * rowkit_validator_next or as the last row of a batch) begins, or where the
 * record that ended the validation begins: rows are numbered by data row,
 * lines by the file (line 1 is a CSV header; a record of a JSON array is on
 * the line of its '{'). 0 before the first row and when vctx is NULL.
 * Never fails and never touches the last-error message. */
uint64_t rowkit_validator_line_number(ValidatorCtx *vctx);

/* Closes the file and frees the handle and everything it handed out. NULL
 * is ignored. */
void rowkit_validator_close(ValidatorCtx *vctx);

/* ==========================================================================
 * Validation into files
 * ========================================================================== */

/* The totals of rowkit_validate_to_files. */
typedef struct Stats {
    uint64_t rows_total;   /* rows read */
    uint64_t rows_valid;   /* rows written to the accepted file */
    uint64_t rows_invalid; /* rows written to the rejected file */
    uint64_t errors_total; /* errors of all rows (every error is kept) */
} Stats;

/* Validates the file at `path` (read as by rowkit_open with no options)
 * against `schema_json` (the schema of rowkit_validate) and splits it in one
 * pass into two new files:
 *  - `accepted`: CSV, the header and then every row without errors, each
 *    record ended by CR LF, fields separated by commas and quoted only when
 *    they hold a comma, a double quote, a CR or an LF (quotes doubled); a
 *    record of one empty field is written as "";
 *  - `rejected`: one line per row with errors, ended by LF:
 *      {"values":["7","x"],"errors":[{"row":2,"column":0,...}]}
 *    with every error of the row, as in the report of rowkit_validate.
 * Header names and fields must be valid UTF-8. Both files are created
 * exclusively (an existing file is never touched; mode 0666 less the
 * umask), written through 64 KiB buffers, then flushed, synced to the disk
 * and closed before the call returns, so a successful split is durable.
 *
 * Returns 0 and fills *out; or -1 with *out zeroed and
 * "validate_to_files requires input, schema, two outputs and stats" (a
 * NULL argument) or "validate_to_files failed: " followed by an error name:
 * FileNotFound, BadSchema, UnknownColumn, ... (nothing created);
 * PathAlreadyExists (an output exists); InvalidUtf8, UnterminatedQuote,
 * InvalidJson, NoSpaceLeft, DiskQuota, InputOutput, OutOfMemory, ... (a
 * failure midway, also while syncing or closing). On every failure neither
 * output remains: a file this call created is removed, and only while its
 * name still names that file. */
int rowkit_validate_to_files(const char *path, const char *schema_json, const char *accepted,
                             const char *rejected, Stats *out);

/* ==========================================================================
 * Validation outcome
 * ========================================================================== */

/* Validates in one call and answers with one NUL-terminated JSON text.
 * `format` 0: the first `input_len` bytes of `input` are a file path (no
 * NUL needed after them; a NUL among them is refused with BadPathName),
 * read as by rowkit_open; 1: `input` holds `input_len` bytes of CSV text;
 * 2: `input` holds JSON records (one object per line, or an array of
 * objects). `full` 0: the text is "true" when every row is valid, else
 * "false", answered at the first invalid row (no later row is read);
 * `full` 1: the array of the invalid rows, [] when there is none:
 *   [{"values":["1","x"],"errors":[{"column":1,"column_name":"b",
 *     "rule":"bad_type","value":"x"}]}]
 * (error objects as in the report, without "row"). Header names and the
 * fields of every row read must be valid UTF-8.
 *
 * Returns the text, owned by the caller and freed by rowkit_outcome_free,
 * or NULL with "input is null", "schema is null", "invalid validation
 * options" (format not 0 to 2, full not 0 or 1), "validate failed: "
 * followed by an error name (BadPathName, FileNotFound, EmptyFile, also
 * for input_len 0 with format 1 or 2, BadSchema, UnknownColumn,
 * InvalidUtf8, UnterminatedQuote, InvalidJson, OutOfMemory, ...) or
 * "out of memory". */
char *rowkit_validate_outcome(const uint8_t *input, size_t input_len, const char *schema_json,
                              int format, int full);

/* Frees a text of rowkit_validate_outcome. NULL is ignored. */
void rowkit_outcome_free(char *result);

#ifdef __cplusplus
}
#endif

#endif /* ROWKIT_H */
