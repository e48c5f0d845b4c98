#include "safety/Punycode.h"

#include <cstdint>
#include <vector>

#include "foundation/Text.h"

namespace linkferry::Punycode {
namespace {

// RFC 3492 section 5.
constexpr std::uint64_t kBase = 36;
constexpr std::uint64_t kTMin = 1;
constexpr std::uint64_t kTMax = 26;
constexpr std::uint64_t kSkew = 38;
constexpr std::uint64_t kDamp = 700;
constexpr std::uint64_t kInitialBias = 72;
constexpr std::uint64_t kInitialN = 128;
constexpr char kDelimiter = '-';
// Every running value stays within a signed 32-bit integer; anything beyond is an overflow.
constexpr std::uint64_t kMaxInt = 2147483647;

std::uint64_t adapt(std::uint64_t delta, std::uint64_t numPoints, bool firstTime) {
  delta = firstTime ? delta / kDamp : delta / 2;
  delta += delta / numPoints;
  std::uint64_t k = 0;
  while (delta > ((kBase - kTMin) * kTMax) / 2) {
    delta /= kBase - kTMin;
    k += kBase;
  }
  return k + (kBase - kTMin + 1) * delta / (delta + kSkew);
}

std::uint64_t threshold(std::uint64_t k, std::uint64_t bias) {
  if (k <= bias) return kTMin;
  if (k >= bias + kTMax) return kTMax;
  return k - bias;
}

char encodeDigit(std::uint64_t digit) {
  return digit < 26 ? static_cast<char>('a' + digit) : static_cast<char>('0' + (digit - 26));
}

// The value of a base-36 digit, or kBase when the character is none.
std::uint64_t decodeDigit(char c) {
  if (c >= 'a' && c <= 'z') return static_cast<std::uint64_t>(c - 'a');
  if (c >= 'A' && c <= 'Z') return static_cast<std::uint64_t>(c - 'A');
  if (c >= '0' && c <= '9') return static_cast<std::uint64_t>(c - '0') + 26;
  return kBase;
}

// Strict UTF-8 (RFC 3629): no overlong forms, no surrogates, nothing above U+10FFFF.
std::optional<std::vector<char32_t>> utf8CodePoints(std::string_view text) {
  std::vector<char32_t> result;
  result.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      result.push_back(byte);
      ++i;
      continue;
    }
    std::size_t length;
    char32_t value;
    char32_t minimum;
    if ((byte & 0xE0) == 0xC0) {
      length = 2, value = byte & 0x1F, minimum = 0x80;
    } else if ((byte & 0xF0) == 0xE0) {
      length = 3, value = byte & 0x0F, minimum = 0x800;
    } else if ((byte & 0xF8) == 0xF0) {
      length = 4, value = byte & 0x07, minimum = 0x10000;
    } else {
      return std::nullopt;
    }
    if (text.size() - i < length) return std::nullopt;
    for (std::size_t j = 1; j < length; ++j) {
      auto next = static_cast<unsigned char>(text[i + j]);
      if ((next & 0xC0) != 0x80) return std::nullopt;
      value = (value << 6) | (next & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
      return std::nullopt;
    }
    result.push_back(value);
    i += length;
  }
  return result;
}

void appendUTF8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool isASCII(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

template <typename Convert>
std::optional<std::string> convertLabels(std::string_view host, Convert convert) {
  std::string result;
  result.reserve(host.size());
  std::size_t start = 0;
  while (true) {
    std::size_t dot = host.find('.', start);
    std::string_view label =
        host.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
    std::optional<std::string> converted = convert(label);
    if (!converted) return std::nullopt;
    result += *converted;
    if (dot == std::string_view::npos) break;
    result += '.';
    start = dot + 1;
  }
  return result;
}

}  // namespace

std::optional<std::string> encode(std::string_view label) {
  std::optional<std::vector<char32_t>> input = utf8CodePoints(label);
  if (!input) return std::nullopt;

  std::string output;
  for (char32_t c : *input) {
    if (c < 0x80) output += static_cast<char>(c);
  }
  const std::uint64_t basicCount = output.size();
  std::uint64_t handled = basicCount;
  if (basicCount > 0) output += kDelimiter;

  std::uint64_t n = kInitialN;
  std::uint64_t delta = 0;
  std::uint64_t bias = kInitialBias;
  while (handled < input->size()) {
    std::uint64_t m = kMaxInt + 1;
    for (char32_t c : *input) {
      if (c >= n && c < m) m = c;
    }
    if ((m - n) > (kMaxInt - delta) / (handled + 1)) return std::nullopt;
    delta += (m - n) * (handled + 1);
    n = m;
    for (char32_t c : *input) {
      if (c < n && ++delta > kMaxInt) return std::nullopt;
      if (c != n) continue;
      std::uint64_t q = delta;
      for (std::uint64_t k = kBase;; k += kBase) {
        std::uint64_t t = threshold(k, bias);
        if (q < t) break;
        output += encodeDigit(t + (q - t) % (kBase - t));
        q = (q - t) / (kBase - t);
      }
      output += encodeDigit(q);
      bias = adapt(delta, handled + 1, handled == basicCount);
      delta = 0;
      ++handled;
    }
    if (++delta > kMaxInt) return std::nullopt;
    ++n;
  }
  return output;
}

std::optional<std::string> decode(std::string_view label) {
  std::size_t delimiter = label.rfind(kDelimiter);
  std::string_view basic =
      delimiter == std::string_view::npos ? std::string_view() : label.substr(0, delimiter);
  std::vector<char32_t> output;
  output.reserve(label.size());
  for (char c : basic) {
    if (static_cast<unsigned char>(c) >= 0x80) return std::nullopt;
    output.push_back(static_cast<char32_t>(c));
  }

  std::size_t in = delimiter == std::string_view::npos ? 0 : delimiter + 1;
  std::uint64_t n = kInitialN;
  std::uint64_t i = 0;
  std::uint64_t bias = kInitialBias;
  while (in < label.size()) {
    const std::uint64_t oldI = i;
    std::uint64_t w = 1;
    for (std::uint64_t k = kBase;; k += kBase) {
      if (in >= label.size()) return std::nullopt;
      std::uint64_t digit = decodeDigit(label[in++]);
      if (digit >= kBase) return std::nullopt;
      if (digit > (kMaxInt - i) / w) return std::nullopt;
      i += digit * w;
      std::uint64_t t = threshold(k, bias);
      if (digit < t) break;
      if (w > kMaxInt / (kBase - t)) return std::nullopt;
      w *= kBase - t;
    }
    const std::uint64_t count = output.size() + 1;
    bias = adapt(i - oldI, count, oldI == 0);
    if (i / count > kMaxInt - n) return std::nullopt;
    n += i / count;
    i %= count;
    if (n < 0x80 || (n >= 0xD800 && n <= 0xDFFF) || n >= 0x110000) return std::nullopt;
    output.insert(output.begin() + static_cast<std::ptrdiff_t>(i), static_cast<char32_t>(n));
    ++i;
  }

  std::string result;
  result.reserve(output.size() * 2);
  for (char32_t c : output) appendUTF8(result, c);
  return result;
}

std::optional<std::string> toASCIILabel(std::string_view label) {
  std::string lowered = Text::lowercased(label);
  if (isASCII(lowered)) return lowered;
  std::optional<std::string> encoded = encode(lowered);
  if (!encoded) return std::nullopt;
  return std::string(acePrefix) + *encoded;
}

std::optional<std::string> toUnicodeLabel(std::string_view label) {
  std::string lowered = Text::lowercased(label);
  if (!Text::startsWith(lowered, acePrefix)) return lowered;
  return decode(std::string_view(lowered).substr(acePrefix.size()));
}

std::optional<std::string> toASCIIHost(std::string_view host) {
  return convertLabels(host, toASCIILabel);
}

std::optional<std::string> toUnicodeHost(std::string_view host) {
  return convertLabels(host, toUnicodeLabel);
}

}  // namespace linkferry::Punycode
