// Decrypts a file that Kryvane encrypted, with the component library alone:
//   decrypt_file CIPHER HASH PASSPHRASE_FILE SOURCE TARGET
// CIPHER is blowfish, rijndael or twofish; HASH is haval, sha256 or tiger. The passphrase is the
// first line of PASSPHRASE_FILE, taken as bytes (Kryvane for Windows used Windows-1252).
#include <fcntl.h>
#include <kryvane/kryvane.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <string>
#include <string_view>

namespace {

// A few of the menu entries; the application's menus have seventeen ciphers and ten hashes.
const kryvane::CipherRef* FindCipher(std::string_view name) {
  static const kryvane::CipherRef blowfish = kryvane::CipherRef::Of<kryvane::Blowfish>();
  static const kryvane::CipherRef rijndael = kryvane::CipherRef::Of<kryvane::Rijndael>();
  static const kryvane::CipherRef twofish = kryvane::CipherRef::Of<kryvane::Twofish>();
  if (name == "blowfish") return &blowfish;
  if (name == "rijndael") return &rijndael;
  if (name == "twofish") return &twofish;
  return nullptr;
}

const kryvane::HashRef* FindHash(std::string_view name) {
  static const kryvane::HashRef haval = kryvane::HashRef::Of<kryvane::Haval>();
  static const kryvane::HashRef sha256 = kryvane::HashRef::Of<kryvane::Sha256>();
  static const kryvane::HashRef tiger = kryvane::HashRef::Of<kryvane::Tiger>();
  if (name == "haval") return &haval;
  if (name == "sha256") return &sha256;
  if (name == "tiger") return &tiger;
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: %s CIPHER HASH PASSPHRASE_FILE SOURCE TARGET\n", argv[0]);
    return 2;
  }
  const kryvane::CipherRef* cipherClass = FindCipher(argv[1]);
  const kryvane::HashRef* hashClass = FindHash(argv[2]);
  if (cipherClass == nullptr || hashClass == nullptr) {
    std::fprintf(stderr, "unknown cipher or hash\n");
    return 2;
  }
  // The self-tests check the library against known answers before it touches a file.
  if (!cipherClass->SelfTest() || !hashClass->SelfTest()) {
    std::fprintf(stderr, "self-test failed\n");
    return 1;
  }

  std::string passphrase;
  std::ifstream file(argv[3]);
  if (!std::getline(file, passphrase)) {
    std::fprintf(stderr, "%s: no passphrase\n", argv[3]);
    return 1;
  }
  if (passphrase.ends_with('\r')) passphrase.pop_back();

  const int in = ::open(argv[4], O_RDONLY | O_CLOEXEC);
  const int out = ::open(argv[5], O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (in < 0 || out < 0) {
    std::fprintf(stderr, "open: %s\n", std::strerror(errno));
    return 1;
  }
  try {
    // The key is the passphrase's digest cut to the cipher's largest key; the cipher chains
    // over the whole file, so the file is one stream.
    auto cipher = cipherClass->Create();
    cipher->InitFromPassphrase(passphrase, *hashClass);
    kryvane::SecureZero(passphrase.data(), passphrase.size());
    kryvane::FdSource source(in, argv[4]);
    kryvane::FdSink target(out, argv[5]);
    cipher->DecryptStream(source, target, std::numeric_limits<uint64_t>::max());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "decrypt: %s\n", e.what());
    ::unlink(argv[5]);
    return 1;
  }
  if (::close(out) != 0) {
    std::fprintf(stderr, "close: %s\n", std::strerror(errno));
    return 1;
  }
  ::close(in);
  return 0;
}
