#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The lookup table behind PublicSuffixList, as plain data: built from a list's text at run time,
// or written as constants by a build step (tools/GeneratePublicSuffixTable.cpp) so that a process
// finds the compiled-in list ready instead of parsing and sorting ten thousand rules first.
//
// Every rule of the three sets, and every shorter suffix of one at a label boundary, is a node of
// one open-addressing table keyed by the text's backward hash. A node's flags say which sets hold
// it; a node without flags only records that some longer rule ends with it, so a right-to-left
// walk over a host can stop at the first suffix that is no node: no rule can match further left.
// An international rule is a node under its Unicode form and under its ASCII form, so a host
// matches in either form.
namespace linkferry::PublicSuffixTable {

enum Flag : std::uint8_t { kRule = 1, kWildcard = 2, kException = 4 };

struct Slot {
  std::uint32_t tag = 0;     // the upper half of the text's hash
  std::uint32_t offset = 0;  // where the text starts in the arena
  std::uint32_t length = 0;  // 0 marks an empty slot: no node is empty
  std::uint8_t flags = 0;
};

// The text of one rule in the arena.
struct Piece {
  std::uint32_t offset = 0;
  std::uint32_t length = 0;
};

struct View {
  std::string_view arena;       // the texts of all rules, one after another
  std::span<const Slot> slots;  // a power of two of them, at most two thirds in use
  // The rules as parsed, lower-cased, each set sorted without duplicates: plain rules, wildcard
  // rules without their "*.", exception rules without their "!".
  std::span<const Piece> rules, wildcards, exceptions;
};

// A table built at run time, owning what its view points to.
struct Storage {
  std::string arena;
  std::vector<Slot> slots;
  std::vector<Piece> rules, wildcards, exceptions;

  View view() const { return View{arena, slots, rules, wildcards, exceptions}; }
};

// Parses the text of a list (the published format: one rule per line ending at any newline
// character, "//" comments, "*." wildcard rules, "!" exception rules). Never fails: lines that
// are no rule are skipped.
Storage parse(std::string_view contents);

// FNV-1a over the bytes of a text taken from its end towards its start, so that the hash of every
// suffix of a host falls out of one right-to-left pass, one label at a time.
inline constexpr std::uint64_t kHashSeed = 0xcbf29ce484222325ull;
inline constexpr std::uint64_t kHashPrime = 0x100000001b3ull;

inline std::uint64_t hashBackward(std::uint64_t hash, const char* begin, const char* end) {
  while (end != begin) {
    --end;
    hash = (hash ^ static_cast<unsigned char>(*end)) * kHashPrime;
  }
  return hash;
}

// The node whose text is `text` and whose backward hash is `hash`; nullptr when there is none.
const Slot* find(const View& table, std::uint64_t hash, std::string_view text);

inline std::string_view text(const View& table, Piece piece) {
  return table.arena.substr(piece.offset, piece.length);
}

// The table of resources/public_suffix_list.dat, defined by the source the build generates.
extern const View compiled;

}  // namespace linkferry::PublicSuffixTable
