#include "safety/Punycode.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/Text.h"

namespace linkferry {
namespace {

struct Sample {
  const char* name;
  std::u32string unicode;
  const char* encoded;
};

// RFC 3492 section 7.1. Encodings are given as our encoder writes them (digits in lower case);
// the RFC's own mixed-case annotations are decoded separately below.
const std::vector<Sample>& rfcSamples() {
  static const std::vector<Sample> samples = {
      {"A Arabic",
       U"\u0644\u064A\u0647\u0645\u0627\u0628\u062A\u0643\u0644\u0645\u0648\u0634\u0639\u0631"
       U"\u0628\u064A\u061F",
       "egbpdaj6bu4bxfgehfvwxn"},
      {"B Chinese simplified", U"\u4ED6\u4EEC\u4E3A\u4EC0\u4E48\u4E0D\u8BF4\u4E2D\u6587",
       "ihqwcrb4cv8a8dqg056pqjye"},
      {"C Chinese traditional", U"\u4ED6\u5011\u7232\u4EC0\u9EBD\u4E0D\u8AAA\u4E2D\u6587",
       "ihqwctvzc91f659drss3x8bo0yb"},
      {"D Czech", U"Pro\u010Dprost\u011Bnemluv\u00ED\u010Desky", "Proprostnemluvesky-uyb24dma41a"},
      {"E Hebrew",
       U"\u05DC\u05DE\u05D4\u05D4\u05DD\u05E4\u05E9\u05D5\u05D8\u05DC\u05D0\u05DE\u05D3\u05D1"
       U"\u05E8\u05D9\u05DD\u05E2\u05D1\u05E8\u05D9\u05EA",
       "4dbcagdahymbxekheh6e0a7fei0b"},
      {"F Hindi",
       U"\u092F\u0939\u0932\u094B\u0917\u0939\u093F\u0928\u094D\u0926\u0940\u0915\u094D\u092F"
       U"\u094B\u0902\u0928\u0939\u0940\u0902\u092C\u094B\u0932\u0938\u0915\u0924\u0947\u0939"
       U"\u0948\u0902",
       "i1baa7eci9glrd9b2ae1bj0hfcgg6iyaf8o0a1dig0cd"},
      {"G Japanese",
       U"\u306A\u305C\u307F\u3093\u306A\u65E5\u672C\u8A9E\u3092\u8A71\u3057\u3066\u304F\u308C"
       U"\u306A\u3044\u306E\u304B",
       "n8jok5ay5dzabd5bym9f0cm5685rrjetr6pdxa"},
      {"H Korean",
       U"\uC138\uACC4\uC758\uBAA8\uB4E0\uC0AC\uB78C\uB4E4\uC774\uD55C\uAD6D\uC5B4\uB97C\uC774"
       U"\uD574\uD55C\uB2E4\uBA74\uC5BC\uB9C8\uB098\uC88B\uC744\uAE4C",
       "989aomsvi5e83db1d2a355cv1e0vak1dwrv93d5xbh15a0dt30a5jpsd879ccm6fea98c"},
      {"I Russian",
       U"\u043F\u043E\u0447\u0435\u043C\u0443\u0436\u0435\u043E\u043D\u0438\u043D\u0435\u0433"
       U"\u043E\u0432\u043E\u0440\u044F\u0442\u043F\u043E\u0440\u0443\u0441\u0441\u043A\u0438",
       "b1abfaaepdrnnbgefbadotcwatmq2g4l"},
      {"J Spanish", U"Porqu\u00E9nopuedensimplementehablarenEspa\u00F1ol",
       "PorqunopuedensimplementehablarenEspaol-fmd56a"},
      {"K Vietnamese", U"T\u1EA1isaoh\u1ECDkh\u00F4ngth\u1EC3ch\u1EC9n\u00F3iti\u1EBFngVi\u1EC7t",
       "TisaohkhngthchnitingVit-kjcr8268qyxafd2f1b9g"},
      {"L", U"3\u5E74B\u7D44\u91D1\u516B\u5148\u751F", "3B-ww4c5e180e575a65lsy2b"},
      {"M", U"\u5B89\u5BA4\u5948\u7F8E\u6075-with-SUPER-MONKEYS",
       "-with-SUPER-MONKEYS-pc58ag80a8qai00g7n9n"},
      {"N", U"Hello-Another-Way-\u305D\u308C\u305E\u308C\u306E\u5834\u6240",
       "Hello-Another-Way--fc4qua05auwb3674vfr0b"},
      {"O", U"\u3072\u3068\u3064\u5C4B\u6839\u306E\u4E0B2", "2-u9tlzr9756bt3uc0v"},
      {"P", U"Maji\u3067Koi\u3059\u308B5\u79D2\u524D", "MajiKoi5-783gue6qz075azm5e"},
      {"Q", U"\u30D1\u30D5\u30A3\u30FCde\u30EB\u30F3\u30D0", "de-jg4avhby1noc0d"},
      {"R", U"\u305D\u306E\u30B9\u30D4\u30FC\u30C9\u3067", "d9juau41awczczp"},
      {"S", U"-> $1.00 <-", "-> $1.00 <--"},
  };
  return samples;
}

TEST(Punycode, EncodesAndDecodesTheSamplesOfRFC3492) {
  for (const Sample& sample : rfcSamples()) {
    SCOPED_TRACE(sample.name);
    std::string unicode = Text::fromCodePoints(sample.unicode);
    EXPECT_EQ(Punycode::encode(unicode), sample.encoded);
    EXPECT_EQ(Punycode::decode(sample.encoded), unicode);
  }
  // The RFC writes some digits in upper case to carry case hints; digits read either way.
  EXPECT_EQ(Punycode::decode("b1abfaaepdrnnbgefbaDotcwatmq2g4l"),
            Text::fromCodePoints(rfcSamples()[8].unicode));
}

TEST(Punycode, DecodingRefusesWhatIsNoValidEncoding) {
  const std::vector<std::pair<const char*, std::string>> invalid = {
      {"non-ASCII basic part",
       "b\xC3\xBC"
       "cher-kva"},
      {"character that is no digit", "bcher-k_a"},
      {"input ends inside a number", "kv9"},
      {"running value passes 2^31-1", "99999999999"},
      {"surrogate U+D800", "ib9b"},
      {"surrogate U+DFFF", "zy0c"},
      {"beyond U+10FFFF", "en32g"},
  };
  for (const auto& [name, text] : invalid) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Punycode::decode(text), std::nullopt);
  }
  // The neighbours of the refused values decode.
  EXPECT_EQ(Punycode::decode("hb9b"), Text::fromCodePoints(U"\uD7FF"));
  EXPECT_EQ(Punycode::decode("dn32g"), Text::fromCodePoints(U"\U0010FFFF"));
  EXPECT_EQ(Punycode::decode(""), "");
  EXPECT_EQ(Punycode::decode("abc-"), "abc");
}

TEST(Punycode, EncodingRefusesInvalidUTF8AndOverflow) {
  EXPECT_EQ(Punycode::encode("b\xC3"), std::nullopt);         // truncated sequence
  EXPECT_EQ(Punycode::encode("\xED\xA0\x80"), std::nullopt);  // an encoded surrogate
  EXPECT_EQ(Punycode::encode("\xC0\xAF"), std::nullopt);      // overlong "/"
  // The first delta is (U+10FFFF - 128) times one more than the basic code points: with 3000
  // of them it passes 2^31-1.
  std::string huge(3000, 'a');
  EXPECT_EQ(Punycode::encode(huge + "\xF4\x8F\xBF\xBF"), std::nullopt);
  huge.resize(1000);
  EXPECT_NE(Punycode::encode(huge + "\xF4\x8F\xBF\xBF"), std::nullopt);
}

TEST(Punycode, LabelAndHostFormsLowerCaseAndPrefixOnlyNonASCII) {
  EXPECT_EQ(Punycode::toASCIILabel("B\xC3\xBC"
                                   "cher"),
            "xn--bcher-kva");
  EXPECT_EQ(Punycode::toASCIILabel("EXAMPLE"), "example");
  EXPECT_EQ(Punycode::toUnicodeLabel("XN--BCHER-KVA"),
            "b\xC3\xBC"
            "cher");
  EXPECT_EQ(Punycode::toUnicodeLabel("xn--ab_c"), std::nullopt);
  EXPECT_EQ(Punycode::toASCIIHost("WWW.B\xC3\xBC"
                                  "cher.DE."),
            "www.xn--bcher-kva.de.");
  EXPECT_EQ(Punycode::toUnicodeHost("www.xn--bcher-kva..de"),
            "www.b\xC3\xBC"
            "cher..de");
  EXPECT_EQ(Punycode::toUnicodeHost("a.xn--ib9b.com"), std::nullopt);
}

// libidn2's raw RFC 3492 codec (not its IDNA functions, which also map and normalise), reached
// through the versioned symbols it exports for its own tools.
class Libidn2Codec {
 public:
  using Encode = int (*)(std::size_t, const std::uint32_t[], std::size_t*, char[]);
  using Decode = int (*)(std::size_t, const char[], std::size_t*, std::uint32_t[]);

  Libidn2Codec() {
    m_handle = dlopen("libidn2.so.0", RTLD_NOW | RTLD_LOCAL);
    if (!m_handle) return;
    m_encode = reinterpret_cast<Encode>(dlvsym(m_handle, "_idn2_punycode_encode", "IDN2_0.0.0"));
    m_decode = reinterpret_cast<Decode>(dlvsym(m_handle, "_idn2_punycode_decode", "IDN2_0.0.0"));
  }
  ~Libidn2Codec() {
    if (m_handle) dlclose(m_handle);
  }
  bool available() const { return m_encode && m_decode; }

  std::optional<std::string> encode(const std::u32string& label) const {
    std::vector<std::uint32_t> input(label.begin(), label.end());
    std::string output(1024, '\0');
    std::size_t length = output.size();
    if (m_encode(input.size(), input.data(), &length, output.data()) != 0) return std::nullopt;
    output.resize(length);
    return output;
  }
  std::optional<std::u32string> decode(const std::string& text) const {
    std::vector<std::uint32_t> output(1024);
    std::size_t length = output.size();
    if (m_decode(text.size(), text.data(), &length, output.data()) != 0) return std::nullopt;
    return std::u32string(output.begin(), output.begin() + static_cast<std::ptrdiff_t>(length));
  }

 private:
  void* m_handle = nullptr;
  Encode m_encode = nullptr;
  Decode m_decode = nullptr;
};

// Labels mixing ASCII with scripts from every plane, including runs of one repeated character
// and characters far apart, which stress the bias adaptation.
std::u32string generatedLabel(std::mt19937& random) {
  static const std::vector<std::pair<char32_t, char32_t>> ranges = {
      {U'a', U'z'},       {U'0', U'9'},       {U'-', U'-'},        {0xA0, 0x24F},
      {0x370, 0x52F},     {0x590, 0x6FF},     {0x900, 0x97F},      {0x3040, 0x30FF},
      {0x4E00, 0x9FFF},   {0xAC00, 0xD7A3},   {0xE000, 0xFFFD},    {0x10000, 0x1FFFF},
      {0x1F300, 0x1FAFF}, {0x20000, 0x2FFFF}, {0xE0000, 0x10FFFF},
  };
  std::uniform_int_distribution<std::size_t> lengthOf(1, 40);
  std::uniform_int_distribution<std::size_t> rangeOf(0, ranges.size() - 1);
  std::size_t length = lengthOf(random);
  std::u32string label;
  std::size_t range = rangeOf(random);
  while (label.size() < length) {
    if (random() % 3 == 0) range = rangeOf(random);
    auto [low, high] = ranges[range];
    char32_t c = static_cast<char32_t>(low + random() % (high - low + 1));
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    label += c;
    if (random() % 8 == 0) label += c;
  }
  return label;
}

TEST(Punycode, AgreesWithLibidn2OnGeneratedLabels) {
  Libidn2Codec reference;
  ASSERT_TRUE(reference.available()) << "libidn2.so.0 with its raw Punycode codec is needed";
  std::mt19937 random(3492);
  for (int round = 0; round < 20000; ++round) {
    std::u32string label = generatedLabel(random);
    std::string utf8 = Text::fromCodePoints(label);
    SCOPED_TRACE(utf8);
    std::optional<std::string> ours = Punycode::encode(utf8);
    std::optional<std::string> theirs = reference.encode(label);
    ASSERT_TRUE(ours && theirs);
    ASSERT_EQ(*ours, *theirs);
    ASSERT_EQ(Punycode::decode(*theirs), utf8);
    // libidn2's decoder also refuses an all-ASCII result ("abc-"), which IDNA forbids in an
    // "xn--" label; plain RFC 3492 decoding does not.
    bool allASCII = std::all_of(label.begin(), label.end(), [](char32_t c) { return c < 0x80; });
    if (!allASCII) {
      ASSERT_EQ(reference.decode(*ours), label);
    }
  }
}

}  // namespace
}  // namespace linkferry
