// Writing JSON text. Every JSON text the library produces goes through the
// one string rule here, so all outputs escape alike:
//
//  - text that is valid UTF-8 is a JSON string: '"' and '\' get a backslash;
//    backspace, form feed, LF, CR and tab are \b \f \n \r \t; every other
//    byte below 0x20 is \u00XX with lower-case hex digits; all other bytes
//    (non-ASCII, DEL, '/') are written as they are;
//  - text that is not valid UTF-8 is an array of its byte values in decimal,
//    e.g. the bytes FF 41 as [255,65].
//
// Writers append to a ByteBuf and fail only with OutOfMemory; on failure the
// buffer holds a partial text that the caller discards.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "alloc.hpp"
#include "errors.hpp"

namespace rowkit {

// A text by the rule above: a JSON string or a byte array.
Status writeJsonText(ByteBuf &out, std::string_view text);
// Always a JSON string; the caller knows `text` is valid UTF-8.
Status writeJsonString(ByteBuf &out, std::string_view text);
Status writeJsonUnsigned(ByteBuf &out, uint64_t value);
// [text,text,...] with each text by the rule above; [] when empty.
Status writeJsonTextArray(ByteBuf &out, std::span<const std::string_view> texts);

// Appends `raw` as it is: punctuation, keys and literals of a JSON text.
Status writeJsonRaw(ByteBuf &out, std::string_view raw);

}  // namespace rowkit
