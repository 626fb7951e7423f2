// The JSON structural scan and the string routines the object parser uses.
//
// findJsonStructure lists the position of every structural byte ({ } [ ] " :
// ,) of a text in a caller-supplied table, so that the parser can jump from
// key to colon to value without looking at every byte. The scan knows nothing
// of strings: structural bytes inside strings are listed too, and the parser
// sorts them out with the string routines below.
//
// Like byte_search.hpp, the block kernels are written once over an
// instruction set (simd/native.hpp). Loads never read outside the text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "alloc.hpp"
#include "byte_search.hpp"
#include "errors.hpp"

namespace rowkit::json {

enum class TokenType : uint8_t {
    open_brace = 0,
    close_brace = 1,
    open_bracket = 2,
    close_bracket = 3,
    quote = 4,
    colon = 5,
    comma = 6,
    unknown = 7,  // never produced by the scan
};

struct Token {
    size_t pos;  // byte offset in the text
    TokenType type;
};

// Capacity of a token table. A scan that fills it stops there; the parser
// treats a full table as too many tokens.
inline constexpr size_t kMaxTokens = 4096;

// Token type of each byte; unknown for the bytes that are not structural.
struct TokenTypeTable {
    TokenType of[256];
    constexpr TokenTypeTable() : of() {
        for (TokenType &t : of) t = TokenType::unknown;
        of[static_cast<unsigned char>('{')] = TokenType::open_brace;
        of[static_cast<unsigned char>('}')] = TokenType::close_brace;
        of[static_cast<unsigned char>('[')] = TokenType::open_bracket;
        of[static_cast<unsigned char>(']')] = TokenType::close_bracket;
        of[static_cast<unsigned char>('"')] = TokenType::quote;
        of[static_cast<unsigned char>(':')] = TokenType::colon;
        of[static_cast<unsigned char>(',')] = TokenType::comma;
    }
    TokenType operator[](char c) const { return of[static_cast<unsigned char>(c)]; }
};
inline constexpr TokenTypeTable kTokenTypes;

// Writes one token per structural byte of `text` into tokens[0..kMaxTokens),
// in increasing position order, and returns how many were written (at most
// kMaxTokens). Uses the compiled set.
size_t findJsonStructure(std::string_view text, Token *tokens);

// The mask of the structural bytes among the block of set V at p (bit i for
// p[i]). '{' and '[' differ only in bit 0x20, as do '}' and ']', so setting
// that bit first lets one compare cover each pair.
template <class V>
inline uint32_t structuralMask(const char *p) {
    const typename V::Block block = V::load(p);
    const typename V::Block folded = V::bitOr(block, V::splat(0x20));
    typename V::Block m =
        V::bitOr(V::equal(folded, V::splat('{')), V::equal(folded, V::splat('}')));
    m = V::bitOr(m, V::equal(block, V::splat('"')));
    m = V::bitOr(m, V::equal(block, V::splat(':')));
    m = V::bitOr(m, V::equal(block, V::splat(',')));
    return V::movemask(m);
}

// The kernel behind findJsonStructure, for any set V: whole blocks, then
// single bytes.
template <class V>
size_t findJsonStructureWith(std::string_view text, Token *tokens) {
    const char *p = text.data();
    const size_t n = text.size();
    size_t count = 0;
    size_t i = 0;
    for (; i + V::kBlockBytes <= n; i += V::kBlockBytes) {
        uint32_t mask = structuralMask<V>(p + i);
        while (mask) {
            size_t at = i + static_cast<size_t>(__builtin_ctz(mask));
            tokens[count].pos = at;
            tokens[count].type = kTokenTypes[p[at]];
            if (++count == kMaxTokens) return count;
            mask &= mask - 1;
        }
    }
    for (; i < n; ++i) {
        TokenType t = kTokenTypes[p[i]];
        if (t == TokenType::unknown) continue;
        tokens[count].pos = i;
        tokens[count].type = t;
        if (++count == kMaxTokens) return count;
    }
    return count;
}

// Whether the byte at `pos` is escaped: preceded by an odd run of backslashes.
inline bool isEscapedAt(std::string_view text, size_t pos) {
    size_t run = 0;
    while (run < pos && text[pos - 1 - run] == '\\') ++run;
    return (run & 1) != 0;
}

// Position of the first double quote or backslash at or after `from`, or
// text.size() when there is none.
inline size_t unescapedStringEnd(std::string_view text, size_t from) {
    if (from >= text.size()) return text.size();
    return from + bytes::findEither(text.data() + from, text.size() - from, '"', '\\');
}

// Position of the quote that closes a string whose content starts at
// `start`: the first double quote not escaped by a backslash. Nothing when
// the text ends first.
std::optional<size_t> findStringEnd(std::string_view text, size_t start);

// The same, taking the end from the token table when the token after the
// opening quote (index token_start) is an unescaped quote, else scanning from
// string_start. `n_tokens` is the number of valid tokens.
std::optional<size_t> findStringEndFromTokens(std::string_view text, const Token *tokens,
                                              size_t n_tokens, size_t token_start,
                                              size_t string_start);

// Whether `s` holds a backslash (so it must be decoded).
bool hasJsonEscape(std::string_view s);

// Moves *index forward to the first token after it whose position is past
// min_pos. False (and *index == n_tokens) when no such token is left.
inline bool advanceTokenIndex(const Token *tokens, size_t n_tokens, size_t *index,
                              size_t min_pos) {
    size_t i = *index + 1;
    while (i < n_tokens && tokens[i].pos <= min_pos) ++i;
    *index = i;
    return i < n_tokens;
}

// Decodes the content of a JSON string (the bytes between its quotes) into
// `out`, which must hold at least s.size() bytes (decoding never lengthens a
// string), and returns the decoded length. Every escape is resolved; \u
// escapes become UTF-8, surrogate pairs one four-byte sequence. Other bytes
// are copied unchanged, with no check of control bytes or UTF-8.
// InvalidEscape: a backslash at the end or before an unknown letter.
// InvalidUnicodeEscape: fewer than four hex digits, a non-hex digit, a high
// surrogate not followed at once by a low one, or a lone low surrogate.
Result<size_t> decodeJsonString(std::string_view s, char *out);

// decodeJsonString into a block of `arena`, which owns the result.
Result<std::string_view> decodeOwnedJsonString(std::string_view s, Arena &arena);

}  // namespace rowkit::json
