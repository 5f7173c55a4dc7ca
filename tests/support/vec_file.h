// Reader of the test-vector files in tests/data: `# comment` lines, `[Section]` headers, and
// records of `Name = value` lines separated by blank lines.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace kryvane::test {

struct VecRecord {
  std::string section;
  int line = 0;  // where the record starts, for failure messages
  std::map<std::string, std::string> fields;

  bool Has(const std::string& name) const { return fields.count(name) != 0; }
  const std::string& Get(const std::string& name) const;  // throws if missing
};

// Reads tests/data/<name>; throws std::runtime_error if the file cannot be read.
std::vector<VecRecord> ReadVecFile(const std::string& name);
std::string TestDataPath(const std::string& name);

}  // namespace kryvane::test
