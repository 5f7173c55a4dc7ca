// The file job with the age encoder, in process: a conversion of several buffers seals on the
// pipeline's writer thread while the next buffer is decrypted, and a failure on either thread,
// or a cancel, ends the job with its error and leaves no target behind.
#include "app/age/convert.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>

#include "app/base/atomic_output_test_hook.h"
#include "app/base/io_pipeline.h"
#include "app/base/io_pipeline_test_hook.h"
#include "crypto/streams.h"
#include "tests/app/job_helpers.h"
#include "tests/support/temp_files.h"
#include "tests/support/text_like.h"
#include "tests/support/vec_file.h"

namespace kryvane::test {
namespace {

const Pair& Blowfish() {
  static const Pair pair = [] {
    for (const Pair& p : AllPairs()) {
      if (p.cipher->shortName == "blowfish") return p;
    }
    throw std::runtime_error("no blowfish in the catalogue");
  }();
  return pair;
}

// The named temporary file path, so that a leftover temporary would show in the folder.
class ConvertJob : public ::testing::Test {
 protected:
  void SetUp() override {
    test_hooks::ForceNamedTemporaryFiles(true);
    const auto keys = ReadVecFile("age/keys.vec").at(0);
    target_.recipients.push_back(*age::ParseRecipient(keys.Get("Recipient")));
    unlock_.identities.push_back(*age::ParseIdentity(keys.Get("Identity")));
    WriteFile(dir_ / "plain", plain_);
    ASSERT_TRUE(RunFileJob(Encrypt(dir_ / "plain", dir_ / "legacy", Blowfish())).Succeeded());
  }
  void TearDown() override { test_hooks::ForceNamedTemporaryFiles(false); }

  JobRequest Conversion(const TargetEncoder& encoder) {
    JobRequest r = Decrypt(dir_ / "legacy", dir_ / "out.age", Blowfish());
    r.encoder = const_cast<TargetEncoder*>(&encoder);
    r.refuseSuspectResult = true;
    return r;
  }

  // Runs the job on a thread of its own: a job that never ends is a failure, not a hung test.
  static JobOutcome RunBounded(const JobRequest& r) {
    auto job = std::async(std::launch::async, [&] { return RunFileJob(r); });
    if (job.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
      std::fprintf(stderr, "the conversion did not end: a thread waits for another\n");
      std::abort();
    }
    return job.get();
  }

  Bytes Opened(const std::string& file) {
    const Bytes sealed = ReadFile(file);
    MemorySource source(sealed);
    age::Reader reader(source, unlock_);
    Bytes out;
    uint8_t buffer[50000];
    while (const std::size_t got = reader.Read(buffer, sizeof buffer)) {
      out.insert(out.end(), buffer, buffer + got);
    }
    return out;
  }

  TempFolder dir_;
  // Several of the pipeline's buffers, and a last one that is not full.
  const Bytes plain_ = TextLike(5 * IoPipeline::kBufferSize + 12345);
  AgeTarget target_;
  age::Unlock unlock_;
};

TEST_F(ConvertJob, SealsEveryBufferInOrder) {
  for (const bool verify : {false, true}) {
    SCOPED_TRACE(verify ? "read back" : "not read back");
    const auto encoder = MakeAgeEncoder(target_);
    JobRequest r = Conversion(*encoder);
    r.verifyTarget = verify;
    const JobOutcome o = RunBounded(r);
    ASSERT_TRUE(o.Succeeded()) << o.error->Describe();
    EXPECT_EQ(o.verified, verify);
    EXPECT_EQ(o.bytes, plain_.size());
    EXPECT_TRUE(Opened(dir_ / "out.age") == plain_);
  }
}

// The write fails half way (the file size limit, as a full disk would) on the thread that seals,
// or the job is cancelled half way: the job fails with the error a serial job gave, an existing
// target stays as it was, and no temporary file is left.
TEST_F(ConvertJob, FailureOrCancelHalfWayLeavesNoTarget) {
  struct Case {
    const char* name;
    bool full;
    Error expected;
  };
  const std::string target = dir_ / "out.age";
  const Case cases[] = {
      {"disk full", true, Error{target, "write", "File too large", ErrorKind::kIo, EFBIG}},
      {"cancelled", false, Error{"", "decrypt", "cancelled", ErrorKind::kCancelled, 0}},
  };
  for (const Case& c : cases) {
    for (const bool existing : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (existing ? ", replacing a file" : ""));
      if (existing) WriteText(target, "an older file");
      const auto encoder = MakeAgeEncoder(target_);
      JobRequest r = Conversion(*encoder);
      std::atomic<bool> cancel{false};
      r.cancel = &cancel;
      r.progress = [&](uint64_t done, std::optional<uint64_t>) {
        if (!c.full && done >= 2 * IoPipeline::kBufferSize) cancel = true;
      };
      struct rlimit saved;
      ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
      auto* oldHandler = ::signal(SIGXFSZ, SIG_IGN);
      if (c.full) {
        struct rlimit small = saved;
        small.rlim_cur = 2 * IoPipeline::kBufferSize + 1000;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
      }
      const JobOutcome o = RunBounded(r);
      ::setrlimit(RLIMIT_FSIZE, &saved);
      ::signal(SIGXFSZ, oldHandler);
      EXPECT_EQ(o.result, JobResult::kFailure);
      ASSERT_TRUE(o.error.has_value());
      EXPECT_EQ(o.error->Describe(), c.expected.Describe());
      EXPECT_EQ(o.error->kind, c.expected.kind);
      EXPECT_EQ(o.error->errnum, c.expected.errnum);
      EXPECT_FALSE(o.targetWritten);
      std::set<std::string> left = {"plain", "legacy"};
      if (existing) {
        left.insert("out.age");
        EXPECT_EQ(ReadText(target), "an older file");
      }
      EXPECT_EQ(ListFolder(dir_.Path()), left);
      ::unlink(target.c_str());
    }
  }
}

// The disk loses a write while the job goes on: the system reports it to one wait or flush only,
// which must fail the job (a conversion, and a decryption written by the pipeline itself), for
// the final flush would not see it again. Large enough for the waits and a flush to begin.
TEST_F(ConvertJob, FailedWriteBackFailsTheJob) {
  WriteFile(dir_ / "large", TextLike(std::size_t(IoPipeline::kFlushStep) + (10 << 20)));
  ASSERT_TRUE(RunFileJob(Encrypt(dir_ / "large", dir_ / "large.kry", Blowfish())).Succeeded());
  const std::string target = dir_ / "out";
  for (const bool convert : {true, false}) {
    for (const bool inWait : {true, false}) {
      SCOPED_TRACE(std::string(convert ? "convert" : "decrypt") +
                   (inWait ? ", a wait fails" : ", a flush fails"));
      const auto encoder = MakeAgeEncoder(target_);
      JobRequest r = Decrypt(dir_ / "large.kry", target, Blowfish());
      if (convert) {
        r.encoder = encoder.get();
        r.refuseSuspectResult = true;
      }
      test_hooks::FailWriteBack(EIO, inWait, !inWait);
      const JobOutcome o = RunBounded(r);
      test_hooks::FailWriteBack(0, false, false);
      EXPECT_EQ(o.result, JobResult::kFailure);
      ASSERT_TRUE(o.error.has_value());
      EXPECT_EQ(o.error->Describe(), target + ": write: Input/output error");
      EXPECT_EQ(o.error->errnum, EIO);
      EXPECT_EQ(ListFolder(dir_.Path()),
                (std::set<std::string>{"plain", "legacy", "large", "large.kry"}));
    }
  }
}

}  // namespace
}  // namespace kryvane::test
