// What the JSON mapping holds exactly, for everything here that prints JSON
// (agg-l3's outputs, report_diff's values): a string only when it is
// well-formed UTF-8, since JSON strings are text and the runtime's printer
// drops or copies other bytes; a NaN only with the bits "NaN" reads back as;
// and no record the schema does not know, which the printer leaves out.
// Everything else (integers, enumerations, other floats) reads back as the
// same bits.

#ifndef OSTREL_SRC_JSON_EXACTNESS_H_
#define OSTREL_SRC_JSON_EXACTNESS_H_

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace ostrel::json_exactness {

// The bits that "NaN" reads back as.
inline constexpr uint32_t kFloatNanBits = 0x7fc00000;
inline constexpr uint64_t kDoubleNanBits = 0x7ff8000000000000;

inline bool Holds(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return !std::isnan(value) || bits == kFloatNanBits;
}

inline bool Holds(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return !std::isnan(value) || bits == kDoubleNanBits;
}

// The offset of the first byte of `text` that does not belong to a
// well-formed UTF-8 sequence (overlong forms, surrogates and code points
// past U+10FFFF included), or npos.
inline size_t FirstNonUtf8(std::string_view text) {
  const auto in = [](unsigned char byte, unsigned char low,
                     unsigned char high) {
    return byte >= low && byte <= high;
  };
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const size_t size = text.size();
  size_t i = 0;
  while (i < size) {
    // Eight bytes at a time while they are ASCII, as most strings are.
    if (i + 8 <= size) {
      uint64_t eight;
      std::memcpy(&eight, bytes + i, 8);
      if ((eight & 0x8080808080808080) == 0) {
        i += 8;
        continue;
      }
    }
    const unsigned char lead = bytes[i];
    if (lead < 0x80) {
      ++i;
      continue;
    }
    // The range the second byte must lie in, and the sequence's length,
    // per lead byte (RFC 3629); the later bytes are all 80..BF.
    unsigned char low = 0x80, high = 0xbf;
    size_t length;
    if (in(lead, 0xc2, 0xdf)) {
      length = 2;
    } else if (in(lead, 0xe0, 0xef)) {
      length = 3;
      if (lead == 0xe0) low = 0xa0;
      if (lead == 0xed) high = 0x9f;
    } else if (in(lead, 0xf0, 0xf4)) {
      length = 4;
      if (lead == 0xf0) low = 0x90;
      if (lead == 0xf4) high = 0x8f;
    } else {
      return i;
    }
    if (i + length > size || !in(bytes[i + 1], low, high)) return i;
    for (size_t k = 2; k < length; ++k) {
      if (!in(bytes[i + k], 0x80, 0xbf)) return i;
    }
    i += length;
  }
  return std::string_view::npos;
}

}  // namespace ostrel::json_exactness

#endif  // OSTREL_SRC_JSON_EXACTNESS_H_
