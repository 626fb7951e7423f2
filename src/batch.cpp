#include "batch.hpp"

#include <charconv>
#include <cstring>

#include "json_writer.hpp"

namespace rowkit::batch {

namespace {

// Room kept above the previous batch's length: batches of a steady source
// differ by a row or so, and then never outgrow their first block.
inline size_t reserveFor(size_t hint) {
    constexpr size_t kSmallest = 256;
    if (hint < kSmallest) return kSmallest;
    return hint > SIZE_MAX / 2 ? hint : hint + hint / 8;
}

struct QueryRows {
    Query &query;

    RowResult next() { return query.next(); }
    static Status write(ByteBuf &out, Row row) { return writeJsonTextArray(out, row); }
};

struct ValidatedRows {
    Validator &validator;

    Result<std::optional<ValidatedRow>> next() { return validator.next(); }
    static Status write(ByteBuf &out, const ValidatedRow &row) {
        // The opening of the object in one piece.
        constexpr std::string_view kNumber = "{\"number\":", kValues = ",\"values\":";
        char head[kNumber.size() + 20 + kValues.size()];
        std::memcpy(head, kNumber.data(), kNumber.size());
        char *end = std::to_chars(head + kNumber.size(), head + sizeof head, row.number).ptr;
        std::memcpy(end, kValues.data(), kValues.size());
        end += kValues.size();
        ROWKIT_TRY(writeJsonRaw(out, std::string_view(head, static_cast<size_t>(end - head))));
        ROWKIT_TRY(writeJsonTextArray(out, row.row));
        if (!row.errors.empty()) {
            ROWKIT_TRY(writeJsonRaw(out, ",\"errors\":"));
            ROWKIT_TRY(writeRowErrorsJson(out, row.errors));
        }
        return writeJsonRaw(out, "}");
    }
};

template <class Rows>
Result<std::optional<ByteBuf>> readJsonInner(Rows rows, const Options &options, size_t *size_hint) {
    ROWKIT_TRY(options.check());
    ByteBuf text;
    if (!text.reserve(reserveFor(*size_hint)) || !text.push('[')) return Error::WriteFailed;
    size_t count = 0;
    while (count < options.max_rows) {
        auto r = rows.next();
        if (!r.ok()) return r.error();
        if (!r->has_value()) break;
        if (count > 0 && !text.push(',')) return Error::WriteFailed;
        if (!rows.write(text, **r).ok()) return Error::WriteFailed;
        ++count;
        if (text.size() >= options.target_bytes) break;
    }
    if (count == 0) return std::optional<ByteBuf>();
    if (!text.push(']')) return Error::WriteFailed;
    *size_hint = text.size();
    return std::optional<ByteBuf>(std::move(text));
}

}  // namespace

Status Options::check() const {
    if (max_rows == 0 || max_rows > kMaxRows || target_bytes == 0) return Error::InvalidBatchSize;
    return Status();
}

Result<std::optional<ByteBuf>> readJson(Query &query, const Options &options, size_t *size_hint) {
    return readJsonInner(QueryRows{query}, options, size_hint);
}

Result<std::optional<ByteBuf>> readJson(Validator &validator, const Options &options,
                                        size_t *size_hint) {
    return readJsonInner(ValidatedRows{validator}, options, size_hint);
}

}  // namespace rowkit::batch
