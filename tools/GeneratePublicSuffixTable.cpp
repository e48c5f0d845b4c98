// Writes the lookup table of a public suffix list as C++ constants:
//   GeneratePublicSuffixTable <public_suffix_list.dat> <output.cpp>
// The build compiles the output into the library as PublicSuffixTable::compiled. The table comes
// from the same parser the library runs on any other list, so both answer alike.
#include <cstdio>
#include <exception>
#include <string>

#include "foundation/Files.h"
#include "safety/PublicSuffixTable.h"

using namespace linkferry;

namespace {

// A C++ string literal, split into lines; every byte that is not plain printable ASCII as a
// three-digit octal escape, which no following character can extend.
std::string literal(std::string_view bytes) {
  std::string out = "\"";
  std::size_t column = 0;
  for (char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && c != '"' && c != '\\' && c != '?') {
      out += c;
      ++column;
    } else {
      const char escape[] = {'\\', static_cast<char>('0' + (byte >> 6)),
                             static_cast<char>('0' + ((byte >> 3) & 7)),
                             static_cast<char>('0' + (byte & 7)), 0};
      out += escape;
      column += 4;
    }
    if (column >= 96) {
      out += "\"\n    \"";
      column = 0;
    }
  }
  return out + "\"";
}

std::string pieces(std::string_view name, std::span<const PublicSuffixTable::Piece> all) {
  std::string out = "constexpr Piece " + std::string(name) + "[] = {";
  for (std::size_t i = 0; i < all.size(); ++i) {
    out += i % 8 == 0 ? "\n    " : " ";
    out += "{" + std::to_string(all[i].offset) + ", " + std::to_string(all[i].length) + "},";
  }
  // An empty set still needs an array to point at.
  if (all.empty()) out += "{0, 0}";
  return out + "};\n";
}

std::string source(const PublicSuffixTable::View& table) {
  std::string out =
      "// Generated from resources/public_suffix_list.dat by tools/GeneratePublicSuffixTable.cpp;\n"
      "// do not edit.\n"
      "#include \"safety/PublicSuffixTable.h\"\n\n"
      "namespace linkferry::PublicSuffixTable {\nnamespace {\n\n";
  out += "constexpr char kArena[] =\n    " + literal(table.arena) + ";\n\n";
  out += "constexpr Slot kSlots[] = {";
  for (std::size_t i = 0; i < table.slots.size(); ++i) {
    const PublicSuffixTable::Slot& slot = table.slots[i];
    out += i % 4 == 0 ? "\n    " : " ";
    if (slot.length == 0) {
      out += "{},";
    } else {
      out += "{" + std::to_string(slot.tag) + "u, " + std::to_string(slot.offset) + ", " +
             std::to_string(slot.length) + ", " + std::to_string(slot.flags) + "},";
    }
  }
  out += "};\n\n";
  out += pieces("kRules", table.rules);
  out += pieces("kWildcards", table.wildcards);
  out += pieces("kExceptions", table.exceptions);
  out += "\n}  // namespace\n\n";
  out +=
      "constinit const View compiled{\n"
      "    std::string_view(kArena, " +
      std::to_string(table.arena.size()) + "), kSlots,\n" + "    std::span(kRules, " +
      std::to_string(table.rules.size()) + "),\n" + "    std::span(kWildcards, " +
      std::to_string(table.wildcards.size()) + "),\n" + "    std::span(kExceptions, " +
      std::to_string(table.exceptions.size()) + ")};\n\n";
  out += "}  // namespace linkferry::PublicSuffixTable\n";
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: GeneratePublicSuffixTable <list.dat> <output.cpp>\n");
    return 2;
  }
  try {
    const std::string list = Files::read(argv[1]);
    const PublicSuffixTable::Storage table = PublicSuffixTable::parse(list);
    const std::string generated = source(table.view());
    // An unchanged table leaves the output untouched, so nothing is compiled again.
    if (Files::readIfExists(argv[2]) != generated) Files::writeAtomically(argv[2], generated);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "GeneratePublicSuffixTable: %s\n", failure.what());
    return 1;
  }
  return 0;
}
