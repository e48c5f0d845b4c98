#pragma once

#include <string>
#include <string_view>

// Text from outside (a window title, a link's host, an argument) made safe to show on a terminal,
// in a log line or in a window. It depends on nothing but the C++ library, so the click program
// that loads only the C library can use it too.
namespace linkferry::DisplayText {

// True for the code points `escaped` writes as escapes: C0 controls (tab and newline included),
// DEL, C1 controls (U+0080–U+009F), the bidirectional controls (U+061C, U+200E, U+200F,
// U+202A–U+202E, U+2066–U+2069) and the line and paragraph separators U+2028 and U+2029.
bool isControl(char32_t codePoint) noexcept;

// `text` with every control (see `isControl`) and every byte that is not part of valid UTF-8
// written as a visible escape, so that it can neither move the cursor, start a terminal command
// (ESC, OSC), begin a line of its own nor reorder the text around it:
//   "a\x1b]0;b" -> "a\\x1b]0;b", "\xff" -> "\\xff", "x\u202Ey" -> "x\\u{202E}y".
// A byte (C0, DEL, invalid UTF-8) is written "\xHH" in lower-case hex; a code point "\u{HHHH}"
// in upper-case hex. A backslash becomes "\\", so an escape in the result always stands for the
// character it names, never for itself. Other text, any script included, is unchanged.
std::string escaped(std::string_view text);

// True for the code points a reader could take for something else in a link: controls (see
// `isControl`), spaces and invisible characters (U+00A0, U+200B, U+FEFF, variation selectors,
// tags, …), look-alikes of the characters that give a link its structure ("/", "?", "#", "&",
// "=", "%", "@", ".", ":", e.g. U+2044 FRACTION SLASH, U+FF1F, U+2024), private-use code points,
// noncharacters and U+FFFD.
bool isDeceptiveInLink(char32_t codePoint) noexcept;

// `text` as it is when `escaped` would change nothing but its backslashes, else `escaped(text)`:
// for a command line shown to be pasted into a shell, whose quoting has backslashes of its own.
// One with a control character is shown escaped, for reading rather than pasting.
std::string pasteable(std::string_view text);

// A percent-encoded piece of a link (a path, a query, a fragment, user information) written for
// reading: every run of escapes that spells a character beyond ASCII in UTF-8 becomes that
// character ("/stra%C3%9Fe" -> "/straße"), unless it is one `isDeceptiveInLink` names. Escapes of
// ASCII characters stay as written ("%2F" is not "/", "%20" shows where a blank is), and so do
// escapes that are no UTF-8 and malformed escapes. Never fails; linear in the text.
std::string readablePercentEncoding(std::string_view text);

}  // namespace linkferry::DisplayText
