#include "input_limits.hpp"

namespace rowkit {

Status InputLimits::checkJsonFields(std::string_view text) const {
    if (!max_fields || text.empty()) return Status();
    size_t depth = 0;
    size_t keys = 0;
    bool in_string = false;
    bool escaped = false;
    for (char c : text) {
        if (in_string) {
            if (escaped)
                escaped = false;
            else if (c == '"')
                in_string = false;
            else if (c == '\\')
                escaped = true;
            continue;
        }
        switch (c) {
            case '"': in_string = true; break;
            case '{':
            case '[': ++depth; break;
            case '}':
            case ']':
                if (depth > 0) --depth;
                break;
            case ':':
                if (depth == 1) {
                    if (keys >= *max_fields) return Error::TooManyFields;
                    ++keys;
                }
                break;
            default: break;
        }
    }
    return Status();
}

}  // namespace rowkit
