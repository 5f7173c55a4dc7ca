// The encrypted file format: round trips over the sizes where chunks and blocks meet, golden files
// that pin every pair's output, and, for the pairs OpenSSL can express, byte-identical agreement
// with an independent construction of the format from its primitives.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/evp.h>
#include <openssl/provider.h>
#include <openssl/rc4.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>

#include "app/base/io_pipeline.h"
#include "tests/app/job_helpers.h"
#include "tests/support/cipher_checks.h"
#include "tests/support/temp_files.h"
#include "tests/support/vec_file.h"

namespace kryvane::test {
namespace {

class FileFormat : public testing::TestWithParam<Pair> {};

std::string PairName(const testing::TestParamInfo<Pair>& info) {
  std::string name = info.param.Name();
  std::replace(name.begin(), name.end(), '-', '_');
  return name;
}

INSTANTIATE_TEST_SUITE_P(, FileFormat, testing::ValuesIn(AllPairs()), PairName);

std::vector<std::size_t> Sizes(std::size_t b, std::size_t larger) {
  std::vector<std::size_t> sizes = {0, 1, b - 1, b, b + 1, 8191, 8192, 8193, larger};
  std::sort(sizes.begin(), sizes.end());
  sizes.erase(std::unique(sizes.begin(), sizes.end()), sizes.end());
  return sizes;
}

// What the job does with the bytes depends on the algorithms only through the block size: one pair
// per block size and one with the stream cipher cover every edge.
std::vector<Pair> OnePairPerBlockSize() {
  std::map<std::size_t, Pair> first;
  for (const Pair& pair : AllPairs()) first.emplace(pair.BlockBytes(), pair);
  std::vector<Pair> pairs;
  for (const auto& [bytes, pair] : first) pairs.push_back(pair);
  return pairs;
}

class JobRoundTrip : public testing::TestWithParam<Pair> {};

INSTANTIATE_TEST_SUITE_P(, JobRoundTrip, testing::ValuesIn(OnePairPerBlockSize()), PairName);

// The file the job must write, from the class's one-block function (or the key, for RC4) and the
// chain model.
Bytes ExpectedFile(const Pair& pair, const std::string& passphrase, const Bytes& plain) {
  std::unique_ptr<Cipher> c = pair.cipher->cipher.Create();
  c->InitFromPassphrase(passphrase, pair.hash->hash);
  if (const auto* block = dynamic_cast<const BlockCipher*>(c.get())) {
    return test::ReferenceCbc(
        [block](const uint8_t* in, uint8_t* out) { block->EncryptBlock(in, out); },
        pair.BlockBytes(), plain);
  }
  std::unique_ptr<Hash> h = pair.hash->hash.Create();
  Bytes digest(std::size_t(pair.hash->hash.hashSize / 8));
  h->Init();
  h->UpdateText(passphrase);
  h->Final(digest.data());
  digest.resize(std::min(digest.size(), std::size_t(pair.cipher->cipher.maxKeySize / 8)));
  return ReferenceRc4File(digest, plain);
}

TEST_P(JobRoundTrip, OverChunkAndBlockEdges) {
  const Pair& pair = GetParam();
  TempFolder dir;
  const std::size_t larger = 3 * 8192 + 1 + 12345;
  std::vector<std::size_t> sizes = Sizes(pair.BlockBytes(), larger);
  // The job moves the data in buffers and may decrypt each buffer's pieces (4 chunks) on two
  // threads: the edges of buffers and pieces, a short last buffer too small to split, and a
  // partial block in the last piece of a split one.
  const std::size_t buffer = IoPipeline::kBufferSize;
  for (std::size_t size :
       {buffer - 1, buffer, buffer + 8192 + 3, 2 * buffer + 5 * 8192 + pair.BlockBytes() + 1}) {
    sizes.push_back(size);
  }
  for (std::size_t size : sizes) {
    SCOPED_TRACE("size " + std::to_string(size));
    const Bytes plain = RandomBytes(size, uint32_t(size));
    WriteFile(dir / "plain", plain);
    const JobOutcome enc = RunFileJob(Encrypt(dir / "plain", dir / "enc", pair));
    ASSERT_TRUE(enc.Succeeded()) << enc.error->Describe();
    const Bytes cipher = ReadFile(dir / "enc");
    EXPECT_EQ(cipher, ExpectedFile(pair, "correct horse", plain));
    const JobOutcome dec = RunFileJob(Decrypt(dir / "enc", dir / "dec", pair));
    ASSERT_TRUE(dec.Succeeded()) << dec.error->Describe();
    EXPECT_EQ(ReadFile(dir / "dec"), plain);
  }
  EXPECT_EQ(ListFolder(dir.Path()), (std::set<std::string>{"plain", "enc", "dec"}))
      << "temporary files left behind";
}

// --- The format built from OpenSSL ---------------------------------------------------------------

void LoadProviders() {
  // Blowfish, CAST5, single DES and MD4 live in the legacy provider.
  struct Providers {
    OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
    OSSL_PROVIDER* standard = OSSL_PROVIDER_load(nullptr, "default");
    ~Providers() {
      if (legacy != nullptr) OSSL_PROVIDER_unload(legacy);
      if (standard != nullptr) OSSL_PROVIDER_unload(standard);
    }
  };
  static const Providers providers;
}

// The OpenSSL name of a catalogue hash; nullptr when OpenSSL has none.
const char* OpenSslDigestName(std::string_view hash) {
  static const std::map<std::string_view, const char*> kNames = {
      {"sha1", "SHA1"},     {"md4", "MD4"},       {"md5", "MD5"},      {"ripemd160", "RIPEMD160"},
      {"sha256", "SHA256"}, {"sha384", "SHA384"}, {"sha512", "SHA512"}};
  const auto it = kNames.find(hash);
  return it == kNames.end() ? nullptr : it->second;
}

std::optional<Bytes> OpenSslDigest(std::string_view hash, const std::string& passphrase) {
  const char* name = OpenSslDigestName(hash);
  if (name == nullptr) return std::nullopt;
  LoadProviders();
  EVP_MD* md = EVP_MD_fetch(nullptr, name, nullptr);
  if (md == nullptr) return std::nullopt;
  Bytes digest(std::size_t(EVP_MD_get_size(md)));
  unsigned int len = 0;
  const bool ok =
      EVP_Digest(passphrase.data(), passphrase.size(), digest.data(), &len, md, nullptr) == 1;
  EVP_MD_free(md);
  if (!ok) return std::nullopt;
  return digest;
}

// The OpenSSL ECB cipher that keys itself from `keyBytes` bytes exactly as the catalogue class
// does; nullptr when OpenSSL lacks the cipher or cannot express that key.
const char* OpenSslEcbName(std::string_view cipher, std::size_t keyBytes) {
  if (cipher == "blowfish") return "BF-ECB";
  if (cipher == "cast128" && keyBytes == 16) return "CAST5-ECB";
  if (cipher == "des" && keyBytes == 8) return "DES-ECB";
  if (cipher == "3des" && keyBytes == 16) return "DES-EDE-ECB";  // K1, K2, K1
  if (cipher == "3des" && keyBytes > 16 && keyBytes <= 24) return "DES-EDE3-ECB";
  if (cipher == "rijndael" && keyBytes == 16) return "AES-128-ECB";
  if (cipher == "rijndael" && keyBytes == 24) return "AES-192-ECB";
  if (cipher == "rijndael" && keyBytes == 32) return "AES-256-ECB";
  return nullptr;
}

// The key a pair derives from the passphrase digest: as many bytes as both the cipher and the hash
// allow.
std::size_t KeyBytes(const Pair& pair) {
  return std::size_t(std::min(pair.cipher->cipher.maxKeySize, pair.hash->hash.hashSize) / 8);
}

// The pairs whose whole format OpenSSL can rebuild: its digest, and its ECB cipher or RC4.
std::vector<Pair> OpenSslPairs() {
  std::vector<Pair> pairs;
  for (const Pair& pair : AllPairs()) {
    if (OpenSslDigestName(pair.hash->shortName) == nullptr) continue;
    if (pair.cipher->shortName == "rc4" ||
        OpenSslEcbName(pair.cipher->shortName, KeyBytes(pair)) != nullptr) {
      pairs.push_back(pair);
    }
  }
  return pairs;
}

// An ECB cipher from OpenSSL keyed exactly as the catalogue class keys itself with these bytes;
// nothing when OpenSSL refuses it.
class OpenSslBlock {
 public:
  static std::unique_ptr<OpenSslBlock> For(std::string_view cipher, Bytes key) {
    const char* name = OpenSslEcbName(cipher, key.size());
    if (name == nullptr) return nullptr;
    const bool variableKey = cipher == "blowfish";
    if (cipher == "3des" && key.size() > 16) key.resize(24, 0);  // a short third key: zero bytes
    LoadProviders();
    auto block = std::unique_ptr<OpenSslBlock>(new OpenSslBlock);
    block->cipher_ = EVP_CIPHER_fetch(nullptr, name, nullptr);
    if (block->cipher_ == nullptr) return nullptr;
    block->ctx_ = EVP_CIPHER_CTX_new();
    if (EVP_EncryptInit_ex2(block->ctx_, block->cipher_, nullptr, nullptr, nullptr) != 1) {
      return nullptr;
    }
    if (variableKey && EVP_CIPHER_CTX_set_key_length(block->ctx_, int(key.size())) != 1) {
      return nullptr;
    }
    if (EVP_CIPHER_CTX_get_key_length(block->ctx_) != int(key.size())) return nullptr;
    if (EVP_EncryptInit_ex2(block->ctx_, nullptr, key.data(), nullptr, nullptr) != 1) {
      return nullptr;
    }
    EVP_CIPHER_CTX_set_padding(block->ctx_, 0);
    block->size_ = std::size_t(EVP_CIPHER_get_block_size(block->cipher_));
    return block;
  }

  ~OpenSslBlock() {
    EVP_CIPHER_CTX_free(ctx_);
    EVP_CIPHER_free(cipher_);
  }

  std::size_t Size() const { return size_; }
  void Encrypt(uint8_t* block) {
    int len = 0;
    ASSERT_EQ(EVP_EncryptUpdate(ctx_, block, &len, block, int(size_)), 1);
    ASSERT_EQ(std::size_t(len), size_);
  }

 private:
  OpenSslBlock() = default;
  EVP_CIPHER* cipher_ = nullptr;
  EVP_CIPHER_CTX* ctx_ = nullptr;
  std::size_t size_ = 0;
};

// The chain model of tests/support over the other library's block function.
Bytes ReferenceCbc(OpenSslBlock& e, const Bytes& plain) {
  return test::ReferenceCbc(
      [&e](const uint8_t* in, uint8_t* out) {
        std::copy_n(in, e.Size(), out);
        e.Encrypt(out);
      },
      e.Size(), plain);
}

// The key stream runs on across 8192-byte chunks in its permutation, but both generator indices
// start again at 0 with each chunk.
Bytes ReferenceRc4(const Bytes& key, const Bytes& plain) {
  RC4_KEY state;
  RC4_set_key(&state, int(key.size()), key.data());
  Bytes out(plain.size());
  for (std::size_t pos = 0; pos < plain.size(); pos += 8192) {
    state.x = 0;
    state.y = 0;
    RC4(&state, std::min<std::size_t>(8192, plain.size() - pos), plain.data() + pos,
        out.data() + pos);
  }
  return out;
}

class OpenSslFileFormat : public testing::TestWithParam<Pair> {};

INSTANTIATE_TEST_SUITE_P(, OpenSslFileFormat, testing::ValuesIn(OpenSslPairs()), PairName);

TEST_P(OpenSslFileFormat, MatchesIndependentConstruction) {
  const Pair& pair = GetParam();
  const std::string passphrase = "Differential passphrase";
  const auto digest = OpenSslDigest(pair.hash->shortName, passphrase);
  ASSERT_TRUE(digest) << "OpenSSL refused the digest " << pair.hash->shortName;
  const Bytes key(digest->begin(), digest->begin() + std::ptrdiff_t(KeyBytes(pair)));

  std::unique_ptr<OpenSslBlock> block;
  const bool rc4 = pair.cipher->shortName == "rc4";
  if (!rc4) {
    block = OpenSslBlock::For(pair.cipher->shortName, key);
    ASSERT_TRUE(block) << "OpenSSL refused the cipher of " << pair.Name();
    ASSERT_EQ(block->Size(), pair.BlockBytes());
  }
  TempFolder dir;
  for (std::size_t size : Sizes(pair.BlockBytes(), 3 * 8192 + pair.BlockBytes() + 3)) {
    SCOPED_TRACE("size " + std::to_string(size));
    const Bytes plain = RandomBytes(size, uint32_t(size));
    WriteFile(dir / "plain", plain);
    const JobOutcome o = RunFileJob(Encrypt(dir / "plain", dir / "enc", pair, passphrase));
    ASSERT_TRUE(o.Succeeded()) << o.error->Describe();
    const Bytes expected = rc4 ? ReferenceRc4(key, plain) : ReferenceCbc(*block, plain);
    EXPECT_EQ(ReadFile(dir / "enc"), expected);
  }
}

// --- Golden files
// ---------------------------------------------------------------------------------

TEST_P(FileFormat, GoldenFile) {
  const Pair& pair = GetParam();
  const std::string plainPath = TestDataPath("golden/plaintext.bin");
  const std::string goldenPath = TestDataPath("golden/" + pair.Name() + ".bin");
  const std::string passphrase = "Kryvane golden passphrase";
  TempFolder dir;
  const JobOutcome o = RunFileJob(Encrypt(plainPath, dir / "enc", pair, passphrase));
  ASSERT_TRUE(o.Succeeded()) << o.error->Describe();
  const Bytes cipher = ReadFile(dir / "enc");
  ASSERT_EQ(cipher.size(), 9001u);

  if (!Exists(goldenPath)) {
    const char* write = std::getenv("KRYVANE_WRITE_GOLDEN");
    if (write == nullptr || std::string(write) != "1") {
      FAIL() << goldenPath << " is missing; see tests/data/golden/README.md";
    }
    WriteFile(goldenPath, cipher);
    std::cout << "wrote " << goldenPath << "\n";
    return;
  }
  EXPECT_EQ(cipher, ReadFile(goldenPath)) << "the file format changed for " << pair.Name();
  ASSERT_TRUE(RunFileJob(Decrypt(goldenPath, dir / "dec", pair, passphrase)).Succeeded());
  EXPECT_EQ(ReadFile(dir / "dec"), ReadFile(plainPath));
}

}  // namespace
}  // namespace kryvane::test
