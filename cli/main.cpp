// The `linkferry` command line: parses arguments and runs one subcommand.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <exception>
#include <string>
#include <iostream>
#include <memory>
#include <system_error>
#include <vector>

#include "Command.h"
#include "foundation/DisplayText.h"
#include "foundation/Json.h"

namespace linkferry::cli {
namespace {

std::vector<CommandSetup>& registeredSetups() {
  static auto& setups = *new std::vector<CommandSetup>();
  return setups;
}

}  // namespace

RegisterCommand::RegisterCommand(CommandSetup setup) {
  registeredSetups().push_back(std::move(setup));
}

void printJson(const JsonValue& value) { std::cout << Json::encodePretty(value) << std::flush; }

// Messages echo what the user or a file gave (an argument, a link, a key), so each is escaped:
// it stays one line and cannot send the terminal commands.
void printError(std::string_view message) {
  std::cerr << "linkferry: " << DisplayText::escaped(message) << '\n';
}

int worst(int a, int b) { return std::max(a, b); }

namespace {

// CLI11's own messages in the program's style: a lower-case start (unless the first word is an
// abbreviation such as "URL"), no final period, and where to look next.
std::string styled(std::string message) {
  while (!message.empty() && (message.back() == '.' || message.back() == '\n')) message.pop_back();
  if (message.size() > 1 && std::isupper(static_cast<unsigned char>(message[0])) &&
      !std::isupper(static_cast<unsigned char>(message[1]))) {
    message[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(message[0])));
  }
  return message + " (see linkferry --help)";
}

// The arguments after the command word are blanked in our own memory once parsed, so that the
// process title ("ps", /proc/<pid>/cmdline) shows "linkferry launch" but not the link: links
// carry tokens, the title is readable by every user, and the relay that stays beside a launched
// browser is a copy of this process.
void hideArguments(int argc, char** argv) {
  for (int i = 2; i < argc; ++i) std::memset(argv[i], 0, std::strlen(argv[i]));
}

}  // namespace

int run(int argc, char** argv) {
  CLI::App program{"LinkFerry routes every link you click to the right browser, profile or app."};
  program.name("linkferry");
  program.set_version_flag("--version", "linkferry " LINKFERRY_VERSION);
  program.require_subcommand(1);

  std::vector<std::pair<CLI::App*, CommandAction>> commands;
  for (const CommandSetup& setup : registeredSetups()) {
    std::size_t before = program.get_subcommands({}).size();
    CommandAction action = setup(program);
    auto subcommands = program.get_subcommands({});
    if (subcommands.size() > before) commands.emplace_back(subcommands.back(), std::move(action));
  }

  if (argc < 2) {
    printError("a command is required (see linkferry --help)");
    return kInputError;
  }
  // CLI11 would only say that a subcommand is required; name the word it did not know instead.
  if (argv[1][0] != '-') {
    bool known = false;
    for (const auto& [subcommand, action] : commands) known |= subcommand->check_name(argv[1]);
    if (!known) {
      printError(std::string("unknown command \"") + argv[1] + "\" (see linkferry --help)");
      return kInputError;
    }
  }

  try {
    program.parse(argc, argv);
  } catch (const CLI::CallForHelp& help) {
    return program.exit(help);
  } catch (const CLI::CallForAllHelp& help) {
    return program.exit(help);
  } catch (const CLI::CallForVersion& version) {
    return program.exit(version);
  } catch (const CLI::ParseError& error) {
    printError(styled(error.what()));
    return kInputError;
  }
  hideArguments(argc, argv);

  for (auto& [subcommand, action] : commands) {
    if (!subcommand->parsed()) continue;
    try {
      return action();
    } catch (const InputError& error) {
      printError(error.what());
      return kInputError;
    } catch (const JsonError& error) {
      printError(error.what());
      return kInputError;
    } catch (const std::exception& error) {
      printError(error.what());
      return kInternalError;
    }
  }
  return kInputError;
}

}  // namespace linkferry::cli

int main(int argc, char** argv) { return linkferry::cli::run(argc, argv); }
