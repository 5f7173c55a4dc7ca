// The age format: Bech32 and key known answers, the payload framing with a fixed key and nonce,
// the reader's refusals, and files exchanged both ways with the packaged age tool.
#include "app/age/format.h"

#include <gtest/gtest.h>

#include <functional>

#include "app/age/bech32.h"
#include "tests/support/external_tool.h"
#include "tests/support/hex.h"
#include "tests/support/temp_files.h"
#include "tests/support/vec_file.h"

namespace kryvane::age {
namespace {

using test::Bytes;

std::string KeysValue(const std::string& name) {
  return test::ReadVecFile("age/keys.vec").at(0).Get(name);
}

std::vector<uint8_t> Pattern(std::size_t n) {
  std::vector<uint8_t> data(n);
  for (std::size_t i = 0; i < n; ++i) data[i] = uint8_t(i * 7 + 3);
  return data;
}

// The plaintext of an age file, or the reader's complaint.
struct Opened {
  std::optional<std::string> error;
  Bytes plaintext;
};

Opened Open(const Bytes& file, const Unlock& unlock) {
  Opened result;
  try {
    MemorySource source(file);
    Reader reader(source, unlock);
    uint8_t buffer[10000];  // not a divisor of the chunk size
    while (const std::size_t got = reader.Read(buffer, sizeof buffer)) {
      result.plaintext.insert(result.plaintext.end(), buffer, buffer + got);
    }
  } catch (const AgeError& e) {
    result.error = e.what();
  }
  return result;
}

Unlock WithIdentity(const Identity& id) {
  Unlock u;
  u.identities.push_back(id);
  return u;
}

Unlock WithPassphrase(const std::string& passphrase) {
  Unlock u;
  u.passphrase = passphrase;
  return u;
}

Bytes Seal(const Bytes& plaintext, std::span<const Stanza> stanzas, const FileKey& key,
           const Writer::Options& options = {}) {
  MemorySink sink;
  Writer writer(sink, stanzas, key, options);
  // Uneven pieces, so that chunk boundaries fall inside writes.
  std::size_t at = 0;
  for (std::size_t step = 1; at < plaintext.size(); step = step * 3 + 1) {
    const std::size_t take = std::min(step, plaintext.size() - at);
    writer.Write(plaintext.data() + at, take);
    at += take;
  }
  writer.Finish();
  return sink.Data();
}

FileKey NewFileKey() {
  FileKey key;
  RandomBytes(key.bytes);
  return key;
}

Bytes SealFor(const Recipient& r, const Bytes& plaintext, bool armor = false) {
  const FileKey key = NewFileKey();
  const Stanza stanzas[] = {WrapForRecipient(key, r)};
  return Seal(plaintext, stanzas, key, {.armor = armor, .nonce = std::nullopt});
}

TEST(Bech32, PublishedVectors) {
  for (const auto& rec : test::ReadVecFile("age/bech32.vec")) {
    SCOPED_TRACE("line " + std::to_string(rec.line));
    std::string text;
    if (rec.Has("Hex")) {
      const auto raw = test::FromHex(rec.Get("Hex"));
      text.assign(raw.begin(), raw.end());
    } else {
      text = rec.Get("Text");
    }
    if (rec.section == "Valid") {
      const auto d = bech32::DecodeGroups(text);
      ASSERT_TRUE(d.has_value()) << text;
      std::string lower = text;
      for (char& c : lower) c = char(std::tolower(uint8_t(c)));
      EXPECT_EQ(bech32::EncodeGroups(d->hrp, d->data.Bytes()), lower);
    } else if (rec.section == "Invalid") {
      EXPECT_FALSE(bech32::DecodeGroups(text).has_value()) << text;
    } else {
      ASSERT_TRUE(bech32::DecodeGroups(text).has_value()) << text;
      const auto d = bech32::Decode(text);
      if (rec.Has("Bytes")) {
        ASSERT_TRUE(d.has_value()) << text;
        EXPECT_EQ(Bytes(d->bytes.Bytes().begin(), d->bytes.Bytes().end()),
                  test::FromHex(rec.Get("Bytes")));
        EXPECT_EQ(bech32::Encode(d->hrp, d->bytes.Bytes()), text);
      } else {
        EXPECT_FALSE(d.has_value()) << text;
      }
    }
  }
}

TEST(AgeBase64, OnlyCanonicalUnpaddedTextDecodes) {
  EXPECT_EQ(DecodeBase64NoPad(""), Bytes{});
  EXPECT_EQ(DecodeBase64NoPad("AA"), Bytes{0});
  EXPECT_EQ(DecodeBase64NoPad("AAE"), (Bytes{0, 1}));
  EXPECT_EQ(DecodeBase64NoPad("+/8"), (Bytes{0xfb, 0xff}));
  for (const char* bad : {"AB", "AAF", "AA==", "AAA=", "A", "AAAAA", "AA AA", "AA-_"}) {
    EXPECT_FALSE(DecodeBase64NoPad(bad).has_value()) << bad;
  }
  const Bytes all = test::RandomBytes(100, 3);
  for (std::size_t n = 0; n <= all.size(); n += 7) {
    const Bytes part(all.begin(), all.begin() + std::ptrdiff_t(n));
    EXPECT_EQ(DecodeBase64NoPad(EncodeBase64NoPad(part)), part);
  }
}

TEST(AgeKeys, KeygenPairIdentityGivesItsRecipient) {
  const std::string secret = KeysValue("Identity");
  const std::string public_ = KeysValue("Recipient");
  const auto id = ParseIdentity(secret);
  ASSERT_TRUE(id.has_value());
  EXPECT_EQ(id->ToRecipient().ToString(), public_);
  EXPECT_EQ(id->ToString(), secret);
  const auto r = ParseRecipient(public_);
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->key, id->ToRecipient().key);
  // Each kind of key is refused where the other is expected.
  EXPECT_FALSE(ParseRecipient(secret).has_value());
  EXPECT_FALSE(ParseIdentity(public_).has_value());
}

TEST(AgeKeys, KeyFilesSkipCommentsAndNameTheBadLineOnly) {
  const std::string secret = KeysValue("Identity");
  const std::string public_ = KeysValue("Recipient");
  EXPECT_EQ(ParseIdentities("# created: today\n\n" + secret + "\r\n").size(), 1u);
  EXPECT_EQ(ParseRecipients("# mine\n" + public_ + "\n  \n" + public_).size(), 2u);
  try {
    // A secret pasted where recipients belong must not be echoed in the message.
    ParseRecipients(public_ + "\n" + secret + "\n");
    FAIL() << "accepted an identity as a recipient";
  } catch (const AgeError& e) {
    EXPECT_NE(std::string(e.what()).find("line 2"), std::string::npos) << e.what();
    EXPECT_EQ(std::string(e.what()).find("SECRET"), std::string::npos) << e.what();
  }
  EXPECT_THROW(ParseIdentities("# nothing but a comment\n"), AgeError);
}

TEST(AgePayload, FramingKnownAnswers) {
  const auto records = test::ReadVecFile("age/payload.vec");
  FileKey key;
  Nonce nonce;
  const auto keyBytes = test::FromHex(records.at(0).Get("FileKey"));
  const auto nonceBytes = test::FromHex(records.at(0).Get("Nonce"));
  std::copy(keyBytes.begin(), keyBytes.end(), key.bytes.begin());
  std::copy(nonceBytes.begin(), nonceBytes.end(), nonce.begin());
  const Identity id = *ParseIdentity(KeysValue("Identity"));
  const Stanza stanzas[] = {WrapForRecipient(key, id.ToRecipient())};
  const std::string header = EncodeHeader(stanzas, key);
  bool sawHeader = false, sawPayload = false;
  for (const auto& rec : records) {
    if (rec.section == "Header") {
      std::vector<Stanza> fixed(3);
      Bytes share, body;
      for (int b = 0x20; b < 0x40; ++b) share.push_back(uint8_t(b));
      for (int b = 0x40; b < 0x60; ++b) fixed[0].body.push_back(uint8_t(b));
      for (int b = 0x60; b < 0x90; ++b) fixed[1].body.push_back(uint8_t(b));
      fixed[0].args = {"X25519", EncodeBase64NoPad(share)};
      fixed[1].args = {"other-kind", "a", "b"};
      fixed[2].args = {"empty"};
      const std::string expected = EncodeHeader(fixed, key);
      EXPECT_EQ(Bytes(expected.begin(), expected.end()), test::FromHex(rec.Get("Header")));
      sawHeader = true;
      continue;
    }
    if (rec.section != "Payload") continue;
    const std::size_t size = std::stoul(rec.Get("Size"));
    SCOPED_TRACE("size " + std::to_string(size));
    const Bytes plaintext = Pattern(size);
    const Bytes file = Seal(plaintext, stanzas, key, {.armor = false, .nonce = nonce});
    ASSERT_GE(file.size(), header.size());
    ASSERT_EQ(std::string(file.begin(), file.begin() + std::ptrdiff_t(header.size())), header);
    const Bytes payload(file.begin() + std::ptrdiff_t(header.size()), file.end());
    EXPECT_EQ(payload.size(), std::stoul(rec.Get("PayloadLength")));
    if (rec.Has("Payload")) {
      EXPECT_EQ(payload, test::FromHex(rec.Get("Payload")));
    }
    Sha256 digest;
    digest.Update(payload.data(), payload.size());
    const auto sum = digest.Final();
    EXPECT_EQ(Bytes(sum.begin(), sum.end()), test::FromHex(rec.Get("PayloadSha256")));
    const Opened opened = Open(file, WithIdentity(id));
    EXPECT_FALSE(opened.error.has_value()) << *opened.error;
    EXPECT_EQ(opened.plaintext, plaintext);
    sawPayload = true;
  }
  EXPECT_TRUE(sawHeader && sawPayload);
}

// Where the parts of a binary file start.
struct Layout {
  std::size_t stanzaLine, shareArg, body, mac, nonce, chunk0;
};

Layout Locate(const Bytes& file) {
  const std::string text(file.begin(), file.end());
  Layout l{};
  l.stanzaLine = text.find("\n-> ") + 1;
  l.shareArg = l.stanzaLine + std::string_view("-> X25519 ").size();
  l.body = text.find('\n', l.stanzaLine) + 1;
  l.mac = text.find("\n--- ") + 5;
  l.nonce = text.find('\n', l.mac) + 1;
  l.chunk0 = l.nonce + kNonceSize;
  return l;
}

constexpr std::size_t kSealed = kChunkSize + kTagSize;

class AgeFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    identity_ = *ParseIdentity(KeysValue("Identity"));
    keyFile_ = folder_ / "key.txt";
    test::WriteText(keyFile_, "# test key\n" + KeysValue("Identity") + "\n");
    haveAge_ = test::HaveProgram("age");
  }

  // age -d on the file: its status and plaintext.
  test::ToolResult AgeDecrypt(const Bytes& file) {
    const std::string in = folder_ / "in.age";
    test::WriteFile(in, file);
    return test::RunTool({"age", "-d", "-i", keyFile_, in});
  }

  Identity identity_;
  test::TempFolder folder_;
  std::string keyFile_;
  bool haveAge_ = false;
};

#define REQUIRE_AGE() \
  if (!haveAge_) GTEST_SKIP() << "the age tool is not installed (scripts/deps.sh installs it)"

TEST_F(AgeFiles, ReaderAndAgeRejectEveryTampering) {
  // Four chunks: three full ones and a short last one.
  const Bytes plaintext = test::RandomBytes(200000, 1);
  const Bytes good = SealFor(identity_.ToRecipient(), plaintext);
  const Layout at = Locate(good);
  ASSERT_EQ(good.size(), at.chunk0 + 3 * kSealed + (200000 - 3 * kChunkSize) + kTagSize);
  const auto flip = [](std::size_t offset, uint8_t bit = 1) {
    return [=](Bytes& f) { f[offset] ^= bit; };
  };
  const std::vector<std::pair<std::string, std::function<void(Bytes&)>>> cases = {
      {"version line", flip(3)},
      {"stanza type", flip(at.stanzaLine + 3)},
      {"stanza share", flip(at.shareArg + 5)},
      {"stanza body", flip(at.body + 10)},
      // The same bytes under another spelling: the last character's lowest bit is unused.
      {"non-canonical body",
       [&](Bytes& f) {
         const std::string_view alphabet =
             "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
         f[at.body + 42] = uint8_t(alphabet[alphabet.find(char(f[at.body + 42])) ^ 1]);
       }},
      {"MAC", flip(at.mac + 7)},
      {"payload nonce", flip(at.nonce + 2)},
      {"chunk 0", flip(at.chunk0 + 100, 0x80)},
      {"chunk 2", flip(at.chunk0 + 2 * kSealed + 5)},
      {"last chunk's tag", flip(good.size() - 1)},
      {"truncated by a byte", [](Bytes& f) { f.pop_back(); }},
      {"ends after the header", [&](Bytes& f) { f.resize(at.nonce); }},
      {"ends inside the nonce", [&](Bytes& f) { f.resize(at.nonce + 7); }},
      {"last chunk dropped", [&](Bytes& f) { f.resize(at.chunk0 + 3 * kSealed); }},
      {"ends after chunk 0", [&](Bytes& f) { f.resize(at.chunk0 + kSealed); }},
      {"a byte appended", [](Bytes& f) { f.push_back(0); }},
      {"last chunk repeated",
       [&](Bytes& f) {
         const Bytes last(f.begin() + std::ptrdiff_t(at.chunk0 + 3 * kSealed), f.end());
         f.insert(f.end(), last.begin(), last.end());
       }},
      {"chunks 0 and 1 swapped",
       [&](Bytes& f) {
         std::swap_ranges(f.begin() + std::ptrdiff_t(at.chunk0),
                          f.begin() + std::ptrdiff_t(at.chunk0 + kSealed),
                          f.begin() + std::ptrdiff_t(at.chunk0 + kSealed));
       }},
  };
  for (const auto& [name, change] : cases) {
    SCOPED_TRACE(name);
    Bytes bad = good;
    change(bad);
    const Opened opened = Open(bad, WithIdentity(identity_));
    EXPECT_TRUE(opened.error.has_value());
    if (haveAge_) {
      EXPECT_NE(AgeDecrypt(bad).status, 0);
    }
  }
  const Opened opened = Open(good, WithIdentity(identity_));
  ASSERT_FALSE(opened.error.has_value()) << *opened.error;
  EXPECT_EQ(opened.plaintext, plaintext);
}

TEST_F(AgeFiles, WholeLastChunkFollowedByDataIsNamed) {
  const Bytes good = SealFor(identity_.ToRecipient(), Pattern(2 * kChunkSize));
  Bytes bad = good;
  bad.insert(bad.end(), kSealed, 0);
  const Opened opened = Open(bad, WithIdentity(identity_));
  ASSERT_TRUE(opened.error.has_value());
  EXPECT_EQ(*opened.error, "data follows the last chunk");
  // A full chunk that more data followed, then an empty last chunk: a file ends that way only
  // when it is empty, so both readers refuse it.
  const FileKey key = NewFileKey();
  const Stanza stanzas[] = {WrapForRecipient(key, identity_.ToRecipient())};
  const std::string header = EncodeHeader(stanzas, key);
  Bytes file(header.begin(), header.end());
  Nonce nonce{};
  Key32 payloadKey;
  PayloadKey(key, nonce, payloadKey);
  ChaChaPoly aead(payloadKey.span());
  Bytes chunk0(kSealed), last(kTagSize);
  aead.Seal(ChunkNonce(0, false), Pattern(kChunkSize).data(), kChunkSize, chunk0.data());
  aead.Seal(ChunkNonce(1, true), nullptr, 0, last.data());
  file.insert(file.end(), nonce.begin(), nonce.end());
  file.insert(file.end(), chunk0.begin(), chunk0.end());
  file.insert(file.end(), last.begin(), last.end());
  EXPECT_EQ(Open(file, WithIdentity(identity_)).error, "the last chunk is empty");
  if (haveAge_) {
    EXPECT_NE(AgeDecrypt(file).status, 0);
  }
}

TEST_F(AgeFiles, ArmorTamperingIsRejected) {
  const Bytes good = SealFor(identity_.ToRecipient(), Pattern(70000), true);
  const std::string text(good.begin(), good.end());
  ASSERT_TRUE(text.starts_with(std::string(kArmorBegin) + "\n"));
  ASSERT_TRUE(text.ends_with(std::string(kArmorEnd) + "\n"));
  const std::vector<std::pair<std::string, std::function<void(std::string&)>>> cases = {
      {"end line missing", [](std::string& t) { t.resize(t.size() - kArmorEnd.size() - 1); }},
      {"a line cut short", [](std::string& t) { t.erase(200, 1); }},
      {"a payload character changed", [](std::string& t) { t[t.size() / 2] ^= 1; }},
      {"text after the end line", [](std::string& t) { t += "junk\n"; }},
      {"padding inside", [](std::string& t) { t[t.find('\n', 100) - 1] = '='; }},
  };
  for (const auto& [name, change] : cases) {
    SCOPED_TRACE(name);
    std::string bad = text;
    change(bad);
    const Bytes file(bad.begin(), bad.end());
    EXPECT_TRUE(Open(file, WithIdentity(identity_)).error.has_value());
    if (haveAge_) {
      EXPECT_NE(AgeDecrypt(file).status, 0);
    }
  }
  // Surrounding whitespace is allowed, as age allows it.
  const std::string padded = "\n  " + text + "\n\n";
  EXPECT_EQ(Open(Bytes(padded.begin(), padded.end()), WithIdentity(identity_)).plaintext,
            Pattern(70000));
}

TEST_F(AgeFiles, WrongKeysAndPassphrasesAreNamed) {
  const Bytes forKey = SealFor(identity_.ToRecipient(), Pattern(10));
  Identity other;
  RandomBytes(other.secret.bytes);
  EXPECT_EQ(Open(forKey, WithIdentity(other)).error, "no identity matches a recipient of the file");
  EXPECT_EQ(Open(forKey, WithPassphrase("x")).error, "the file is not encrypted with a passphrase");

  const FileKey key = NewFileKey();
  const Stanza stanzas[] = {WrapForPassphrase(key, "right", 4)};
  const Bytes forPassphrase = Seal(Pattern(10), stanzas, key);
  EXPECT_EQ(Open(forPassphrase, WithPassphrase("right")).plaintext, Pattern(10));
  EXPECT_EQ(Open(forPassphrase, WithPassphrase("wrong")).error, "the passphrase is wrong");
  EXPECT_EQ(Open(forPassphrase, WithIdentity(identity_)).error,
            "the file is encrypted with a passphrase, not to a key");
  Unlock capped = WithPassphrase("right");
  capped.maxWorkFactor = 3;
  EXPECT_EQ(Open(forPassphrase, capped).error,
            "the passphrase's work factor 2^4 is above the limit 2^3");

  // An scrypt stanza beside another would let a key holder swap the passphrase's file key.
  const Stanza mixed[] = {stanzas[0], WrapForRecipient(key, identity_.ToRecipient())};
  EXPECT_EQ(Open(Seal(Pattern(10), mixed, key), WithPassphrase("right")).error,
            "an scrypt stanza is not the only one in the header");
}

TEST_F(AgeFiles, AgeDecryptsWhatTheWriterWrites) {
  REQUIRE_AGE();
  for (const std::size_t size : {0, 1, 65535, 65536, 65537, 200000, 4 * 1024 * 1024 + 1}) {
    for (const bool armor : {false, true}) {
      SCOPED_TRACE(std::to_string(size) + (armor ? " armored" : " binary"));
      const Bytes plaintext = test::RandomBytes(size, uint32_t(size));
      const test::ToolResult r = AgeDecrypt(SealFor(identity_.ToRecipient(), plaintext, armor));
      ASSERT_EQ(r.status, 0) << r.err;
      EXPECT_TRUE(r.out == std::string(plaintext.begin(), plaintext.end()));
    }
  }
}

TEST_F(AgeFiles, AgeDecryptsAPassphraseFileOnATerminal) {
  REQUIRE_AGE();
  const FileKey key = NewFileKey();
  const Stanza stanzas[] = {WrapForPassphrase(key, "correct horse", 10)};
  const Bytes plaintext = Pattern(100000);
  const std::string in = folder_ / "p.age", out = folder_ / "p.out";
  test::WriteFile(in, Seal(plaintext, stanzas, key));
  const test::ToolResult r =
      test::RunToolOnTerminal({"age", "-d", "-o", out, in}, {{"passphrase", "correct horse\n"}});
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(test::ReadFile(out), plaintext);
}

TEST_F(AgeFiles, ReaderOpensWhatAgeWrites) {
  REQUIRE_AGE();
  const std::string recipient = identity_.ToRecipient().ToString();
  for (const std::size_t size : {0, 65536, 200000}) {
    for (const bool armor : {false, true}) {
      SCOPED_TRACE(std::to_string(size) + (armor ? " armored" : " binary"));
      const Bytes plaintext = test::RandomBytes(size, 7);
      std::vector<std::string> args = {"age", "-r", recipient};
      if (armor) args.push_back("-a");
      const test::ToolResult r =
          test::RunTool(args, std::string(plaintext.begin(), plaintext.end()));
      ASSERT_EQ(r.status, 0) << r.err;
      const Opened opened = Open(Bytes(r.out.begin(), r.out.end()), WithIdentity(identity_));
      ASSERT_FALSE(opened.error.has_value()) << *opened.error;
      EXPECT_EQ(opened.plaintext, plaintext);
    }
  }
  // A passphrase file that age -p wrote (age offers no lower work factor than its 2^18).
  const Opened opened = Open(test::ReadFile(test::TestDataPath("age/passphrase.age")),
                             WithPassphrase("battery staple"));
  ASSERT_FALSE(opened.error.has_value()) << *opened.error;
  const std::string text(opened.plaintext.begin(), opened.plaintext.end());
  EXPECT_EQ(text, "Written by age -p for the reader test.\n");
}

}  // namespace
}  // namespace kryvane::age
