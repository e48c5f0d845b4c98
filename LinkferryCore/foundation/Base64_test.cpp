#include "foundation/Base64.h"

#include <gtest/gtest.h>

namespace linkferry {
namespace {

struct Vector {
  const char* bytes;
  const char* encoded;
};

// RFC 4648 section 10.
constexpr Vector kRFC4648[] = {{"", ""},           {"f", "Zg=="},         {"fo", "Zm8="},
                               {"foo", "Zm9v"},    {"foob", "Zm9vYg=="},  {"fooba", "Zm9vYmE="},
                               {"foobar", "Zm9vYmFy"}};

TEST(Base64, EncodesAndDecodesTheRFCVectors) {
  for (const Vector& vector : kRFC4648) {
    SCOPED_TRACE(vector.bytes);
    EXPECT_EQ(Base64::encode(vector.bytes), vector.encoded);
    EXPECT_EQ(Base64::decode(vector.encoded), vector.bytes);
    std::string unpadded = vector.encoded;
    unpadded.erase(unpadded.find_last_not_of('=') + 1);
    EXPECT_EQ(Base64::encodeURLUnpadded(vector.bytes), unpadded);
    EXPECT_EQ(Base64::decodeURLUnpadded(unpadded), vector.bytes);
  }
}

TEST(Base64, URLSafeAlphabetReplacesPlusAndSlash) {
  std::string bytes = "\xfb\xff\xbf";
  EXPECT_EQ(Base64::encode(bytes), "+/+/");
  EXPECT_EQ(Base64::encodeURLUnpadded(bytes), "-_-_");
  EXPECT_EQ(Base64::decodeURLUnpadded("-_-_"), bytes);
  EXPECT_EQ(Base64::decodeURLUnpadded("+/+/"), std::nullopt);
  EXPECT_EQ(Base64::decode("-_-_"), std::nullopt);
}

TEST(Base64, RejectsMalformedText) {
  for (const char* text : {"Zg=", "Zg", "Z===", "Zm9v!", "Zm 9v", "=Zm9", "Zh==", "Zm9=Yg==",
                           "Zm9vYg==="}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Base64::decode(text), std::nullopt);
  }
  for (const char* text : {"Z", "Zh", "Zm9vY", "Zm9v="}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Base64::decodeURLUnpadded(text), std::nullopt);
  }
}

TEST(Base64, RoundTripsEveryByteValue) {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
  for (std::size_t length = 0; length <= bytes.size(); length += 37) {
    std::string part = bytes.substr(0, length);
    EXPECT_EQ(Base64::decode(Base64::encode(part)), part);
    EXPECT_EQ(Base64::decodeURLUnpadded(Base64::encodeURLUnpadded(part)), part);
  }
}

}  // namespace
}  // namespace linkferry
