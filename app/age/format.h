// age v1 files: X25519 and scrypt recipient stanzas, the header and its MAC, the payload in
// 64 KiB ChaCha20-Poly1305 chunks, and the optional PEM armor. Writer produces a file from a
// stream of plaintext; Reader authenticates one and gives its plaintext back as a stream.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/age/primitives.h"
#include "app/base/error.h"
#include "crypto/streams.h"

namespace kryvane::age {

inline constexpr std::size_t kChunkSize = 64 * 1024;
inline constexpr std::size_t kNonceSize = 16;
inline constexpr int kDefaultWorkFactor = 18;  // log2 of scrypt's N
inline constexpr int kMaxWorkFactor = 22;      // what a reader accepts unless told otherwise
inline constexpr std::string_view kArmorBegin = "-----BEGIN AGE ENCRYPTED FILE-----";
inline constexpr std::string_view kArmorEnd = "-----END AGE ENCRYPTED FILE-----";

// A file that is not a valid age file, or does not open with the keys given, throws the program's
// one error (app/base/error.h) with one of the age kinds (kKeys to kPayload) and no file or
// operation: what() is the cause, worded for a user ("chunk 3 does not authenticate").
using AgeErrorKind = ErrorKind;
using AgeError = ErrorException;

using FileKey = SecretBytes<16>;
using Nonce = std::array<uint8_t, kNonceSize>;

// Base64 of the header: standard alphabet, no padding; decoding refuses padding and any
// non-canonical encoding.
std::string EncodeBase64NoPad(std::span<const uint8_t> data);
std::optional<std::vector<uint8_t>> DecodeBase64NoPad(std::string_view text);

// An X25519 public key, written "age1...".
struct Recipient {
  std::array<uint8_t, 32> key{};
  std::string ToString() const;
};
std::optional<Recipient> ParseRecipient(std::string_view text);

// An X25519 secret key, written "AGE-SECRET-KEY-1...".
struct Identity {
  Key32 secret;
  Recipient ToRecipient() const;
  Secret ToString() const;
};
std::optional<Identity> ParseIdentity(std::string_view text);

// Files of keys as age reads them: one a line, blank lines and lines starting with '#' ignored.
// A line that is not a key throws AgeError naming its line number (never its text, which may
// be a secret).
std::vector<Recipient> ParseRecipients(std::string_view text);
std::vector<Identity> ParseIdentities(std::string_view text);

struct Stanza {
  std::vector<std::string> args;  // the type first
  std::vector<uint8_t> body;
  friend bool operator==(const Stanza&, const Stanza&) = default;
};

Stanza WrapForRecipient(const FileKey& fileKey, const Recipient& recipient);
Stanza WrapForPassphrase(const FileKey& fileKey, std::string_view passphrase, int workFactor);

// The header text for these stanzas, ending with the MAC line.
std::string EncodeHeader(std::span<const Stanza> stanzas, const FileKey& fileKey);

// The key derived for the payload, from the file key and the payload nonce.
void PayloadKey(const FileKey& fileKey, const Nonce& nonce, Key32& out);
// The 12-byte nonce of chunk index.
std::array<uint8_t, 12> ChunkNonce(uint64_t index, bool last);

// Writes an age file to out: the header at construction, then the plaintext given to Write,
// sealed chunk by chunk; Finish seals the last chunk (and closes the armor). A chunk is sealed
// only once it is known whether more follows, so a file of whole chunks ends with a full last
// chunk, and an empty file has one empty chunk.
class Writer final : public ByteSink {
 public:
  struct Options {
    bool armor = false;
    std::optional<Nonce> nonce;  // fixed payload nonce, for known-answer tests only
  };
  Writer(ByteSink& out, std::span<const Stanza> stanzas, const FileKey& fileKey,
         const Options& options);
  ~Writer() override;
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  void Write(const void* data, std::size_t size) override;
  void Finish();
  uint64_t PlaintextSize() const { return plaintext_; }

 private:
  class ArmorSink;
  void SealChunk(bool last);

  std::unique_ptr<ArmorSink> armor_;
  ByteSink* out_;
  std::unique_ptr<ChaChaPoly> aead_;
  Secret chunk_;  // plaintext, then the sealed chunk
  std::size_t filled_ = 0;
  uint64_t index_ = 0;
  uint64_t plaintext_ = 0;
  bool finished_ = false;
};

// What opens a file: identities for X25519 stanzas, or a passphrase for an scrypt stanza.
struct Unlock {
  std::vector<Identity> identities;
  std::optional<Secret> passphrase;  // the bytes scrypt takes
  int maxWorkFactor = kMaxWorkFactor;
  // The file key itself, known to whoever wrote the file: reading back what was just written to
  // recipients whose secret keys are elsewhere. The stanzas are then not opened.
  std::optional<FileKey> fileKey;
};

// Reads an age file, binary or armored, from in. The constructor reads the header, opens a stanza
// and checks the MAC; Read returns authenticated plaintext only and fails (AgeError) on a chunk
// that does not authenticate, a file that ends before its last chunk and data after it. As in
// age, each chunk's plaintext is given out once it authenticates, so a failure can follow the
// plaintext of the chunks before it (reads of kChunkSize bytes then return exactly that).
class Reader final : public ByteSource {
 public:
  Reader(ByteSource& in, const Unlock& unlock);
  ~Reader() override;
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  std::size_t Read(void* buffer, std::size_t size) override;
  bool Armored() const { return armored_; }
  const std::vector<Stanza>& Stanzas() const { return stanzas_; }

 private:
  class Input;
  class ArmorSource;
  void OpenArmor();
  // Reads the header into stanzas_ and its MAC into mac; returns the text the MAC covers.
  std::string ReadHeader(std::array<uint8_t, 32>& mac);
  void NextChunk();

  std::unique_ptr<Input> raw_;
  std::unique_ptr<ArmorSource> armor_;
  std::unique_ptr<Input> dearmored_;
  Input* in_ = nullptr;
  bool armored_ = false;
  std::vector<Stanza> stanzas_;
  std::unique_ptr<ChaChaPoly> aead_;
  std::vector<uint8_t> chunk_;  // the sealed chunk read
  Secret plain_;                // its plaintext
  std::size_t available_ = 0;
  std::size_t offset_ = 0;
  uint64_t index_ = 0;
  bool done_ = false;      // the last chunk is read
  bool trailing_ = false;  // and data follows it
};

}  // namespace kryvane::age
