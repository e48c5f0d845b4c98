#include "routing/LinkSchemes.h"

#include "foundation/Text.h"

namespace linkferry::LinkSchemes {
namespace {

bool isASCIILetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isASCIIDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

const std::vector<LinkScheme>& all() {
  static const auto& schemes = *new std::vector<LinkScheme>{
      {"mailto", "Email addresses"},
      {"tel", "Phone numbers"},
      {"sms", "Text messages"},
      {"facetime", "FaceTime calls"},
      {"facetime-audio", "FaceTime audio calls"},
      {"webcal", "Calendar subscriptions"},
      {"zoommtg", "Zoom meetings"},
      {"msteams", "Microsoft Teams"},
      {"slack", "Slack"},
      {"discord", "Discord"},
      {"tg", "Telegram"},
      {"whatsapp", "WhatsApp"},
      {"spotify", "Spotify"},
      {"ssh", "SSH"},
      {"sftp", "SFTP"},
      {"ftp", "FTP"},
      {"magnet", "Magnet links"},
      {"vscode", "Visual Studio Code"},
      {"figma", "Figma"},
      {"notion", "Notion"},
  };
  return schemes;
}

const std::set<std::string, std::less<>>& reserved() {
  static const auto& schemes = *new std::set<std::string, std::less<>>{
      "http",       "https", "file",  "linkferry", "linkferry-helper",
      "javascript", "data",  "about", "blob",      "vbscript",
  };
  return schemes;
}

std::optional<LinkScheme> find(const std::optional<std::string_view>& scheme) {
  if (!scheme) return std::nullopt;
  const std::string lowered = Text::lowercased(*scheme);
  for (const LinkScheme& entry : all()) {
    if (entry.scheme == lowered) return entry;
  }
  return std::nullopt;
}

bool isOtherLink(const std::optional<std::string_view>& scheme) {
  if (!scheme) return false;
  const std::string lowered = Text::lowercased(*scheme);
  return !lowered.empty() && lowered != "mailto" && !reserved().contains(lowered);
}

bool isValidCustom(std::string_view scheme) {
  // Lower-cased byte by byte: Unicode lower-casing would turn the Kelvin sign into an ASCII "k" and
  // let a scheme pass that no program registers under the text the user typed. Every valid
  // scheme is ASCII, so counting bytes counts characters.
  const std::string lowered = Text::asciiLowercased(scheme);
  if (lowered.size() < 2 || lowered.size() > 32) return false;
  if (reserved().contains(lowered)) return false;
  if (!isASCIILetter(lowered.front())) return false;
  for (char c : lowered) {
    if (!isASCIILetter(c) && !isASCIIDigit(c) && c != '+' && c != '.' && c != '-') return false;
  }
  return true;
}

}  // namespace linkferry::LinkSchemes
