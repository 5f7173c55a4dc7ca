// The rule functions against the results hashcat gave for them, and the rule files refused.
#include "app/recover/rules.h"

#include <gtest/gtest.h>

#include "tests/app/recover/table.h"
#include "tests/support/hex.h"

namespace kryvane::recover {
namespace {

using test::ReadTable;
using test::TableRow;

std::string Shown(const std::string& s) {
  return test::ToHex(s.data(), s.size());
}

TEST(RuleFunctions, EveryCaseOfTheTable) {
  const std::vector<TableRow> rows = ReadTable("recover/rules.tab");
  ASSERT_FALSE(rows.empty());
  for (const TableRow& row : rows) {
    ASSERT_EQ(row.columns.size(), 3u) << "rules.tab line " << row.line;
    SCOPED_TRACE("rules.tab line " + std::to_string(row.line) + ": rule '" + row.columns[0] + "'");
    const auto rule = RuleSet::ParseLine(row.columns[0]);
    EXPECT_EQ(Shown(RuleSet::ApplyTo(rule, row.columns[1])), Shown(row.columns[2]));
  }
}

TEST(RuleFunctions, RefusedFilesNameTheFunctionAndTheLine) {
  const std::vector<TableRow> rows = ReadTable("recover/bad_rules.tab");
  ASSERT_FALSE(rows.empty());
  for (const TableRow& row : rows) {
    ASSERT_EQ(row.columns.size(), 4u) << "bad_rules.tab line " << row.line;
    SCOPED_TRACE("bad_rules.tab line " + std::to_string(row.line));
    try {
      RuleSet::Parse(row.columns[0]);
      ADD_FAILURE() << "accepted";
    } catch (const RuleError& e) {
      EXPECT_EQ(e.line(), std::stoi(row.columns[1]));
      EXPECT_EQ(e.function(), row.columns[2].at(0));
      EXPECT_NE(std::string(e.what()).find(row.columns[3]), std::string::npos) << e.what();
    }
  }
}

// Comments, blank lines, line ends and spaces as hashcat reads a rule file.
TEST(RuleFiles, CommentsBlankLinesAndLineEnds) {
  const RuleSet rules = RuleSet::Parse("# best first\n:\n\n$1\r\n  \nu   l\n#$2\n^x");
  ASSERT_EQ(rules.size(), 5u);
  const int lines[] = {2, 4, 5, 6, 8};
  const char* results[] = {"aBc", "aBc1", "aBc", "abc", "xaBc"};
  for (std::size_t i = 0; i < rules.size(); ++i) {
    EXPECT_EQ(rules.line(i), lines[i]);
    unsigned char buf[kMaxCandidate] = {'a', 'B', 'c'};
    const std::size_t n = rules.Apply(i, buf, 3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), n), results[i]) << "rule " << i;
  }
}

}  // namespace
}  // namespace kryvane::recover
