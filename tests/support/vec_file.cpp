#include "tests/support/vec_file.h"

#include <fstream>
#include <stdexcept>

namespace kryvane::test {
namespace {

std::string Trim(const std::string& s) {
  const auto b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return {};
  const auto e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

}  // namespace

const std::string& VecRecord::Get(const std::string& name) const {
  auto it = fields.find(name);
  if (it == fields.end()) {
    throw std::runtime_error("record at line " + std::to_string(line) + " has no " + name);
  }
  return it->second;
}

std::string TestDataPath(const std::string& name) {
  return std::string(KRYVANE_TEST_DATA_DIR) + "/" + name;
}

std::vector<VecRecord> ReadVecFile(const std::string& name) {
  std::ifstream in(TestDataPath(name));
  if (!in) throw std::runtime_error("cannot read test data " + TestDataPath(name));
  std::vector<VecRecord> records;
  std::string section;
  VecRecord current;
  auto flush = [&] {
    if (!current.fields.empty()) records.push_back(current);
    current = VecRecord{};
  };
  std::string raw;
  int lineNo = 0;
  while (std::getline(in, raw)) {
    ++lineNo;
    const std::string line = Trim(raw);
    if (line.empty()) {
      flush();
      continue;
    }
    if (line[0] == '#') continue;
    if (line.front() == '[' && line.back() == ']') {
      flush();
      section = line.substr(1, line.size() - 2);
      continue;
    }
    const auto eq = line.find('=');
    if (eq == std::string::npos) {
      throw std::runtime_error(name + ":" + std::to_string(lineNo) + ": expected Name = value");
    }
    if (current.fields.empty()) {
      current.section = section;
      current.line = lineNo;
    }
    current.fields[Trim(line.substr(0, eq))] = Trim(line.substr(eq + 1));
  }
  flush();
  return records;
}

}  // namespace kryvane::test
