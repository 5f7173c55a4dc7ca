// Tab-separated case tables of tests/data/recover: `#` comment lines, one case a line, columns
// separated by one tab, with \t, \n, \\, \xHH and \(N:x) (x written N times) in the columns.
#pragma once

#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/vec_file.h"

namespace kryvane::test {

inline std::string Unescape(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out.push_back(s[i]);
      continue;
    }
    const char c = s[++i];
    if (c == 't') {
      out.push_back('\t');
    } else if (c == 'n') {
      out.push_back('\n');
    } else if (c == 'x' && i + 2 < s.size()) {
      out.push_back(static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    } else if (c == '(') {
      const std::size_t colon = s.find(':', i);
      const std::size_t close = s.find(')', colon + 2);  // x itself may be ')'
      const int n = std::stoi(s.substr(i + 1, colon - i - 1));
      const std::string x = Unescape(s.substr(colon + 1, close - colon - 1));
      for (int k = 0; k < n; ++k) out += x;
      i = close;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

struct TableRow {
  int line;
  std::vector<std::string> columns;  // unescaped
};

inline std::vector<TableRow> ReadTable(const std::string& name) {
  std::ifstream in(TestDataPath(name), std::ios::binary);
  if (!in) throw std::runtime_error("cannot read test data " + TestDataPath(name));
  std::vector<TableRow> rows;
  std::string text;
  int line = 0;
  while (std::getline(in, text)) {
    ++line;
    if (text.empty() || text[0] == '#') continue;
    TableRow row{line, {}};
    std::size_t start = 0;
    for (;;) {
      const std::size_t tab = text.find('\t', start);
      row.columns.push_back(Unescape(text.substr(start, tab - start)));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace kryvane::test
