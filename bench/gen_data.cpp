// gen_data DIR: writes the benchmark inputs into DIR (created when missing).
//
//   rows.csv     about 256 MiB: a header line and 8 mixed columns
//   rows.ndjson  the same rows as one JSON object per line
//   rows32.csv   about 32 MiB: the header and the first rows of rows.csv
//
// The rows come from a fixed-seed splitmix64 generator, so every run writes
// byte-identical files. Each file is written under a temporary name and
// renamed when complete; when all three files already exist and rows.csv has
// reached its target size, nothing is regenerated.

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::uint64_t kCsvTarget = 256ull << 20;
constexpr std::uint64_t kCsv32Limit = 32ull << 20;
constexpr std::uint64_t kSeed = 0x726f776b69742d31ull;  // fixed: output never changes
constexpr std::size_t kFlushBytes = 1u << 20;

[[noreturn]] void die(const std::string& what) {
    std::fprintf(stderr, "gen_data: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

struct SplitMix64 {
    std::uint64_t state;

    std::uint64_t next() {
        std::uint64_t z = (state += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }

    // Uniform enough in [0, n) for data generation; n is small.
    std::uint64_t below(std::uint64_t n) { return next() % n; }
};

// Buffered writer to a temporary file that is renamed into place on finish().
class FileWriter {
public:
    explicit FileWriter(std::string path) : path_(std::move(path)), tmp_(path_ + ".tmp") {
        fd_ = ::open(tmp_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd_ < 0) die("cannot create " + tmp_);
        buf_.reserve(kFlushBytes + 4096);
    }
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;
    ~FileWriter() {
        if (fd_ >= 0) {
            ::close(fd_);
            ::unlink(tmp_.c_str());
        }
    }

    void append(std::string_view text) {
        buf_.append(text);
        written_ += text.size();
        if (buf_.size() >= kFlushBytes) flush();
    }

    std::uint64_t size() const { return written_; }

    void finish() {
        flush();
        if (::close(fd_) != 0) die("cannot close " + tmp_);
        fd_ = -1;
        if (::rename(tmp_.c_str(), path_.c_str()) != 0) die("cannot rename " + tmp_);
    }

private:
    void flush() {
        const char* p = buf_.data();
        std::size_t left = buf_.size();
        while (left > 0) {
            ssize_t n = ::write(fd_, p, left);
            if (n < 0) {
                if (errno == EINTR) continue;
                die("cannot write " + tmp_);
            }
            p += n;
            left -= static_cast<std::size_t>(n);
        }
        buf_.clear();
    }

    std::string path_;
    std::string tmp_;
    std::string buf_;
    std::uint64_t written_ = 0;
    int fd_ = -1;
};

constexpr const char* kColumns[] = {"id", "amount", "price", "name", "city", "date", "active", "comment"};

constexpr std::string_view kNames[] = {
    "alice", "bob",   "carol", "dave",  "erin",  "frank", "grace", "heidi", "ivan", "judy", "mallory",
    "niaj",  "olivia", "peggy", "rupert", "sybil", "trent", "victor", "walter", "yara", "zoe",  "quinn",
    "omar",  "lena",  "tariq", "mei",   "sven",  "ines",  "kofi",  "paula", "ravi", "ute"};

constexpr std::string_view kCities[] = {
    "Lisbon", "Oslo",   "Nairobi", "Lima",    "Osaka",  "Toronto", "Berlin", "Quito",
    "Hanoi",  "Dublin", "Austin",  "Madrid",  "Seoul",  "Accra",   "Perth",  "Zurich",
    "Cairo",  "Bogota", "Tallinn", "Chennai", "Denver", "Krakow",  "Porto",  "Santiago"};

constexpr std::string_view kWords[] = {
    "quick",  "order",  "shipped", "late",   "refund", "called", "again",   "box",
    "damaged", "fine",  "thanks",  "left",   "note",   "paid",   "pending", "review",
    "great",  "slow",   "return",  "gift",   "window", "blue",   "small",   "extra"};

constexpr std::string_view kSayings[] = {"hi", "later", "ok", "no way", "sure, fine", "thanks"};

template <std::size_t N>
std::string_view pick(SplitMix64& rng, const std::string_view (&list)[N]) {
    return list[rng.below(N)];
}

void appendInt(std::string& out, std::int64_t value) {
    char tmp[24];
    auto [end, ec] = std::to_chars(tmp, tmp + sizeof tmp, value);
    (void)ec;
    out.append(tmp, end);
}

void appendPadded(std::string& out, unsigned value, int width) {
    char tmp[8];
    int i = width;
    while (i-- > 0) {
        tmp[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    out.append(tmp, static_cast<std::size_t>(width));
}

// One generated record, kept as text pieces shared by both output formats.
struct Row {
    std::uint64_t id = 0;
    std::string amount;
    std::string price;
    std::string_view name;
    std::string_view city;
    std::string date;
    bool active = false;
    std::string comment;  // raw text, unescaped
    bool quoted = false;  // comment holds commas and quotes
};

void makeRow(SplitMix64& rng, std::uint64_t id, Row& row) {
    row.id = id;

    row.amount.clear();
    appendInt(row.amount, static_cast<std::int64_t>(rng.below(200001)) - 100000);

    const std::uint64_t cents = rng.below(1000000);
    row.price.clear();
    appendInt(row.price, static_cast<std::int64_t>(cents / 100));
    row.price.push_back('.');
    appendPadded(row.price, static_cast<unsigned>(cents % 100), 2);

    row.name = pick(rng, kNames);
    row.city = pick(rng, kCities);

    static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const unsigned year = 2019 + static_cast<unsigned>(rng.below(7));
    const unsigned month = 1 + static_cast<unsigned>(rng.below(12));
    unsigned days = kDays[month - 1];
    if (month == 2 && year % 4 == 0) days = 29;
    const unsigned day = 1 + static_cast<unsigned>(rng.below(days));
    row.date.clear();
    appendPadded(row.date, year, 4);
    row.date.push_back('-');
    appendPadded(row.date, month, 2);
    row.date.push_back('-');
    appendPadded(row.date, day, 2);

    row.active = (rng.next() & 1) != 0;

    row.comment.clear();
    row.quoted = rng.below(8) == 0;
    if (row.quoted) {
        // e.g.  He said "hi", then left  ->  "He said ""hi"", then left"
        row.comment.append(pick(rng, kNames));
        row.comment.append(" said \"");
        row.comment.append(pick(rng, kSayings));
        row.comment.append("\", then ");
        row.comment.append(pick(rng, kWords));
        if (rng.below(2) == 0) {
            row.comment.append(", ");
            row.comment.append(pick(rng, kWords));
            row.comment.append(", ");
            row.comment.append(pick(rng, kWords));
        }
    } else {
        const std::uint64_t words = 1 + rng.below(6);
        for (std::uint64_t i = 0; i < words; ++i) {
            if (i > 0) row.comment.push_back(' ');
            row.comment.append(pick(rng, kWords));
        }
    }
}

void appendCsvLine(std::string& out, const Row& row) {
    appendInt(out, static_cast<std::int64_t>(row.id));
    out.push_back(',');
    out.append(row.amount);
    out.push_back(',');
    out.append(row.price);
    out.push_back(',');
    out.append(row.name);
    out.push_back(',');
    out.append(row.city);
    out.push_back(',');
    out.append(row.date);
    out.push_back(',');
    out.append(row.active ? "true" : "false");
    out.push_back(',');
    if (row.quoted) {
        out.push_back('"');
        for (char c : row.comment) {
            if (c == '"') out.push_back('"');
            out.push_back(c);
        }
        out.push_back('"');
    } else {
        out.append(row.comment);
    }
    out.push_back('\n');
}

void appendJsonString(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    out.push_back('"');
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
            case '"': out.append("\\\""); break;
            case '\\': out.append("\\\\"); break;
            case '\n': out.append("\\n"); break;
            case '\r': out.append("\\r"); break;
            case '\t': out.append("\\t"); break;
            default:
                if (u < 0x20) {
                    out.append("\\u00");
                    out.push_back(kHex[u >> 4]);
                    out.push_back(kHex[u & 15]);
                } else {
                    out.push_back(c);
                }
        }
    }
    out.push_back('"');
}

void appendJsonKey(std::string& out, const char* key, bool first) {
    out.push_back(first ? '{' : ',');
    appendJsonString(out, key);
    out.push_back(':');
}

void appendJsonLine(std::string& out, const Row& row) {
    appendJsonKey(out, kColumns[0], true);
    appendInt(out, static_cast<std::int64_t>(row.id));
    appendJsonKey(out, kColumns[1], false);
    out.append(row.amount);
    appendJsonKey(out, kColumns[2], false);
    out.append(row.price);
    appendJsonKey(out, kColumns[3], false);
    appendJsonString(out, row.name);
    appendJsonKey(out, kColumns[4], false);
    appendJsonString(out, row.city);
    appendJsonKey(out, kColumns[5], false);
    appendJsonString(out, row.date);
    appendJsonKey(out, kColumns[6], false);
    out.append(row.active ? "true" : "false");
    appendJsonKey(out, kColumns[7], false);
    appendJsonString(out, row.comment);
    out.append("}\n");
}

bool fileAtLeast(const std::string& path, std::uint64_t bytes) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           static_cast<std::uint64_t>(st.st_size) >= bytes;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: gen_data DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    const std::string csv_path = dir + "/rows.csv";
    const std::string ndjson_path = dir + "/rows.ndjson";
    const std::string csv32_path = dir + "/rows32.csv";

    if (fileAtLeast(csv_path, kCsvTarget) && fileAtLeast(ndjson_path, kCsvTarget) &&
        fileAtLeast(csv32_path, 1)) {
        std::printf("gen_data: %s already holds the benchmark files\n", dir.c_str());
        return 0;
    }

    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        std::fprintf(stderr, "gen_data: cannot create %s: %s\n", dir.c_str(), ec.message().c_str());
        return 1;
    }

    FileWriter csv(csv_path);
    FileWriter ndjson(ndjson_path);
    FileWriter csv32(csv32_path);

    std::string header;
    for (const char* column : kColumns) {
        if (!header.empty()) header.push_back(',');
        header.append(column);
    }
    header.push_back('\n');
    csv.append(header);
    csv32.append(header);

    SplitMix64 rng{kSeed};
    Row row;
    std::string csv_line;
    std::string json_line;
    bool csv32_open = true;
    std::uint64_t rows = 0;
    while (csv.size() < kCsvTarget) {
        makeRow(rng, ++rows, row);
        csv_line.clear();
        appendCsvLine(csv_line, row);
        json_line.clear();
        appendJsonLine(json_line, row);
        csv.append(csv_line);
        ndjson.append(json_line);
        if (csv32_open) {
            if (csv32.size() + csv_line.size() <= kCsv32Limit) {
                csv32.append(csv_line);
            } else {
                csv32_open = false;
            }
        }
    }

    csv.finish();
    ndjson.finish();
    csv32.finish();
    std::printf("gen_data: wrote %llu rows: rows.csv %llu bytes, rows.ndjson %llu bytes, rows32.csv %llu bytes\n",
                static_cast<unsigned long long>(rows), static_cast<unsigned long long>(csv.size()),
                static_cast<unsigned long long>(ndjson.size()), static_cast<unsigned long long>(csv32.size()));
    return 0;
}
