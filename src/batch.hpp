// JSON row batches: many rows as one JSON text, so that a host language
// takes thousands of rows per call instead of one.
//
// A plain batch is [row,row,...] where a row is [value,value,...]; a
// validator batch is [object,object,...] where an object is
// {"number":N,"values":[...]} with ,"errors":[...] before the closing brace
// when the row has errors. Values follow the JSON text rule of
// json_writer.hpp (a byte array for text that is not valid UTF-8). No
// whitespace anywhere.
#pragma once

#include <cstddef>
#include <optional>

#include "alloc.hpp"
#include "errors.hpp"
#include "query.hpp"
#include "validate.hpp"

namespace rowkit::batch {

inline constexpr size_t kMaxRows = 65536;

// The limits of one batch.
struct Options {
    size_t max_rows = 0;      // 1 to kMaxRows rows at most
    size_t target_bytes = 0;  // closed after the row that brings the text to this length

    // InvalidBatchSize unless both limits are in range.
    Status check() const;
};

// The next batch of the query's rows (predicates, negation, projection and
// the limit apply), or nothing when no row is left. A batch holds at least
// one row and at most max_rows; it is closed once its text, counted from the
// opening bracket and without the closing one, is target_bytes long or
// longer. Errors: InvalidBatchSize before any row is read; the reader's and
// the query's errors as they are (the rows pulled so far are consumed);
// WriteFailed when the text cannot grow.
//
// `size_hint` carries the length of the source's previous batch from call
// to call, so that a batch's text is allocated once at about its final size
// and rows append to it without growing it.
Result<std::optional<ByteBuf>> readJson(Query &query, const Options &options, size_t *size_hint);

// The same over validated rows: each row's number, values and errors.
Result<std::optional<ByteBuf>> readJson(Validator &validator, const Options &options,
                                        size_t *size_hint);

}  // namespace rowkit::batch
