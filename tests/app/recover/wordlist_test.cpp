// Word lists: how lines become words, positions of word x rule, and lists read only once.
#include "app/recover/wordlist.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/app/recover/fill_all.h"

namespace kryvane::recover {
namespace {

WordlistSource::Opener OpenText(std::string text) {
  return [text] { return std::make_unique<std::istringstream>(text); };
}

TEST(Wordlist, LinesBecomeWordsAsHashcatReadsThem) {
  const std::string long_line(kMaxCandidate + 1, 'x');
  const std::string longest(kMaxCandidate, 'y');
  // CRLF ends, an empty line, $HEX[] words and near misses, a word one byte too long (skipped,
  // its position kept), the longest word, a last line without an end.
  const std::string text = "abc\r\n\nde \n$HEX[4142]\n$HEX[4a4b]\n$HEX[414]\n$hex[41]\n$HEX[]\n" +
                           long_line + "\n" + longest + "\nlast";
  WordlistSource list(OpenText(text), RuleSet());
  EXPECT_EQ(list.size(), 11u);
  const std::vector<std::string> words = FillAll(list, kNoEnd, 3);
  const std::vector<std::string> expected = {"abc",       "",         "de ", "AB",    "JK",
                                             "$HEX[414]", "$hex[41]", "",    longest, "last"};
  EXPECT_EQ(words, expected);
}

TEST(Wordlist, HexWordsCanBeTakenLiterally) {
  WordlistSource list(OpenText("$HEX[4142]\n"), RuleSet(), WordlistOptions{false});
  EXPECT_EQ(FillAll(list), std::vector<std::string>{"$HEX[4142]"});
}

TEST(Wordlist, LineLongerThanTheReadBufferIsSkippedWhole) {
  const std::string huge(3 << 20, 'z');
  WordlistSource list(OpenText("a\n" + huge + "\nb\n" + huge), RuleSet());
  EXPECT_EQ(list.size(), 4u);
  EXPECT_EQ(FillAll(list), (std::vector<std::string>{"a", "b"}));
}

TEST(Wordlist, PositionIsWordTimesRulesPlusRule) {
  WordlistSource list(OpenText("ab\n" + std::string(300, 'q') + "\ncd\n"),
                      RuleSet::Parse(":\nu\n$1\n"));
  ASSERT_EQ(list.size(), 9u);
  CandidateBatch batch(100);
  ASSERT_TRUE(list.Fill(batch));
  ASSERT_EQ(batch.size(), 6u);
  const char* text[] = {"ab", "AB", "ab1", "cd", "CD", "cd1"};
  const uint64_t pos[] = {0, 1, 2, 6, 7, 8};
  for (std::size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(batch[i], text[i]);
    EXPECT_EQ(batch.position(i), pos[i]);
  }
  EXPECT_EQ(batch.end(), 9u);
  // Back to the middle of a word's rules.
  list.Seek(7);
  EXPECT_EQ(FillAll(list), (std::vector<std::string>{"CD", "cd1"}));
  list.Seek(1);
  EXPECT_EQ(FillAll(list, 3), (std::vector<std::string>{"AB", "ab1"}));
  EXPECT_THROW(list.Seek(10), std::out_of_range);
}

TEST(Wordlist, ListReadOnceGoesForwardOnly) {
  std::istringstream in("a\nb\nc\nd\n");
  WordlistSource list(in, RuleSet::Parse(":\nr\n$!"));
  EXPECT_FALSE(list.size().has_value());
  EXPECT_EQ(list.Clone(), nullptr);
  list.Seek(4);  // forward: b, rule r
  CandidateBatch batch(2);
  ASSERT_TRUE(list.Fill(batch));
  EXPECT_EQ(batch[0], "b");
  EXPECT_EQ(batch[1], "b!");
  EXPECT_THROW(list.Seek(0), std::logic_error);
  EXPECT_EQ(FillAll(list), (std::vector<std::string>{"c", "c", "c!", "d", "d", "d!"}));
  EXPECT_EQ(list.size(), 12u);  // known once read to the end
}

TEST(Wordlist, CloneStartsAfreshWithTheSameSpace) {
  WordlistSource list(OpenText("one\ntwo\n"), RuleSet::Parse("c\n"));
  list.Seek(1);
  const auto copy = list.Clone();
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->size(), 2u);
  EXPECT_EQ(FillAll(*copy), (std::vector<std::string>{"One", "Two"}));
  EXPECT_EQ(FillAll(list), std::vector<std::string>{"Two"});
}

}  // namespace
}  // namespace kryvane::recover
