// The parameter and preset tables from tests/data/, transcribed by hand from the published tables,
// never from the code, so a drifted name, range, default or value shows.
#pragma once

#include <fstream>
#include <string>
#include <vector>

namespace cindel::testdata {

struct ParamRow {
    int index = 0;
    std::string name, type, range, dephault, decimals, flags, choices;
};

inline std::vector<std::string> splitAt(const std::string& text, char separator) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = text.find(separator, start);
        out.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) return out;
        start = at + 1;
    }
}

// The non-comment lines of a tab-separated file, split into `columns` fields each.
inline std::vector<std::vector<std::string>> readRows(const std::string& file, std::size_t columns) {
    std::ifstream in(std::string(CINDEL_TEST_DATA) + "/" + file);
    std::vector<std::vector<std::string>> rows;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> fields = splitAt(line, '\t');
        fields.resize(columns);
        rows.push_back(fields);
    }
    return rows;
}

// Parameters 1 to 136 in order.
inline std::vector<ParamRow> parameterTable() {
    std::vector<ParamRow> rows;
    for (const auto& f : readRows("parameter_table.tsv", 8))
        rows.push_back({std::stoi(f[0]), f[1], f[2], f[3], f[4], f[5], f[6], f[7]});
    return rows;
}

}  // namespace cindel::testdata
