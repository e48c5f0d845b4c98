#include "QuickOpen.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>

#include "ClickOutcome.h"
#include "ProgramIdentity.h"
#include "ServiceClient.h"
#include "foundation/Files.h"
#include "foundation/Json.h"
#include "foundation/Process.h"
#include "foundation/URL.h"

namespace linkferry::QuickOpen {

namespace {

// How long a click the service may show in its window waits for its answer: the user's choice.
constexpr std::chrono::milliseconds kWindowClickTimeout = std::chrono::hours(24);

// A scheme and its colon, as the service will want to find one; anything else goes to
// `linkferry open`, which explains what is wrong.
bool hasScheme(const std::string& text) {
  const std::size_t colon = text.find(':');
  if (colon == 0 || colon == std::string::npos || !std::isalpha(static_cast<unsigned char>(text[0])))
    return false;
  for (std::size_t i = 1; i < colon; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return false;
  }
  return true;
}

// The `file:` link of a file's path, made absolute against this process's working folder (the
// service's is another); nothing when no such file exists, which `linkferry open` then reports.
std::optional<std::string> fileLink(const std::string& path) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error).lexically_normal();
  if (path.empty() || error || !std::filesystem::exists(absolute, error)) return std::nullopt;
  return URL::fileLink(absolute.string());
}

// The `linkferry` program beside this one.
std::filesystem::path linkferryProgram() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return (error ? std::filesystem::path() : self.parent_path()) / "linkferry";
}

// Replaces this process with `linkferry open` and the same arguments, plus `extra` before them.
[[noreturn]] void handOver(const std::vector<std::string>& arguments,
                           const std::vector<std::string>& extra = {}) {
  const std::filesystem::path program = linkferryProgram();
  std::vector<std::string> words = {program.string(), "open"};
  words.insert(words.end(), extra.begin(), extra.end());
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  ::execv(argv[0], argv.data());
  std::cerr << "linkferry-open: cannot run " << program.string() << ": " << std::strerror(errno)
            << '\n';
  std::_Exit(2);
}

// Without a terminal to ask on, the service may show the picker in the window it keeps ready and
// answer with what the user chose; that answer waits for the user, not only for the service.
JsonValue exchangeClick(ServiceClient::Connection& connection, const Arguments& arguments,
                        const std::map<std::string, std::string>& environment) {
  JsonValue request = ServiceClient::clickRequest(arguments.link, arguments.pick, arguments.dryRun,
                                                  arguments.sourceApp, environment);
  const bool window = ::isatty(STDIN_FILENO) != 1;
  if (window) request["window"] = true;
  return connection.exchange(request,
                             window ? kWindowClickTimeout : std::chrono::milliseconds(
                                                                ServiceClient::kClickTimeout));
}

}  // namespace

std::optional<Arguments> parse(const std::vector<std::string>& arguments) {
  Arguments parsed;
  bool haveLink = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& word = arguments[i];
    if (word == "--dry-run") {
      parsed.dryRun = true;
    } else if (word == "--pick") {
      parsed.pick = true;
    } else if (word == "--json") {
      parsed.json = true;
    } else if (word == "--start-service") {
      // Only matters when no service answers, and then `linkferry open` is given it.
    } else if (word == "--source-app" && i + 1 < arguments.size()) {
      parsed.sourceApp = arguments[++i];
    } else if (word.starts_with("--source-app=")) {
      parsed.sourceApp = word.substr(std::strlen("--source-app="));
    } else if (word.starts_with("-") || haveLink) {
      return std::nullopt;
    } else if (hasScheme(word)) {
      parsed.link = word;
      haveLink = true;
    } else if (std::optional<std::string> link = fileLink(word)) {
      parsed.link = *link;
      haveLink = true;
    } else {
      return std::nullopt;
    }
  }
  if (!haveLink) return std::nullopt;
  return parsed;
}

int run(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const std::optional<Arguments> parsed = parse(arguments);
  if (!parsed) handOver(arguments);
  const std::map<std::string, std::string> environment = Process::currentEnvironment();
  std::optional<ServiceClient::Served> served = [&]() -> std::optional<ServiceClient::Served> {
    try {
      return ServiceClient::Connection::openServed(environment, Files::home());
    } catch (const std::exception&) {
      return std::nullopt;  // no home to find the data folder by: `linkferry open` says so
    }
  }();
  // A service of another build than the `linkferry` beside this program: `linkferry open`
  // replaces it.
  if (!served ||
      ProgramIdentity::from(served->status) != ProgramIdentity::ofProgram(linkferryProgram())) {
    handOver(arguments);
  }
  std::optional<ServiceClient::Connection> connection = std::move(served->connection);

  ClickOutcome outcome;
  try {
    const JsonValue answer = exchangeClick(*connection, *parsed, environment);
    outcome = ClickOutcome::fromServiceAnswer(answer);
  } catch (const ServiceClient::Refused&) {
    // Nothing was routed: `linkferry open` tries again and explains the refusal.
    handOver(arguments);
  } catch (const std::exception& error) {
    // The click may have been routed: reported, never sent twice.
    outcome = ClickOutcome::failed(parsed->link, error.what());
  }
  if (outcome.status == "pick") {
    handOver(arguments, {"--service-picker", Json::encodeCompact(outcome.toJson())});
  }
  if (parsed->json) {
    std::cout << Json::encodePretty(JsonValue::array({outcome.toJson()})) << std::flush;
  } else {
    std::cout << outcome.text() << std::flush;
  }
  return outcome.exitStatus();
}

}  // namespace linkferry::QuickOpen
