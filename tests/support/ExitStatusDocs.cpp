#include "ExitStatusDocs.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <vector>

namespace {

std::string trim(const std::string& text) {
    size_t first = text.find_first_not_of(' ');
    size_t last = text.find_last_not_of(' ');
    return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

std::vector<std::string> cells(const std::string& row) {
    std::vector<std::string> out;
    std::stringstream in(row.substr(1));
    for (std::string cell; std::getline(in, cell, '|');) {
        out.push_back(trim(cell));
    }
    return out;
}

// "a to b" as every value from a to b, or one value.
std::vector<int> values(const std::string& text) {
    std::smatch range;
    if (std::regex_match(text, range, std::regex(R"((-?\d+) to (-?\d+))"))) {
        int from = std::stoi(range[1]);
        int to = std::stoi(range[2]);
        int step = from <= to ? 1 : -1;
        std::vector<int> out;
        for (int v = from; v != to + step; v += step) {
            out.push_back(v);
        }
        return out;
    }
    return {std::stoi(text)};
}

// The codes of a status cell: "0, 1, 2", "0 / 255 (-1)", "236 to 228 (-20 to
// -28)". A status in front of a code in parentheses must be 256 + code.
std::set<int> codes(const std::string& status) {
    std::set<int> out;
    std::regex piece(R"(([^,/]+))");
    for (auto it = std::sregex_iterator(status.begin(), status.end(), piece);
         it != std::sregex_iterator(); ++it) {
        std::string text = trim((*it)[1]);
        std::smatch pair;
        if (std::regex_match(text, pair, std::regex(R"((.*) \((.*)\))"))) {
            std::vector<int> shown = values(pair[1]);
            std::vector<int> code = values(pair[2]);
            EXPECT_EQ(shown.size(), code.size()) << text;
            for (size_t i = 0; i < shown.size() && i < code.size(); ++i) {
                EXPECT_EQ(shown[i], 256 + code[i]) << text;
            }
            out.insert(code.begin(), code.end());
        } else {
            std::vector<int> plain = values(text);
            out.insert(plain.begin(), plain.end());
        }
    }
    return out;
}

}  // namespace

std::map<std::string, std::set<int>> readmeExitStatuses() {
    std::ifstream in(std::string(LM_SOURCE_DIR) + "/README.md");
    std::map<std::string, std::set<int>> table;
    bool inSection = false;
    std::string label;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("## ", 0) == 0) {
            inSection = line == "## Exit statuses";
            continue;
        }
        std::vector<std::string> row =
            line.rfind("|", 0) == 0 ? cells(line) : std::vector<std::string>{};
        if (!inSection || row.size() < 3 || row[1] == "status" || row[1].rfind("---", 0) == 0) {
            continue;
        }
        label = row[0].empty() ? label : row[0];
        std::set<int> found = codes(row[1]);
        table[label].insert(found.begin(), found.end());
    }
    return table;
}

std::set<int> manPageExitStatuses(const std::string& page) {
    std::ifstream in(page);
    std::set<int> statuses;
    bool inSection = false;
    bool tagged = false;
    std::smatch status;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(".SH ", 0) == 0) {
            inSection = line == ".SH EXIT STATUS";
        } else if (inSection && tagged &&
                   std::regex_match(line, status, std::regex(R"(\.B (\d+))"))) {
            statuses.insert(std::stoi(status[1]));
        }
        tagged = line == ".TP";
    }
    return statuses;
}
