// --skip, --limit, --node and resuming: every position of the space once, whatever the split.
#include <gtest/gtest.h>

#include <sstream>

#include "app/recover/like.h"
#include "app/recover/mask.h"
#include "app/recover/wordlist.h"
#include "tests/app/recover/fill_all.h"

namespace kryvane::recover {
namespace {

TEST(Selection, NodesCoverTheSpaceOnceInOrder) {
  for (uint64_t size : {uint64_t{0}, uint64_t{1}, uint64_t{7}, uint64_t{100}, kNoEnd}) {
    for (uint32_t nodes : {1u, 2u, 3u, 7u, 64u}) {
      uint64_t next = 0;
      for (uint32_t k = 1; k <= nodes; ++k) {
        const Range r = SelectRange(size, Selection{0, std::nullopt, k, nodes});
        EXPECT_EQ(r.first, next) << size << " " << k << "/" << nodes;
        EXPECT_GE(r.end, r.first);
        // Near-equal parts: no two differ by more than one position.
        ASSERT_GE(r.end - r.first, size / nodes);
        EXPECT_LE(r.end - r.first - size / nodes, 1u);
        next = r.end;
      }
      EXPECT_EQ(next, size);
    }
  }
}

TEST(Selection, SkipAndLimitCountFromTheNodesStart) {
  EXPECT_EQ(SelectRange(100, Selection{10, 5}), (Range{10, 15}));
  EXPECT_EQ(SelectRange(100, Selection{10, std::nullopt, 2, 4}), (Range{35, 50}));
  EXPECT_EQ(SelectRange(100, Selection{5, 5, 2, 4}), (Range{30, 35}));
  EXPECT_EQ(SelectRange(100, Selection{500, 5}), (Range{100, 100}));
  EXPECT_EQ(SelectRange(100, Selection{90, 500}), (Range{90, 100}));
  EXPECT_EQ(SelectRange(std::nullopt, Selection{3, 4}), (Range{3, 7}));
  EXPECT_EQ(SelectRange(std::nullopt, Selection{.skip = 3}), (Range{3, kNoEnd}));
  EXPECT_THROW(SelectRange(std::nullopt, Selection{0, std::nullopt, 1, 2}), SelectionError);
  EXPECT_THROW(SelectRange(100, Selection{0, std::nullopt, 3, 2}), SelectionError);
  EXPECT_THROW(SelectRange(100, Selection{0, std::nullopt, 0, 2}), SelectionError);
}

TEST(Selection, NodeTextIsKSlashN) {
  const Selection s = ParseNode("2/5", Selection{.skip = 7});
  EXPECT_EQ(s.node, 2u);
  EXPECT_EQ(s.nodes, 5u);
  EXPECT_EQ(s.skip, 7u);
  for (const char* bad :
       {"", "2", "2/", "/5", "0/5", "6/5", "2/0", "a/5", "2/5x", " 2/5", "-1/5"}) {
    EXPECT_THROW(ParseNode(bad), SelectionError) << bad;
  }
}

// Each source split among nodes, each node's share then cut into threads that resume from a
// restore point half way: together they give exactly the whole run's candidates, in order.
void CheckPartition(CandidateSource& source) {
  source.Seek(0);
  const std::vector<std::string> whole = FillAll(source, kNoEnd, 64);
  ASSERT_FALSE(whole.empty());
  const uint64_t size = *source.size();
  for (uint32_t nodes : {1u, 3u, 5u}) {
    std::vector<std::string> joined;
    for (uint32_t k = 1; k <= nodes; ++k) {
      const Range node = SelectRange(size, Selection{0, std::nullopt, k, nodes});
      for (uint64_t t = 0; t < 2; ++t) {
        const Range share = SplitRange(node, 2, t);
        auto worker = source.Clone();
        ASSERT_NE(worker, nullptr);
        worker->Seek(share.first);
        // Stop after the first batch; a new source resumes from the saved position.
        CandidateBatch batch(5);
        if (!worker->Fill(batch, share.end)) continue;
        for (std::size_t i = 0; i < batch.size(); ++i) joined.emplace_back(batch[i]);
        const uint64_t restore = batch.end();
        auto resumed = source.Clone();
        resumed->Seek(restore);
        for (auto& c : FillAll(*resumed, share.end, 13)) joined.push_back(std::move(c));
      }
    }
    EXPECT_EQ(joined, whole) << nodes << " nodes";
  }
}

TEST(Selection, EverySourceSplitsAndResumesExactly) {
  MaskSource mask("?d?l", MaskOptions{.increment = true});
  CheckPartition(mask);
  // Words too long and rules that change nothing: positions without a candidate.
  const std::string words = "alpha\n" + std::string(300, 'x') + "\nbeta\n\ngamma\n";
  WordlistSource list([&] { return std::make_unique<std::istringstream>(words); },
                      RuleSet::Parse(":\nu\n$1 $2\nD9\n"));
  CheckPartition(list);
  LikeSource like("Ab1", LikeOptions{2});
  CheckPartition(like);
}

TEST(Selection, WriteCandidatesOnePerLine) {
  MaskSource mask("?d?d");
  mask.Seek(97);
  std::ostringstream out;
  EXPECT_EQ(WriteCandidates(mask, out), 3u);
  EXPECT_EQ(out.str(), "97\n98\n99\n");
  std::istringstream in("x\ny\n");
  WordlistSource list(in, RuleSet::Parse(":\n$!\n"));
  std::ostringstream out2;
  EXPECT_EQ(WriteCandidates(list, out2, 3), 3u);
  EXPECT_EQ(out2.str(), "x\nx!\ny\n");
}

}  // namespace
}  // namespace kryvane::recover
