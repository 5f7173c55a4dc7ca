// Raw CBC speed of each cipher as the file job drives it: one thread, in-place Encrypt and
// Decrypt calls of 8192 bytes on one chain. Prints one line per cipher:
//   NAME ENCRYPT_MB_S DECRYPT_MB_S
// in decimal megabytes per second of wall time, for bench/compare.sh to set beside other tools.
//   kryvane_speed [--portable] [--cpu] [SECONDS_PER_FIGURE] [SHORT_NAME ...]
// (default 1 second, every cipher; --portable: without the processor-specific paths, the code a
// processor without them, or WebAssembly, runs; --cpu divides by the thread's processor time
// instead, as `openssl speed` does without -elapsed: steadier on a machine others are using)
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "app/catalogue.h"
#include "crypto/cpu.h"

namespace {

using Clock = std::chrono::steady_clock;

bool gCpuTime = false;

double Now() {
  if (gCpuTime) {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
  }
  return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

// Megabytes per second of wall time over at least `seconds`, after a short warm-up; the best of
// three such windows, since on a shared machine interference only ever slows a window down.
double MegabytesPerSecond(kryvane::Cipher& c, bool encrypt, double seconds) {
  std::vector<uint8_t> buf(kryvane::Cipher::kStreamChunk, 0x33);
  auto call = [&] {
    if (encrypt) {
      c.Encrypt(buf.data(), buf.data(), buf.size());
    } else {
      c.Decrypt(buf.data(), buf.data(), buf.size());
    }
  };
  for (int i = 0; i < 64; ++i) call();
  double best = 0;
  for (int window = 0; window < 3; ++window) {
    uint64_t calls = 0;
    const double start = Now();
    double elapsed = 0;
    do {
      for (int i = 0; i < 32; ++i) call();
      calls += 32;
      elapsed = Now() - start;
    } while (elapsed < seconds);
    best = std::max(best, double(calls) * double(buf.size()) / elapsed / 1e6);
  }
  volatile uint8_t sink = buf[0];
  (void)sink;
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 1.0;
  std::vector<std::string> names;
  int arg = 1;
  bool bad = false;
  for (; argc > arg && std::string_view(argv[arg]).starts_with("--"); ++arg) {
    if (std::string_view(argv[arg]) == "--portable") {
      kryvane::cpu::Limit(0);
    } else if (std::string_view(argv[arg]) == "--cpu") {
      gCpuTime = true;
    } else {
      bad = true;
    }
  }
  if (argc > arg) seconds = std::atof(argv[arg++]);
  for (; arg < argc; ++arg) names.emplace_back(argv[arg]);
  if (bad || seconds <= 0) {
    std::fprintf(
        stderr,
        "usage: kryvane_speed [--portable] [--cpu] [SECONDS_PER_FIGURE] [SHORT_NAME ...]\n");
    return 2;
  }
  for (const kryvane::CipherEntry& e : kryvane::CipherCatalogue()) {
    const std::string name(e.shortName);
    if (!names.empty() && std::find(names.begin(), names.end(), name) == names.end()) continue;
    auto cipher = e.cipher.Create();
    // The largest key up to 256 bits: full rounds for CAST-128, AES-256 for Rijndael.
    std::vector<uint8_t> key(64, 0x5A);
    cipher->Init(key.data(), std::min<uint32_t>(uint32_t(e.cipher.maxKeySize), 256));
    const double enc = MegabytesPerSecond(*cipher, true, seconds);
    const double dec = MegabytesPerSecond(*cipher, false, seconds);
    std::printf("%s %.1f %.1f\n", name.c_str(), enc, dec);
    std::fflush(stdout);
  }
  return 0;
}
