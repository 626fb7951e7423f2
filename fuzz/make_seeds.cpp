// Writes the seed corpus of every fuzz target:
//   make_seeds SOURCE_DIR VECTORS_DIR OUT_DIR
// Seeds come from the bundled examples (SOURCE_DIR/examples), the JSON
// conformance files when VECTORS_DIR holds them, and the edge cases the
// test suites exercise, each behind the parameter bytes of its target in a
// few settings (tiny and odd chunk sizes, column bounds, limits).
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_input.hpp"

namespace {

std::string readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The files of `dir` whose names end in `suffix`, sorted by name.
std::vector<std::string> filesIn(const std::string &dir, const std::string &suffix) {
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d)) {
            std::string name = e->d_name;
            if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
                names.push_back(dir + "/" + name);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

class Corpus {
public:
    Corpus(const std::string &out, const char *target) : dir_(out + "/" + target) {
        mkdir(out.c_str(), 0755);
        mkdir(dir_.c_str(), 0755);
    }
    void add(const std::string &bytes) {
        char name[32];
        std::snprintf(name, sizeof name, "/seed-%04zu", n_++);
        std::ofstream(dir_ + name, std::ios::binary) << bytes;
    }

private:
    std::string dir_;
    size_t n_ = 0;
};

// Reader parameters: chunk size (1..128 in one byte, else two more bytes),
// column bound (0xff for none), record-byte and field bounds (0 for none),
// then the reader's own two bytes.
std::string readerParams(size_t chunk, int stop, int record_bytes, int fields, uint8_t extra,
                         uint8_t rows_before_count) {
    std::string p;
    if (chunk >= 1 && chunk <= 128) {
        p += static_cast<char>(0x80 | (chunk - 1));
        p += std::string(2, '\0');
    } else {
        p += '\0';
        p += static_cast<char>((chunk - 1) & 0xff);
        p += static_cast<char>(((chunk - 1) >> 8) & 0xff);
    }
    p += static_cast<char>(stop < 0 ? 0xff : stop);
    p += static_cast<char>(record_bytes < 0 ? 0 : record_bytes + 1);
    p += static_cast<char>(fields < 0 ? 0 : fields + 1);
    p += static_cast<char>(extra);
    p += static_cast<char>(rows_before_count);
    return p;
}

// Every text in several reader settings: one chunk, odd small chunks, a
// column bound, and tight limits.
void addReaderSeeds(Corpus &c, const std::string &text, uint8_t extra) {
    c.add(readerParams(65536, -1, -1, -1, extra, 0) + text);
    c.add(readerParams(1, -1, -1, -1, extra, 1) + text);
    c.add(readerParams(17, 1, -1, -1, extra, 2) + text);
    c.add(readerParams(64, 0, 60, 4, extra, 1) + text);
}

const char *const kCsvCases[] = {
    "a,b,c\n1,2,3\n4,5,6\n",
    "a,b\r\n1,2\r\n3,4",
    "h\n\n\nx\n",
    "q,r\n\"x,y\",\"say \"\"hi\"\"\"\n\"\",\"\"\"\"\n",
    "a,b\n\"unterminated,1\n2,3\n",
    "a,b\n\"x\"junk,y\n1,\n,\n",
    "a;b;c\n1;\"2;3\";4\n",
    "a\tb\n1\t2\n",
    "a,b,c,d,e,f,g,h,i,j,k,l,m,n,o,p,q\n1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17\n",
    "\n",
    "\r",
    "a\n\"\"\"\n\"a\"\"\n",
    "x,\"y\ny\",z\n",
};

const char *const kNdjsonCases[] = {
    "{\"a\":1,\"b\":\"x\"}\n{\"b\":\"y\",\"a\":2}\n{\"a\":3}\n",
    "{\"a\":\"\\u00e9\\ud83d\\ude00\\n\",\"b\":null}\n{\"a\":true,\"b\":false}\n",
    "{\"a\":1}\n\n{\"a\":{\"n\":[1,2]}}\n{bad}\n{\"a\":2,\"a\":3}\n",
    "[{\"a\":1},{\"a\":2},3,\"s\",[{\"a\":9}],{\"a\":\"]\"}]",
    "[\n {\"a\":1,\n  \"b\":2},\n {\"b\":3}\n",
    "[{\"a\":1},{\"a\":",
    "  \n{\"a\":1}\n",
    "{\"a\" : 1 , \"b\" : -2.5e3 }\r\n{\"a\":1,\"b\":2,}\n",
    "[]",
    "{}",
};

const char *const kSchemaCases[] = {
    "{\"id\":{\"type\":\"integer\",\"required\":true,\"min\":1,\"max\":1e3}}",
    "{\"name\":{\"type\":\"string\",\"min_len\":2,\"max_len\":40},\"status\":{\"one_of\":[\"open\",\"closed\",1.5,2]}}",
    "{\"score\":{\"type\":\"float\",\"min\":-0.5,\"max\":1.7976931348623157e308},\"when\":{\"type\":\"datetime\"}}",
    "{\"flag\":{\"type\":\"boolean\"},\"\":{\"type\":\"any\"}}",
    "{\"id\":{\"min_len\":-1}}",
    "{\"id\":{\"one_of\":[99999999999999999999]}}",
    "{\"id\":{\"required\":true,\"required\":false}}",
    "{\"\\u0069d\":{}}",
    "{\"nope\":{}}",
    "[[[[[[[[[[[[[[[[1]]]]]]]]]]]]]]]]",
    "{\"id\":{\"min\":5e-324,\"max\":123456789012345678901234567890}}",
};

// Rows that break each rule of the outcome target's schemas.
const char *const kOutcomeCases[] = {
    "a,b\n1,x\n-1,abcd\n1.5,\n2024-01-31T12:00:00Z,true\nx,1,2\n7\n",
    "b,a\ny,-1e4\nz,5\n-2,0x10\n\"x\",\"1_000\"\n",
    "{\"a\":1,\"b\":\"x\"}\n{\"a\":-1,\"b\":\"long\"}\n{\"a\":null}\n{\"b\":true,\"a\":\"2024-01-31\"}\n",
    "[{\"b\":1.5,\"a\":1e3},{\"b\":\"q\",\"a\":{\"n\":1}},{\"a\":[1]}]",
};

const char *const kNumbers[] = {
    "-0", "+5", "007", "5.", "-.5", "4.56", "1E+3", "1e-3", "5.e3", ".5e1", "0X1F", "0x1.8p1",
    "-0X.8", "0x1.", "+0x1P+4", "0x1p-1074", "1_2_3", "1.5_5", "1e1_0", "0xF_F", "0x1.8_0p1",
    "-1_0.0_1e-0_1", "_1", "1_", "1__0", "9007199254740993", "0x1.00000000000008p0",
    "1.7976931348623157e308", "2.2250738585072011e-308", "2.4703282292062328e-324", "-1e-400",
    "1e-99999999999999999999", "0x100p-1090", "1e400", "inf", "nan", " 1", "0x", "1e+",
    "9007199254740993.000000000000000000001", "0.0001e313", "1.2.3",
};

}  // namespace

int main(int argc, char **argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s SOURCE_DIR VECTORS_DIR OUT_DIR\n", argv[0]);
        return 2;
    }
    const std::string source = argv[1], vectors = std::string(argv[2]) + "/jsontestsuite", out = argv[3];

    Corpus csv(out, "csv_reader");
    for (const std::string &path : filesIn(source + "/examples", ".csv"))
        addReaderSeeds(csv, readFile(path), 0);
    for (const char *text : kCsvCases) addReaderSeeds(csv, text, 0);
    addReaderSeeds(csv, "a|b\n1|\"2|3\"\n", 3);

    Corpus ndjson(out, "ndjson_reader");
    Corpus object(out, "json_object");
    for (const std::string &path : filesIn(source + "/examples", ".ndjson")) {
        const std::string text = readFile(path);
        addReaderSeeds(ndjson, text, 0);
        // The same records as one array, one element per line.
        std::string array;
        size_t start = 0;
        while (start < text.size()) {
            size_t lf = text.find('\n', start);
            if (lf == std::string::npos) lf = text.size();
            if (lf > start) {
                array += array.empty() ? "" : ",\n";
                array += text.substr(start, lf - start);
                object.add(std::string(1, '\x02') + text.substr(start, lf - start));
            }
            start = lf + 1;
        }
        addReaderSeeds(ndjson, array + "]", 1);
    }
    for (const char *text : kNdjsonCases) {
        addReaderSeeds(ndjson, text, 0);
        object.add(std::string(1, '\0') + text);
    }

    Corpus schema(out, "schema");
    for (const std::string &path : filesIn(source + "/examples", ".schema.json")) schema.add(readFile(path));
    for (const char *text : kSchemaCases) schema.add(text);
    for (const std::string &path : filesIn(vectors, ".json")) {
        const std::string text = readFile(path);
        schema.add(text);
        if (!text.empty() && text.find_first_not_of(" \t\r\n") != std::string::npos &&
            text[text.find_first_not_of(" \t\r\n")] == '{')
            object.add(std::string(1, '\0') + text);
    }

    // The outcome target: one byte choosing the format (bit 0: JSON records)
    // and the schema (the bits above), then the text.
    Corpus outcome(out, "validate_outcome");
    auto outcomeSeed = [&](const std::string &text, bool json, int schema) {
        outcome.add(std::string(1, static_cast<char>(schema << 1 | (json ? 1 : 0))) + text);
    };
    for (const std::string &path : filesIn(source + "/examples", ".csv")) outcomeSeed(readFile(path), false, 0);
    for (const std::string &path : filesIn(source + "/examples", ".ndjson")) outcomeSeed(readFile(path), true, 0);
    for (int schema = 1; schema <= 3; ++schema) {
        for (const char *text : kCsvCases) outcomeSeed(text, false, schema);
        for (const char *text : kNdjsonCases) outcomeSeed(text, true, schema);
        for (const char *text : kOutcomeCases) {
            outcomeSeed(text, false, schema);
            outcomeSeed(text, true, schema);
        }
    }

    Corpus numeric(out, "numeric");
    for (const char *text : kNumbers) numeric.add(text);
    return 0;
}
