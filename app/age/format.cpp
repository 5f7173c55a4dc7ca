#include "app/age/format.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "app/age/bech32.h"
#include "crypto/base64.h"
#include "crypto/bytes.h"

namespace kryvane::age {
namespace {

constexpr std::string_view kVersionLine = "age-encryption.org/v1";
constexpr std::string_view kX25519Label = "age-encryption.org/v1/X25519";
constexpr std::string_view kScryptLabel = "age-encryption.org/v1/scrypt";
constexpr std::size_t kColumns = 64;
constexpr std::size_t kMaxHeader = 1 << 20;
constexpr std::size_t kMaxHeaderLine = 4096;
constexpr std::size_t kSealedChunk = kChunkSize + kTagSize;

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Decodes unpadded base64 into out (appending); false unless canonical.
bool DecodeInto(std::string_view text, std::vector<uint8_t>& out) {
  if (text.size() % 4 == 1) return false;
  uint32_t acc = 0;
  int bits = 0;
  for (const char c : text) {
    const int v = Base64Value(c);
    if (v < 0) return false;
    acc = (acc << 6) | uint32_t(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(uint8_t(acc >> bits));
      acc &= (1u << bits) - 1;
    }
  }
  // The bits left over must be zero, or two texts would decode to the same bytes.
  return acc == 0;
}

// Padded base64 as the armor carries it.
bool DecodePaddedInto(std::string_view text, std::vector<uint8_t>& out) {
  if (text.size() % 4 != 0) return false;
  std::size_t pad = 0;
  while (pad < 2 && pad < text.size() && text[text.size() - 1 - pad] == '=') ++pad;
  return DecodeInto(text.substr(0, text.size() - pad), out) &&
         (pad == 0 || (text.size() - pad) % 4 == 4 - pad);
}

std::span<const uint8_t> AsBytes(std::string_view s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

bool IsArgument(std::string_view arg) {
  if (arg.empty()) return false;
  return std::all_of(arg.begin(), arg.end(), [](char c) { return c >= 33 && c <= 126; });
}

void HeaderMac(const FileKey& fileKey, std::string_view header, std::span<uint8_t, 32> mac) {
  Key32 key;
  Hkdf(fileKey.span(), {}, "header", key);
  HmacSha256(key.span(), AsBytes(header), mac);
}

constexpr std::array<uint8_t, 12> kZeroNonce{};

void SealFileKey(const Key32& wrapKey, const FileKey& fileKey, std::vector<uint8_t>& body) {
  body.resize(fileKey.size() + kTagSize);
  ChaChaPoly(wrapKey.span()).Seal(kZeroNonce, fileKey.data(), fileKey.size(), body.data());
}

bool OpenFileKey(const Key32& wrapKey, const std::vector<uint8_t>& body, FileKey& fileKey) {
  return ChaChaPoly(wrapKey.span()).Open(kZeroNonce, body.data(), fileKey.size(), fileKey.data());
}

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const auto end = text.find('\n');
    lines.push_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

std::string_view Trim(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
           return std::toupper(uint8_t(a)) == std::toupper(uint8_t(b));
         });
}

// postQuantum starts the hybrid keys of the same kind, which need ML-KEM: named, so that their
// owner learns why the key is refused.
template <class Key, class Parse>
std::vector<Key> ParseKeyLines(std::string_view text, Parse parse, const char* what,
                               std::string_view postQuantum) {
  std::vector<Key> keys;
  std::size_t number = 0;
  for (const std::string_view raw : Lines(text)) {
    ++number;
    const std::string_view line = Trim(raw);
    if (line.empty() || line.front() == '#') continue;
    if (StartsWithNoCase(line, postQuantum)) {
      throw AgeError(AgeErrorKind::kKeys, "line " + std::to_string(number) +
                                              " is a hybrid post-quantum key, which this "
                                              "program does not support");
    }
    std::optional<Key> key = parse(line);
    if (!key)
      throw AgeError(AgeErrorKind::kKeys, "line " + std::to_string(number) + " is not " + what);
    keys.push_back(std::move(*key));
  }
  if (keys.empty())
    throw AgeError(AgeErrorKind::kKeys, std::string("there is no ") + what + " in it");
  return keys;
}

// Whether text that is not an age header holds a PEM boundary line ("-----...") before anything
// binary: armor that is damaged or of another kind, rather than no age file at all.
bool LooksArmored(std::string_view start) {
  const auto binary = std::find_if(start.begin(), start.end(), [](char c) {
    return (uint8_t(c) < 0x20 && c != '\t' && c != '\r' && c != '\n') || uint8_t(c) > 0x7e;
  });
  for (const std::string_view raw : Lines(start.substr(0, std::size_t(binary - start.begin())))) {
    if (Trim(raw).starts_with("-----")) return true;
  }
  return false;
}

}  // namespace

std::string EncodeBase64NoPad(std::span<const uint8_t> data) {
  std::string out;
  out.reserve((data.size() * 4 + 2) / 3);
  uint32_t acc = 0;
  int bits = 0;
  for (const uint8_t b : data) {
    acc = (acc << 8) | b;
    bits += 8;
    while (bits >= 6) {
      bits -= 6;
      out += kAlphabet[(acc >> bits) & 63];
    }
  }
  if (bits > 0) out += kAlphabet[(acc << (6 - bits)) & 63];
  return out;
}

std::optional<std::vector<uint8_t>> DecodeBase64NoPad(std::string_view text) {
  std::vector<uint8_t> out;
  if (!DecodeInto(text, out)) return std::nullopt;
  return out;
}

std::string Recipient::ToString() const {
  return std::string(bech32::Encode("age", key).View());
}

std::optional<Recipient> ParseRecipient(std::string_view text) {
  std::optional<bech32::DecodedBytes> d = bech32::Decode(text);
  if (!d || d->hrp != "age" || d->bytes.size() != 32) return std::nullopt;
  Recipient r;
  std::ranges::copy(d->bytes.Bytes(), r.key.begin());
  return r;
}

Recipient Identity::ToRecipient() const {
  Recipient r;
  X25519Base(secret.span(), r.key);
  return r;
}

Secret Identity::ToString() const {
  return bech32::Encode("age-secret-key-", secret.bytes, true);
}

std::optional<Identity> ParseIdentity(std::string_view text) {
  std::optional<bech32::DecodedBytes> d = bech32::Decode(text);
  if (!d) return std::nullopt;
  if (d->hrp != "age-secret-key-" || d->bytes.size() != 32) return std::nullopt;
  Identity id;
  std::ranges::copy(d->bytes.Bytes(), id.secret.bytes.begin());
  return id;
}

std::vector<Recipient> ParseRecipients(std::string_view text) {
  return ParseKeyLines<Recipient>(text, ParseRecipient, "an age1 X25519 recipient", "age1pq1");
}

std::vector<Identity> ParseIdentities(std::string_view text) {
  return ParseKeyLines<Identity>(text, ParseIdentity, "an AGE-SECRET-KEY-1 X25519 identity",
                                 "AGE-SECRET-KEY-PQ-1");
}

Stanza WrapForRecipient(const FileKey& fileKey, const Recipient& recipient) {
  Key32 ephemeral, shared, wrapKey;
  RandomBytes(ephemeral.bytes);
  std::array<uint8_t, 32> share;
  X25519Base(ephemeral.span(), share);
  if (!X25519(ephemeral.span(), recipient.key, shared.bytes)) {
    throw AgeError(AgeErrorKind::kKeys,
                   "the recipient " + recipient.ToString() + " is not a usable X25519 key");
  }
  std::array<uint8_t, 64> salt;
  std::copy(share.begin(), share.end(), salt.begin());
  std::copy(recipient.key.begin(), recipient.key.end(), salt.begin() + 32);
  Hkdf(shared.span(), salt, kX25519Label, wrapKey);
  Stanza s;
  s.args = {"X25519", EncodeBase64NoPad(share)};
  SealFileKey(wrapKey, fileKey, s.body);
  return s;
}

Stanza WrapForPassphrase(const FileKey& fileKey, std::string_view passphrase, int workFactor) {
  std::array<uint8_t, 16> salt;
  RandomBytes(salt);
  std::vector<uint8_t> labelled(kScryptLabel.begin(), kScryptLabel.end());
  labelled.insert(labelled.end(), salt.begin(), salt.end());
  Key32 wrapKey;
  Scrypt(passphrase, labelled, workFactor, wrapKey);
  Stanza s;
  s.args = {"scrypt", EncodeBase64NoPad(salt), std::to_string(workFactor)};
  SealFileKey(wrapKey, fileKey, s.body);
  return s;
}

std::string EncodeHeader(std::span<const Stanza> stanzas, const FileKey& fileKey) {
  std::string h(kVersionLine);
  h += '\n';
  for (const Stanza& s : stanzas) {
    h += "->";
    for (const std::string& arg : s.args) (h += ' ') += arg;
    h += '\n';
    const std::string body = EncodeBase64NoPad(s.body);
    // A full line announces another, so a body of whole lines ends with an empty one.
    for (std::size_t at = 0;; at += kColumns) {
      const std::string_view line =
          std::string_view(body).substr(std::min(at, body.size()), kColumns);
      (h += line) += '\n';
      if (line.size() < kColumns) break;
    }
  }
  h += "---";
  std::array<uint8_t, 32> mac;
  HeaderMac(fileKey, h, mac);
  h += ' ';
  h += EncodeBase64NoPad(mac);
  h += '\n';
  return h;
}

void PayloadKey(const FileKey& fileKey, const Nonce& nonce, Key32& out) {
  Hkdf(fileKey.span(), nonce, "payload", out);
}

std::array<uint8_t, 12> ChunkNonce(uint64_t index, bool last) {
  std::array<uint8_t, 12> nonce{};
  StoreBe64(nonce.data() + 3, index);
  nonce[11] = last ? 1 : 0;
  return nonce;
}

// ---------------------------------------------------------------------------------------------
// Writer

// PEM lines of 64 characters between the begin and end lines.
class Writer::ArmorSink final : public ByteSink {
 public:
  explicit ArmorSink(ByteSink& out) : out_(out) {
    text_.reserve(kFlushAt + 128);
    (text_ += kArmorBegin) += '\n';
  }

  void Write(const void* data, std::size_t size) override {
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
      const std::size_t take = std::min(size, kLineBytes - pending_);
      std::memcpy(group_ + pending_, p, take);
      pending_ += take;
      p += take;
      size -= take;
      if (pending_ == kLineBytes) EmitLine();
    }
  }

  void Finish() {
    if (pending_ > 0) EmitLine();
    (text_ += kArmorEnd) += '\n';
    out_.Write(text_.data(), text_.size());
    text_.clear();
  }

 private:
  static constexpr std::size_t kLineBytes = 48;
  static constexpr std::size_t kFlushAt = 64 * 1024;

  void EmitLine() {
    char line[kColumns + 1];
    const std::size_t n = EncodeBase64Buffer(group_, line, pending_);
    line[n] = '\n';
    text_.append(line, n + 1);
    pending_ = 0;
    if (text_.size() >= kFlushAt) {
      out_.Write(text_.data(), text_.size());
      text_.clear();
    }
  }

  ByteSink& out_;
  std::string text_;
  uint8_t group_[kLineBytes];
  std::size_t pending_ = 0;
};

Writer::Writer(ByteSink& out, std::span<const Stanza> stanzas, const FileKey& fileKey,
               const Options& options)
    : out_(&out) {
  if (stanzas.empty()) throw AgeError(AgeErrorKind::kKeys, "a file needs at least one recipient");
  if (options.armor) {
    armor_ = std::make_unique<ArmorSink>(out);
    out_ = armor_.get();
  }
  const std::string header = EncodeHeader(stanzas, fileKey);
  out_->Write(header.data(), header.size());
  Nonce nonce;
  if (options.nonce) {
    nonce = *options.nonce;
  } else {
    RandomBytes(nonce);
  }
  out_->Write(nonce.data(), nonce.size());
  Key32 key;
  PayloadKey(fileKey, nonce, key);
  aead_ = std::make_unique<ChaChaPoly>(key.span());
  chunk_.Resize(kSealedChunk);
}

Writer::~Writer() = default;

void Writer::Write(const void* data, std::size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (size > 0) {
    // A full chunk waits until more data shows it is not the last.
    if (filled_ == kChunkSize) SealChunk(false);
    const std::size_t take = std::min(size, kChunkSize - filled_);
    std::memcpy(chunk_.Bytes().data() + filled_, p, take);
    filled_ += take;
    plaintext_ += take;
    p += take;
    size -= take;
  }
}

void Writer::SealChunk(bool last) {
  aead_->Seal(ChunkNonce(index_, last), chunk_.Bytes().data(), filled_, chunk_.Bytes().data());
  out_->Write(chunk_.data(), filled_ + kTagSize);
  ++index_;
  filled_ = 0;
}

void Writer::Finish() {
  if (finished_) return;
  SealChunk(true);
  if (armor_) armor_->Finish();
  finished_ = true;
}

// ---------------------------------------------------------------------------------------------
// Reader

// Buffered reading of lines and blocks.
class Reader::Input {
 public:
  explicit Input(ByteSource& source) : source_(source), buffer_(kBufferSize) {}

  // The next line without its '\n'. False at the end of the data; AgeError of kind part (the
  // header or the armor) when the line is longer than max, or when the data ends inside a
  // header line. The armor's last line may lack its end of line, as in any text file.
  bool ReadLine(std::string& line, std::size_t max, AgeErrorKind part) {
    const char* where = part == AgeErrorKind::kArmor ? "the armor" : "the header";
    line.clear();
    for (;;) {
      if (begin_ == end_ && !Fill()) {
        if (line.empty()) return false;
        if (part == AgeErrorKind::kArmor) return true;
        throw AgeError(part, std::string("the file ends inside ") + where);
      }
      const uint8_t* start = buffer_.data() + begin_;
      const auto* nl = static_cast<const uint8_t*>(std::memchr(start, '\n', end_ - begin_));
      const std::size_t take = nl ? std::size_t(nl - start) : end_ - begin_;
      if (line.size() + take > max)
        throw AgeError(part, std::string("a line of ") + where + " is too long");
      line.append(reinterpret_cast<const char*>(start), take);
      begin_ += take;
      if (nl) {
        ++begin_;
        return true;
      }
    }
  }

  // Reads up to n bytes, fewer only at the end of the data.
  std::size_t ReadFull(uint8_t* out, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
      if (begin_ == end_) {
        // Large reads skip the buffer.
        if (n - done >= buffer_.size()) {
          const std::size_t got = source_.Read(out + done, n - done);
          done += got;
          if (got == 0 || done < n) eof_ = true;
          break;
        }
        if (!Fill()) break;
      }
      const std::size_t take = std::min(n - done, end_ - begin_);
      std::memcpy(out + done, buffer_.data() + begin_, take);
      begin_ += take;
      done += take;
    }
    return done;
  }

  bool AtEnd() { return begin_ == end_ && !Fill(); }

  // The next bytes without consuming them, up to n (fewer at the end of the data).
  std::string_view Peek(std::size_t n) {
    while (end_ - begin_ < n && !eof_) {
      if (begin_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
      }
      const std::size_t got = source_.Read(buffer_.data() + end_, buffer_.size() - end_);
      if (got == 0) eof_ = true;
      end_ += got;
    }
    return {reinterpret_cast<const char*>(buffer_.data() + begin_), std::min(n, end_ - begin_)};
  }

  void Skip(std::size_t n) { begin_ += std::min(n, end_ - begin_); }

 private:
  static constexpr std::size_t kBufferSize = 128 * 1024;

  bool Fill() {
    begin_ = end_ = 0;
    if (eof_) return false;
    end_ = source_.Read(buffer_.data(), buffer_.size());
    // A source fills a read unless its data ran out.
    if (end_ < buffer_.size()) eof_ = true;
    return end_ > 0;
  }

  ByteSource& source_;
  std::vector<uint8_t> buffer_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool eof_ = false;
};

// Decodes the PEM armor line by line; whitespace may surround it, nothing else.
class Reader::ArmorSource final : public ByteSource {
 public:
  explicit ArmorSource(Input& in) : in_(in) {
    std::string line;
    if (!in_.ReadLine(line, kMaxHeaderLine, AgeErrorKind::kArmor) || StripCr(line) != kArmorBegin) {
      throw AgeError(AgeErrorKind::kArmor, "the armor does not start with its begin line");
    }
  }

  std::size_t Read(void* buffer, std::size_t size) override {
    auto* out = static_cast<uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < size) {
      if (offset_ == decoded_.size()) {
        if (ended_ || !NextLine()) break;
        continue;
      }
      const std::size_t take = std::min(size - done, decoded_.size() - offset_);
      std::memcpy(out + done, decoded_.data() + offset_, take);
      offset_ += take;
      done += take;
    }
    return done;
  }

 private:
  static std::string_view StripCr(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
  }

  bool NextLine() {
    decoded_.clear();
    offset_ = 0;
    if (!in_.ReadLine(line_, kMaxHeaderLine, AgeErrorKind::kArmor)) {
      throw AgeError(AgeErrorKind::kArmor, "the armor has no end line (the file is cut short)");
    }
    const std::string_view line = StripCr(line_);
    if (line == kArmorEnd) {
      ended_ = true;
      // Only whitespace may follow.
      for (;;) {
        const std::string_view rest = in_.Peek(4096);
        if (rest.empty()) break;
        if (rest.find_first_not_of(" \t\r\n") != std::string_view::npos) {
          throw AgeError(AgeErrorKind::kArmor, "data follows the armor's end line");
        }
        in_.Skip(rest.size());
      }
      return false;
    }
    if (shortSeen_ || line.empty() || line.size() > kColumns) {
      throw AgeError(AgeErrorKind::kArmor, "the armor has a line of the wrong length");
    }
    shortSeen_ = line.size() < kColumns || line.back() == '=';
    if (!DecodePaddedInto(line, decoded_))
      throw AgeError(AgeErrorKind::kArmor, "the armor is not valid base64");
    return true;
  }

  Input& in_;
  std::string line_;
  std::vector<uint8_t> decoded_;
  std::size_t offset_ = 0;
  bool shortSeen_ = false;  // a short or padded line must be the last
  bool ended_ = false;
};

namespace {

// The file key from the one scrypt stanza, under the passphrase.
FileKey UnwrapScrypt(const Stanza& s, const Secret& passphrase, int maxWorkFactor) {
  std::optional<std::vector<uint8_t>> salt;
  if (s.args.size() == 3) salt = DecodeBase64NoPad(s.args[1]);
  const std::string& factor = s.args.size() == 3 ? s.args[2] : std::string();
  if (!salt || salt->size() != 16 || factor.empty() || factor.size() > 2 || factor[0] == '0' ||
      !std::all_of(factor.begin(), factor.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
      s.body.size() != 32) {
    throw AgeError(AgeErrorKind::kHeader, "the scrypt stanza is malformed");
  }
  const int logN = std::stoi(factor);
  if (logN > maxWorkFactor) {
    throw AgeError(AgeErrorKind::kHeader, "the passphrase's work factor 2^" + factor +
                                              " is above the limit 2^" +
                                              std::to_string(maxWorkFactor));
  }
  std::vector<uint8_t> labelled(kScryptLabel.begin(), kScryptLabel.end());
  labelled.insert(labelled.end(), salt->begin(), salt->end());
  Key32 wrapKey;
  Scrypt(passphrase.View(), labelled, logN, wrapKey);
  FileKey fileKey;
  if (!OpenFileKey(wrapKey, s.body, fileKey))
    throw AgeError(AgeErrorKind::kNoMatch, "the passphrase is wrong");
  return fileKey;
}

// The file key from the first X25519 stanza one of the identities opens.
FileKey UnwrapX25519(std::span<const Stanza> stanzas, std::span<const Identity> identities) {
  FileKey fileKey;
  for (const Stanza& s : stanzas) {
    if (s.args[0] != "X25519") continue;
    std::optional<std::vector<uint8_t>> share;
    if (s.args.size() == 2) share = DecodeBase64NoPad(s.args[1]);
    if (!share || share->size() != 32 || s.body.size() != 32) {
      throw AgeError(AgeErrorKind::kHeader, "an X25519 stanza is malformed");
    }
    std::array<uint8_t, 64> salt;
    std::copy(share->begin(), share->end(), salt.begin());
    for (const Identity& id : identities) {
      Key32 shared, wrapKey;
      if (!X25519(id.secret.span(), std::span<const uint8_t, 32>(share->data(), 32),
                  shared.bytes)) {
        throw AgeError(AgeErrorKind::kHeader, "an X25519 stanza has an invalid share");
      }
      const Recipient r = id.ToRecipient();
      std::copy(r.key.begin(), r.key.end(), salt.begin() + 32);
      Hkdf(shared.span(), salt, kX25519Label, wrapKey);
      if (OpenFileKey(wrapKey, s.body, fileKey)) return fileKey;
    }
  }
  throw AgeError(AgeErrorKind::kNoMatch, "no identity matches a recipient of the file");
}

// The file key, by whichever way unlock gives.
FileKey UnwrapFileKey(std::span<const Stanza> stanzas, const Unlock& unlock) {
  const bool hasScrypt = std::any_of(stanzas.begin(), stanzas.end(),
                                     [](const Stanza& s) { return s.args[0] == "scrypt"; });
  if (hasScrypt && stanzas.size() != 1) {
    throw AgeError(AgeErrorKind::kHeader, "an scrypt stanza is not the only one in the header");
  }
  if (unlock.fileKey) return *unlock.fileKey;
  if (unlock.passphrase) {
    if (!hasScrypt)
      throw AgeError(AgeErrorKind::kNoMatch, "the file is not encrypted with a passphrase");
    return UnwrapScrypt(stanzas[0], *unlock.passphrase, unlock.maxWorkFactor);
  }
  if (hasScrypt)
    throw AgeError(AgeErrorKind::kNoMatch, "the file is encrypted with a passphrase, not to a key");
  return UnwrapX25519(stanzas, unlock.identities);
}

}  // namespace

Reader::Reader(ByteSource& in, const Unlock& unlock)
    : raw_(std::make_unique<Input>(in)), in_(raw_.get()) {
  OpenArmor();
  std::array<uint8_t, 32> mac{};
  const std::string header = ReadHeader(mac);
  const FileKey fileKey = UnwrapFileKey(stanzas_, unlock);

  std::array<uint8_t, 32> expected;
  HeaderMac(fileKey, header, expected);
  if (!EqualConstantTime(expected, mac)) {
    throw AgeError(AgeErrorKind::kHmac, "the header's MAC does not match (the header was changed)");
  }

  Nonce nonce;
  if (in_->ReadFull(nonce.data(), nonce.size()) != nonce.size()) {
    throw AgeError(AgeErrorKind::kHeader, "the file ends before its payload");
  }
  Key32 key;
  PayloadKey(fileKey, nonce, key);
  aead_ = std::make_unique<ChaChaPoly>(key.span());
  chunk_.resize(kSealedChunk);
  plain_.Resize(kChunkSize);
}

// Armor: whitespace, then the begin line. The rest is read through the armor.
void Reader::OpenArmor() {
  std::string_view start = raw_->Peek(4096);
  const auto first = start.find_first_not_of(" \t\r\n");
  if (first != std::string_view::npos && start.substr(first).starts_with(kArmorBegin)) {
    raw_->Skip(first);
    armor_ = std::make_unique<ArmorSource>(*raw_);
    dearmored_ = std::make_unique<Input>(*armor_);
    in_ = dearmored_.get();
    armored_ = true;
  } else if (!start.starts_with("age-encryption.org/") && LooksArmored(start)) {
    throw AgeError(
        AgeErrorKind::kArmor,
        "the file looks armored, but does not start with the line " + std::string(kArmorBegin));
  }
}

std::string Reader::ReadHeader(std::array<uint8_t, 32>& mac) {
  std::string header, line;
  const auto nextLine = [&](std::size_t max) {
    if (!in_->ReadLine(line, max, AgeErrorKind::kHeader))
      throw AgeError(AgeErrorKind::kHeader, "the file ends inside the header");
    if (header.size() + line.size() + 1 > kMaxHeader)
      throw AgeError(AgeErrorKind::kHeader, "the header is too long");
    (header += line) += '\n';
  };
  if (!in_->ReadLine(line, kMaxHeaderLine, AgeErrorKind::kHeader))
    throw AgeError(AgeErrorKind::kHeader, "the file is empty");
  if (line != kVersionLine) {
    throw AgeError(AgeErrorKind::kHeader,
                   line.starts_with("age-encryption.org/")
                       ? "the file is of an age version this program does not know"
                       : "it is not an age file");
  }
  (header += line) += '\n';

  for (;;) {
    nextLine(kMaxHeaderLine);
    if (line.starts_with("---")) {
      std::optional<std::vector<uint8_t>> decoded;
      if (line.size() > 4 && line[3] == ' ') decoded = DecodeBase64NoPad(line.substr(4));
      if (!decoded || decoded->size() != mac.size())
        throw AgeError(AgeErrorKind::kHeader, "the header's MAC line is malformed");
      std::copy(decoded->begin(), decoded->end(), mac.begin());
      header.resize(header.size() - line.size() - 1 + 3);  // the MAC covers up to "---"
      break;
    }
    if (!line.starts_with("-> "))
      throw AgeError(AgeErrorKind::kHeader, "the header has a malformed line");
    Stanza s;
    std::string_view rest = std::string_view(line).substr(3);
    for (;;) {
      const auto space = rest.find(' ');
      s.args.emplace_back(rest.substr(0, space));
      if (!IsArgument(s.args.back()))
        throw AgeError(AgeErrorKind::kHeader, "the header has a malformed stanza");
      if (space == std::string_view::npos) break;
      rest.remove_prefix(space + 1);
    }
    for (;;) {
      nextLine(kColumns);
      if (!DecodeInto(line, s.body))
        throw AgeError(AgeErrorKind::kHeader, "a stanza body is not valid base64");
      if (line.size() < kColumns) break;
    }
    stanzas_.push_back(std::move(s));
  }
  if (stanzas_.empty()) throw AgeError(AgeErrorKind::kHeader, "the header has no recipient stanza");
  return header;
}

Reader::~Reader() = default;

// Each chunk's plaintext is given out once the chunk authenticates, as age gives it out: a full
// chunk is the last one when it is sealed as such, so data after it, or the end of the file
// after a full chunk sealed as not the last, is found only after its plaintext.
void Reader::NextChunk() {
  const std::size_t got = in_->ReadFull(chunk_.data(), kSealedChunk);
  const std::string name = "chunk " + std::to_string(index_);
  if (got < kTagSize) {
    throw AgeError(AgeErrorKind::kPayload, got == 0 ? "the file ends before its last chunk"
                                                    : "the file ends inside " + name);
  }
  const std::size_t size = got - kTagSize;
  bool last = got < kSealedChunk;  // a short chunk ends the data
  if (last && size == 0 && index_ > 0)
    throw AgeError(AgeErrorKind::kPayload, "the last chunk is empty");
  bool opened = aead_->Open(ChunkNonce(index_, last), chunk_.data(), size, plain_.Bytes().data());
  if (!opened && !last) {
    last = true;
    opened = aead_->Open(ChunkNonce(index_, true), chunk_.data(), size, plain_.Bytes().data());
  }
  if (!opened) {
    throw AgeError(AgeErrorKind::kPayload,
                   name + " does not authenticate (the file was changed or cut short)");
  }
  available_ = size;
  offset_ = 0;
  ++index_;
  done_ = last;
  trailing_ = last && got == kSealedChunk && !in_->AtEnd();
}

std::size_t Reader::Read(void* buffer, std::size_t size) {
  auto* out = static_cast<uint8_t*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    if (offset_ == available_) {
      if (trailing_) throw AgeError(AgeErrorKind::kPayload, "data follows the last chunk");
      if (done_) break;
      NextChunk();
      continue;
    }
    const std::size_t take = std::min(size - done, available_ - offset_);
    std::memcpy(out + done, plain_.data() + offset_, take);
    offset_ += take;
    done += take;
  }
  return done;
}

}  // namespace kryvane::age
