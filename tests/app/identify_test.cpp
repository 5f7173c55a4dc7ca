// The search behind `kryvane-cli identify`: sample files of several kinds under every cipher and
// hash pair, random bytes under every pair, and the edges (empty, short, longer than the head).
#include "app/identify.h"

#include <gtest/gtest.h>

#include "app/file_job.h"
#include "tests/support/temp_files.h"
#include "tests/support/vec_file.h"

namespace kryvane::test {
namespace {

const char* const kSamples[] = {
    "text-utf8.txt", "text-cp1252.txt", "text-utf16.txt", "image.png",   "document.pdf",
    "archive.zip",   "photo.jpg",       "notes.txt.gz",   "program.elf",
};

Bytes Sample(const std::string& name) {
  Bytes b = ReadFile(TestDataPath("samples/" + name));
  EXPECT_FALSE(b.empty()) << name;
  return b;
}

// What the file job writes for a source of at most one stream chunk: one call over all of it.
Bytes Encrypt(Bytes data, const CipherEntry& cipher, const HashEntry& hash,
              const std::string& keyBytes) {
  EXPECT_LE(data.size(), Cipher::kStreamChunk);
  std::unique_ptr<Cipher> c = cipher.cipher.Create();
  c->InitFromPassphrase(keyBytes, hash.hash);
  c->Encrypt(data.data(), data.data(), data.size());
  return data;
}

struct Pair {
  const CipherEntry* cipher;
  const HashEntry* hash;
};

std::vector<Pair> AllPairs() {
  std::vector<Pair> pairs;
  for (const CipherEntry& c : CipherCatalogue()) {
    for (const HashEntry& h : HashCatalogue()) pairs.push_back({&c, &h});
  }
  return pairs;
}

// Three passphrases in turn: ASCII, and one beyond ASCII keyed as Windows-1252 or as UTF-8 bytes,
// so the search must also tell the two encodings apart.
struct Keying {
  std::string text;
  PassphraseEncoding encoding;
};
const Keying kKeyings[] = {
    {"correct horse", PassphraseEncoding::kAuto},
    {"caf\xC3\xA9 cr\xC3\xA8me", PassphraseEncoding::kCp1252},
    {"caf\xC3\xA9 cr\xC3\xA8me", PassphraseEncoding::kUtf8},
};

TEST(Identify, NamesTheRightPairFirstForEveryPairAndKind) {
  const std::vector<Pair> pairs = AllPairs();
  ASSERT_EQ(pairs.size(), 170u);
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    const std::string sample = kSamples[i % std::size(kSamples)];
    const Keying& k = kKeyings[i % std::size(kKeyings)];
    const std::string keyBytes(EncodePassphrase(k.text, k.encoding)->View());
    const Bytes encrypted = Encrypt(Sample(sample), *pairs[i].cipher, *pairs[i].hash, keyBytes);

    const std::string texts[] = {k.text};
    const auto readings = PassphraseReadings(texts, PassphraseEncoding::kAuto);
    const Identification found = IdentifyHead(encrypted, encrypted.size(), readings);

    const std::string what = sample + " under " + std::string(pairs[i].cipher->shortName) + "/" +
                             std::string(pairs[i].hash->shortName);
    ASSERT_FALSE(found.ranked.empty()) << what;
    const Candidate& best = *found.Best();
    EXPECT_EQ(found.answer, IdentifyAnswer::kClear) << what << ": " << best.plausibility.evidence;
    EXPECT_EQ(best.cipher, pairs[i].cipher) << what;
    EXPECT_EQ(best.hash, pairs[i].hash) << what;
    EXPECT_EQ(readings[best.reading].bytes, keyBytes) << what;
    EXPECT_EQ(found.ranked.size(), 170 * readings.size()) << what;
  }
}

TEST(Identify, RandomBytesAreNothingPlausibleUnderEveryPair) {
  const std::vector<Pair> pairs = AllPairs();
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    const Keying& k = kKeyings[i % std::size(kKeyings)];
    const std::string keyBytes(EncodePassphrase(k.text, k.encoding)->View());
    // Sizes from a few blocks to past the head, odd ones included.
    const Bytes noise = RandomBytes(24 + (i * 397) % 5000, uint32_t(i));
    const Bytes encrypted = Encrypt(noise, *pairs[i].cipher, *pairs[i].hash, keyBytes);
    const std::string texts[] = {k.text};
    const auto readings = PassphraseReadings(texts, PassphraseEncoding::kAuto);
    const Identification found = IdentifyHead(encrypted, encrypted.size(), readings);
    EXPECT_EQ(found.answer, IdentifyAnswer::kNothingPlausible)
        << noise.size() << " bytes under " << pairs[i].cipher->shortName << "/"
        << pairs[i].hash->shortName << ": " << found.Best()->plausibility.evidence;
  }
}

// A file longer than the head, written by the file job in several stream chunks: the head
// decrypts to exactly the start of the file, for a block cipher and for the stream cipher.
TEST(Identify, FindsThePairOfALargeFileWrittenByTheJob) {
  TempFolder dir;
  std::string text;
  while (text.size() < 3 * Cipher::kStreamChunk + 5) text += "Line of a long report. ";
  WriteText(dir / "plain.txt", text);
  for (const char* cipherName : {"twofish", "rc4", "des"}) {
    JobRequest request;
    request.direction = JobDirection::kEncrypt;
    request.sourcePath = dir / "plain.txt";
    request.targetPath = dir / "secret";
    request.passphrase = "long one";
    request.retypedPassphrase = "long one";
    request.cipherPosition = FindCipher(cipherName)->position;
    request.hashPosition = FindHash("sha1")->position;
    ASSERT_TRUE(RunFileJob(request).Succeeded());

    const std::string texts[] = {"long one"};
    const auto readings = PassphraseReadings(texts, PassphraseEncoding::kAuto);
    const Identification found = IdentifyFile(dir / "secret", readings);
    EXPECT_EQ(found.fileSize, text.size());
    ASSERT_EQ(found.answer, IdentifyAnswer::kClear) << cipherName;
    EXPECT_EQ(found.Best()->cipher->shortName, cipherName);
    EXPECT_EQ(found.Best()->hash->shortName, "sha1");
    EXPECT_EQ(found.Best()->plausibility.evidence, "text, 100% printable");
  }
}

TEST(Identify, EmptyAndShortFilesGetTheirOwnAnswer) {
  const std::string texts[] = {"pw"};
  const auto readings = PassphraseReadings(texts, PassphraseEncoding::kAuto);
  EXPECT_EQ(IdentifyHead({}, 0, readings).answer, IdentifyAnswer::kEmpty);
  const Bytes seven(7, 0x41);
  EXPECT_EQ(IdentifyHead(seven, 7, readings).answer, IdentifyAnswer::kTooShort);
  EXPECT_TRUE(IdentifyHead(seven, 7, readings).ranked.empty());
  const Bytes eight(8, 0x41);
  EXPECT_EQ(IdentifyHead(eight, 8, readings).ranked.size(), 170u);
}

TEST(Identify, ReadingsOfAPassphrase) {
  const std::string ascii[] = {"plain"};
  EXPECT_EQ(PassphraseReadings(ascii, PassphraseEncoding::kAuto).size(), 1u);
  const std::string accented[] = {"caf\xC3\xA9"};
  const auto both = PassphraseReadings(accented, PassphraseEncoding::kAuto);
  ASSERT_EQ(both.size(), 2u);
  EXPECT_EQ(both[0].bytes, "caf\xE9");
  EXPECT_EQ(both[0].encoding, PassphraseEncoding::kCp1252);
  EXPECT_EQ(both[1].bytes, "caf\xC3\xA9");
  EXPECT_EQ(both[1].encoding, PassphraseEncoding::kUtf8);
  // An explicit encoding is the only one tried; Greek has no Windows-1252 bytes at all.
  EXPECT_EQ(PassphraseReadings(accented, PassphraseEncoding::kUtf8).size(), 1u);
  const std::string greek[] = {"\xCE\xB1\xCE\xB2"};
  EXPECT_EQ(PassphraseReadings(greek, PassphraseEncoding::kAuto).size(), 1u);
  EXPECT_TRUE(PassphraseReadings(greek, PassphraseEncoding::kCp1252).empty());
  // Two readings of a stored value: their byte strings, each once.
  const std::string stored[] = {"\xC3\xA9t", "\xC3\x83\xC2\xA9t"};
  const auto settings = PassphraseReadings(stored, PassphraseEncoding::kAuto);
  ASSERT_EQ(settings.size(), 3u);
  EXPECT_EQ(settings[0].bytes, "\xE9t");
  EXPECT_EQ(settings[1].bytes, "\xC3\xA9t");
  EXPECT_EQ(settings[1].text, 0u);
  EXPECT_EQ(settings[2].bytes, "\xC3\x83\xC2\xA9t");
  EXPECT_EQ(settings[2].text, 1u);
}

TEST(Identify, CancelStopsTheSearch) {
  const std::string texts[] = {"pw"};
  const auto readings = PassphraseReadings(texts, PassphraseEncoding::kAuto);
  const Bytes data = RandomBytes(1000, 7);
  std::atomic<bool> cancel{false};
  std::size_t calls = 0;
  IdentifyOptions options;
  options.cancel = &cancel;
  options.progress = [&](std::size_t done, std::size_t total) {
    EXPECT_EQ(total, 170u);
    calls = done;
    if (done == 10) cancel = true;
  };
  const Identification found = IdentifyHead(data, data.size(), readings, options);
  EXPECT_EQ(found.answer, IdentifyAnswer::kCancelled);
  EXPECT_EQ(calls, 10u);
}

TEST(Identify, UnreadableFilesNameTheFile) {
  TempFolder dir;
  const std::string texts[] = {"pw"};
  const auto readings = PassphraseReadings(texts, PassphraseEncoding::kAuto);
  EXPECT_THROW(
      {
        try {
          IdentifyFile(dir / "missing", readings);
        } catch (const std::runtime_error& e) {
          EXPECT_EQ(std::string(e.what()), dir / "missing" + ": open: No such file or directory");
          throw;
        }
      },
      std::runtime_error);
  EXPECT_THROW(IdentifyFile(dir.Path(), readings), std::runtime_error);
}

// A file of this format encrypted twice under one passphrase: its right decryption is the inner
// ciphertext, random-looking, yet no garbage. The guard recognises it and names the inner pair;
// noise under the same passphrase, or the inner file under another passphrase, stays suspect.
TEST(Identify, NestedCiphertextUnderTheSamePassphrase) {
  const Bytes text = Sample("text-utf8.txt");
  const auto& ciphers = CipherCatalogue();
  const auto& hashes = HashCatalogue();
  const Bytes inner = Encrypt(text, ciphers[14], hashes[2], "correct horse");
  ASSERT_EQ(Assess(inner).verdict, Verdict::kRandomLooking);
  const Plausibility p = AssessResult(inner, "correct horse", PassphraseEncoding::kAuto);
  EXPECT_EQ(p.verdict, Verdict::kPlausible) << p.evidence;
  EXPECT_NE(p.evidence.find("encrypted again under the same passphrase"), std::string::npos)
      << p.evidence;
  EXPECT_NE(p.evidence.find("Serpent with MD5"), std::string::npos) << p.evidence;
  EXPECT_EQ(AssessResult(inner, "another horse", PassphraseEncoding::kAuto).verdict,
            Verdict::kRandomLooking);
  EXPECT_EQ(AssessResult(RandomBytes(4096, 5), "correct horse", PassphraseEncoding::kAuto).verdict,
            Verdict::kRandomLooking);
  // What is plausible already is left as it is.
  EXPECT_EQ(AssessResult(text, "correct horse", PassphraseEncoding::kAuto).evidence,
            Assess(text).evidence);
}

// Files made by the Windows program from a pasted passphrase longer than its field were keyed
// with the first 80 characters. The prefix is tried only when the whole passphrase gives
// random-looking bytes, and is taken only when it gives something plausible.
TEST(Identify, WindowsFieldPrefixOfALongPassphrase) {
  EXPECT_FALSE(WindowsFieldPrefix(std::string(80, 'a')).has_value());
  EXPECT_EQ(WindowsFieldPrefix(std::string(81, 'a'))->View(), std::string(80, 'a'));
  // Characters, not bytes: "é" is two bytes in UTF-8 and one in Windows-1252.
  std::string accented;
  for (int i = 0; i < 90; ++i) accented += "\xC3\xA9";
  EXPECT_EQ(WindowsFieldPrefix(accented)->View(), accented.substr(0, 160));

  std::string longPhrase;
  for (int i = 0; longPhrase.size() < 120; ++i) longPhrase += "word" + std::to_string(i) + " ";
  const std::string prefix = longPhrase.substr(0, 80);
  const Bytes text = Sample("text-cp1252.txt");
  const CipherEntry& cipher = CipherCatalogue()[0];
  const HashEntry& hash = HashCatalogue()[5];
  const Bytes windowsFile = Encrypt(text, cipher, hash, prefix);
  const std::optional<Secret> fits = FittingWindowsPrefix(
      windowsFile, windowsFile.size(), cipher, hash, longPhrase, PassphraseEncoding::kAuto);
  ASSERT_TRUE(fits.has_value());
  EXPECT_EQ(fits->View(), prefix);
  // A file keyed with the whole passphrase keeps it; so does a wrong passphrase.
  const Bytes wholeFile = Encrypt(text, cipher, hash, longPhrase);
  EXPECT_FALSE(FittingWindowsPrefix(wholeFile, wholeFile.size(), cipher, hash, longPhrase,
                                    PassphraseEncoding::kAuto));
  EXPECT_FALSE(FittingWindowsPrefix(windowsFile, windowsFile.size(), cipher, hash, "x" + longPhrase,
                                    PassphraseEncoding::kAuto));

  // The search finds the pair under the prefix, and marks the reading.
  const std::string texts[] = {longPhrase};
  const auto readings = PassphraseReadings(texts, PassphraseEncoding::kAuto);
  ASSERT_EQ(readings.size(), 2u);
  EXPECT_TRUE(readings[1].prefix);
  const Identification found = IdentifyHead(windowsFile, windowsFile.size(), readings);
  EXPECT_EQ(found.answer, IdentifyAnswer::kClear);
  EXPECT_TRUE(readings[found.Best()->reading].prefix);
  EXPECT_EQ(found.Best()->cipher, &cipher);
  // With the whole passphrase fitting, the prefix is not searched at all.
  const Identification whole = IdentifyHead(wholeFile, wholeFile.size(), readings);
  EXPECT_EQ(whole.ranked.size(), 170u);
  EXPECT_FALSE(readings[whole.Best()->reading].prefix);
}

}  // namespace
}  // namespace kryvane::test
