// MD5 (RFC 1321) and the salted key digest the merge matches rows by.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace merge {

class Md5 {
 public:
  using Digest = std::array<std::uint8_t, 16>;

  Md5();
  void Update(const void* data, std::size_t size);
  void Update(std::string_view text) { Update(text.data(), text.size()); }
  Digest Final();  // closes the computation; Update must not follow

  static Digest Of(std::string_view text);
  static std::string Hex(const Digest& digest);  // 32 upper-case hex digits

 private:
  void Transform(const std::uint8_t block[64]);

  std::array<std::uint32_t, 4> state_;
  std::uint64_t length_ = 0;  // bytes hashed so far
  std::array<std::uint8_t, 64> buffer_{};
};

// The digest of a row key: MD5 of the key's bytes followed by a fixed salt, as 32 upper-case
// hexadecimal digits.
std::string KeyDigest(std::string_view key);

}  // namespace merge
