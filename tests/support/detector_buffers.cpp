#include "tests/support/detector_buffers.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "tests/support/hex.h"

namespace kryvane::test {
namespace {

using Bytes = std::vector<uint8_t>;

// \n, \r, \t, \\ and \xHH; everything else as it is.
Bytes Unescape(const std::string& s) {
  Bytes out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 >= s.size()) {
      out.push_back(uint8_t(s[i]));
      continue;
    }
    const char c = s[++i];
    if (c == 'n') out.push_back('\n');
    if (c == 'r') out.push_back('\r');
    if (c == 't') out.push_back('\t');
    if (c == '\\') out.push_back('\\');
    if (c == 'x') {
      out.push_back(uint8_t(std::stoi(s.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    }
  }
  return out;
}

// UTF-8 to UTF-16 code units (the table's texts are in the Basic Multilingual Plane).
Bytes ToUtf16(const Bytes& utf8, bool bigEndian, bool bom) {
  std::vector<uint16_t> units;
  if (bom) units.push_back(0xFEFF);
  for (std::size_t i = 0; i < utf8.size();) {
    const uint8_t b = utf8[i];
    uint32_t cp;
    if (b < 0x80) {
      cp = b;
      i += 1;
    } else if (b < 0xE0) {
      cp = (b & 0x1Fu) << 6 | (utf8[i + 1] & 0x3Fu);
      i += 2;
    } else {
      cp = (b & 0x0Fu) << 12 | (utf8[i + 1] & 0x3Fu) << 6 | (utf8[i + 2] & 0x3Fu);
      i += 3;
    }
    units.push_back(uint16_t(cp));
  }
  Bytes out;
  for (const uint16_t u : units) {
    out.push_back(uint8_t(bigEndian ? u >> 8 : u));
    out.push_back(uint8_t(bigEndian ? u : u >> 8));
  }
  return out;
}

// A binary record file: small little-endian counters, flags and zero padding.
void AppendStructured(Bytes& b, std::size_t size) {
  uint32_t i = 0;
  while (b.size() < size) {
    const uint8_t record[16] = {uint8_t(i),
                                uint8_t(i >> 8),
                                0,
                                0,
                                uint8_t(i % 3),
                                0,
                                0,
                                0,
                                uint8_t(i * 7),
                                1,
                                0,
                                0,
                                0,
                                0,
                                0,
                                0};
    for (const uint8_t v : record) {
      if (b.size() < size) b.push_back(v);
    }
    ++i;
  }
}

}  // namespace

Bytes BuildDetectorBuffer(const VecRecord& r) {
  Bytes b;
  if (r.Has("Hex")) b = FromHex(r.Get("Hex"));
  if (r.Has("Text")) {
    Bytes text = Unescape(r.Get("Text"));
    if (r.Has("Utf16")) {
      const std::string form = r.Get("Utf16");
      text = ToUtf16(text, form == "be", form == "le-bom");
    }
    const int repeat = r.Has("Repeat") ? std::stoi(r.Get("Repeat")) : 1;
    for (int k = 0; k < repeat; ++k) b.insert(b.end(), text.begin(), text.end());
  }
  if (r.Has("Then")) {
    std::istringstream then(r.Get("Then"));
    std::string kind;
    std::size_t size = 0;
    then >> kind >> size;
    std::mt19937 rng(uint32_t(r.line));
    if (kind == "random") {
      while (b.size() < size) b.push_back(uint8_t(rng()));
    } else if (kind == "zeros") {
      b.resize(std::max(b.size(), size));
    } else if (kind == "structured") {
      AppendStructured(b, size);
    } else {
      ADD_FAILURE() << "line " << r.line << ": unknown fill " << kind;
    }
  }
  if (r.Has("Put")) {
    const std::string& put = r.Get("Put");
    const std::size_t space = put.find(' ');
    const std::size_t at = std::stoul(put.substr(0, space));
    const Bytes text = Unescape(put.substr(space + 1));
    b.resize(std::max(b.size(), at + text.size()));
    std::copy(text.begin(), text.end(), b.begin() + std::ptrdiff_t(at));
  }
  return b;
}

}  // namespace kryvane::test
