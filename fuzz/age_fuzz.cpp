// The age reader, which `convert --check` runs on files from anywhere. Any input either reads as
// authenticated plaintext or fails with AgeError, never anything else. The first byte picks what
// the rest is:
//   0: a whole file, binary or armored, opened with the test identity of tests/data/age/keys.vec;
//   1: the same, opened with the passphrase "fuzz" (scrypt work factors above 2^4 are refused, to
//      stay fast);
//   2: the payload (nonce and chunks) after a fixed header, opened with its file key, so that the
//      STREAM framing is reached without forging a header MAC;
//   3: a plaintext that the writer seals, binary or armored, and that must read back as it was;
//      with one byte changed or the file cut short it must fail instead.
// The reads and writes come in sizes the input chooses, so that chunk and armor line boundaries
// fall anywhere inside them.
#include <algorithm>
#include <cstring>
#include <vector>

#include "app/age/format.h"
#include "crypto/streams.h"
#include "fuzz/fuzz_input.h"

using kryvane::fuzz::Require;
namespace age = kryvane::age;

namespace {

constexpr std::string_view kIdentity =
    "AGE-SECRET-KEY-1TQY2LJMCHNWV7LZHE70LHNJSLLPW973EHXRP3AHFEJ05PD3XF9MSXJKR80";

const age::FileKey& FixedFileKey() {
  static const age::FileKey key = [] {
    age::FileKey k;
    for (std::size_t i = 0; i < k.size(); ++i) k.bytes[i] = uint8_t(i * 17 + 3);
    return k;
  }();
  return key;
}

// An X25519 stanza of fixed bytes: never opened, since the tests hand the reader the file key,
// but covered by the header's MAC like any other.
const std::vector<age::Stanza>& FixedStanzas() {
  static const std::vector<age::Stanza> stanzas = [] {
    age::Stanza s;
    std::vector<uint8_t> share(32, 0x42);
    s.args = {"X25519", age::EncodeBase64NoPad(share)};
    s.body.assign(32, 0x24);
    return std::vector<age::Stanza>{s};
  }();
  return stanzas;
}

// The pieces of a read or write of total bytes: the sizes given, cycled, but no more than about
// 256 pieces in all, so that large files stay quick.
std::size_t Piece(const std::vector<std::size_t>& steps, std::size_t i, std::size_t total) {
  return std::max(steps[i % steps.size()], total / 256);
}

// Reads everything in pieces (see Piece); the plaintext, or nothing on AgeError.
std::optional<std::vector<uint8_t>> ReadAll(std::span<const uint8_t> file,
                                            const age::Unlock& unlock,
                                            const std::vector<std::size_t>& steps,
                                            bool* armored = nullptr) {
  kryvane::MemorySource source(file);
  try {
    age::Reader reader(source, unlock);
    if (armored != nullptr) *armored = reader.Armored();
    std::vector<uint8_t> plain;
    for (std::size_t i = 0;; ++i) {
      const std::size_t want = Piece(steps, i, file.size());
      const std::size_t at = plain.size();
      plain.resize(at + want);
      const std::size_t got = reader.Read(plain.data() + at, want);
      Require(got <= want);
      plain.resize(at + got);
      if (got < want) break;  // the reader fills a read unless the plaintext has ended
    }
    // After the end, nothing more.
    uint8_t extra;
    Require(reader.Read(&extra, 1) == 0);
    return plain;
  } catch (const age::AgeError&) {
    return std::nullopt;
  }
}

std::vector<std::size_t> Steps(kryvane::fuzz::Input& in) {
  std::vector<std::size_t> steps;
  for (int n = 1 + in.Byte() % 3; n > 0; --n) steps.push_back(1 + in.Short() % 70000);
  return steps;
}

bool Whitespace(uint8_t c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  kryvane::fuzz::Input in(data, size);
  const uint8_t mode = in.Byte() % 4;
  const std::vector<std::size_t> steps = Steps(in);
  age::Unlock unlock;
  unlock.maxWorkFactor = 4;

  if (mode == 0 || mode == 1) {
    if (mode == 0) {
      unlock.identities.push_back(*age::ParseIdentity(kIdentity));
    } else {
      unlock.passphrase = "fuzz";
    }
    const std::string file = in.Rest();
    ReadAll({reinterpret_cast<const uint8_t*>(file.data()), file.size()}, unlock, steps);
    return 0;
  }

  unlock.fileKey = FixedFileKey();
  if (mode == 2) {
    static const std::string header = age::EncodeHeader(FixedStanzas(), FixedFileKey());
    const std::string file = header + in.Rest();
    ReadAll({reinterpret_cast<const uint8_t*>(file.data()), file.size()}, unlock, steps);
    return 0;
  }

  // Mode 3: a round trip. The plaintext is the rest of the input repeated to a length the input
  // chooses, so that files of several chunks are reached without inputs that large.
  const bool armor = in.Byte() & 1;
  const uint8_t change = in.Byte() % 3;  // 0 none, 1 one byte changed, 2 cut short
  const std::size_t where = in.Short() | (std::size_t(in.Byte()) << 16);
  const uint8_t flip = in.Byte() | 1;  // never 0: the byte must change
  const std::size_t length = in.Short() * 4;
  const std::string pattern = in.Rest();
  std::vector<uint8_t> plain(pattern.empty() ? 0 : length);
  for (std::size_t i = 0; i < plain.size(); ++i) plain[i] = uint8_t(pattern[i % pattern.size()]);

  kryvane::MemorySink sink;
  {
    age::Nonce nonce{};
    nonce[0] = 7;
    age::Writer writer(sink, FixedStanzas(), FixedFileKey(), {.armor = armor, .nonce = nonce});
    for (std::size_t at = 0, i = 0; at < plain.size(); ++i) {
      const std::size_t take = std::min(Piece(steps, i, plain.size()), plain.size() - at);
      writer.Write(plain.data() + at, take);
      at += take;
    }
    writer.Finish();
  }
  std::vector<uint8_t> file = sink.Data();
  const std::size_t at = where % file.size();
  const bool last = at + 1 == file.size();
  if (change == 1) {
    file[at] ^= flip;
  } else if (change == 2) {
    file.resize(at);
  }
  bool armored = false;
  const std::optional<std::vector<uint8_t>> read = ReadAll(file, unlock, steps, &armored);
  if (change == 0) {
    Require(read.has_value() && *read == plain && armored == armor);
  } else if (read.has_value()) {
    // Only the armor's final line end may become other whitespace, or go.
    Require(armor && last && (change == 2 || Whitespace(file[at])));
    Require(*read == plain);
  }
  return 0;
}
