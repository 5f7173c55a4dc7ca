// Secrets in memory. Secret: a passphrase or key of any length, move-only, kept in its own heap
// pages (never in an object's inline buffer, so a move leaves no copy behind), kept out of core
// dumps and swap where the system allows, and erased when it goes. SecretBytes<N>: key material
// of a fixed size (a digest, a file key, a scalar), inline and erased when it goes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "crypto/bytes.h"

namespace kryvane {

class Secret {
 public:
  Secret() = default;
  // Copies bytes in; implicit, so that a literal or a string can stand for a secret.
  Secret(std::string_view bytes);  // NOLINT(google-explicit-constructor)
  Secret(const char* text) : Secret(std::string_view(text)) {}         // NOLINT
  Secret(const std::string& text) : Secret(std::string_view(text)) {}  // NOLINT
  Secret(Secret&& other) noexcept;
  Secret& operator=(Secret&& other) noexcept;
  Secret(const Secret&) = delete;
  Secret& operator=(const Secret&) = delete;
  ~Secret();

  // An explicit copy, for the rare holder that needs one of its own.
  Secret Clone() const { return Secret(View()); }

  char* data() { return data_; }
  const char* data() const { return data_; }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::string_view View() const { return {data_, size_}; }
  // The same bytes, unsigned, for the primitives that take them so.
  std::span<uint8_t> Bytes() { return {reinterpret_cast<uint8_t*>(data_), size_}; }
  std::span<const uint8_t> Bytes() const {
    return {reinterpret_cast<const uint8_t*>(data_), size_};
  }

  void Append(std::string_view bytes);
  void Append(char c) { Append(std::string_view(&c, 1)); }
  // Shortens (erasing what is cut off) or lengthens with zero bytes.
  void Resize(std::size_t n);
  void Reserve(std::size_t capacity);
  // Erases the content; the storage stays for reuse.
  void Clear();

  friend bool operator==(const Secret& a, const Secret& b) { return a.View() == b.View(); }

 private:
  void Release();

  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

// Fixed-size key material. A copy is another SecretBytes, erased in its turn: the bytes never
// stand anywhere that is not erased when it goes.
template <std::size_t N>
struct SecretBytes {
  std::array<uint8_t, N> bytes{};

  SecretBytes() = default;
  SecretBytes(const SecretBytes&) = default;
  SecretBytes& operator=(const SecretBytes&) = default;
  ~SecretBytes() { SecureZero(bytes.data(), N); }

  uint8_t* data() { return bytes.data(); }
  const uint8_t* data() const { return bytes.data(); }
  static constexpr std::size_t size() { return N; }
  std::span<const uint8_t, N> span() const { return bytes; }
};

// Keeps the whole process out of core dumps (and from other processes of the user reading its
// memory): a program that holds a passphrase calls it first thing. Best effort.
void MakeProcessUndumpable();

}  // namespace kryvane
