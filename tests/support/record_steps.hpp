// Where the records of a scan begin, for the readers' unit suites: the CSV
// reader and the JSON records reader report places the same way.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "chunk_reader.hpp"
#include "errors.hpp"

namespace rowkit_test {

inline std::string at(rowkit::RecordPosition p) {
    return std::to_string(p.line) + "@" + std::to_string(p.offset);
}

// Where each step's record begins, "line@offset", with " !" and the error
// name on a failure; a failure that repeats ends the scan. `open(&place)`
// makes the scanner; a failed open gives "open", the place it reports and
// the error.
template <class Open>
std::vector<std::string> positionSteps(Open open) {
    rowkit::RecordPosition failed_at{99, 99};
    auto s = open(&failed_at);
    if (!s.ok()) return {"open " + at(failed_at) + " !" + rowkit::errorName(s.error())};
    std::vector<std::string> out;
    for (;;) {
        auto r = s->next();
        if (r.ok() && !r->has_value()) break;
        out.push_back(at(s->position()) +
                      (r.ok() ? "" : " !" + std::string(rowkit::errorName(r.error()))));
        if (!r.ok() && out.size() >= 2 && out[out.size() - 2] == out.back()) break;
    }
    return out;
}

// Where each line of `text` begins.
inline std::vector<size_t> lineStarts(std::string_view text) {
    std::vector<size_t> starts = {0};
    for (size_t i = 0; i < text.size(); ++i)
        if (text[i] == '\n') starts.push_back(i + 1);
    return starts;
}

}  // namespace rowkit_test
