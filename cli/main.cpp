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
std::string styled(std::string message, std::string_view help) {
  while (!message.empty() && (message.back() == '.' || message.back() == '\n')) message.pop_back();
  if (message.size() > 1 && std::isupper(static_cast<unsigned char>(message[0])) &&
      !std::isupper(static_cast<unsigned char>(message[1]))) {
    message[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(message[0])));
  }
  return message + std::string(help);
}

// The deepest subcommand the arguments chose: `linkferry rules` for "rules bogus".
const CLI::App* chosenCommand(const CLI::App& program) {
  const CLI::App* current = &program;
  for (bool deeper = true; deeper;) {
    deeper = false;
    for (const CLI::App* subcommand : current->get_subcommands()) {
      if (!subcommand->parsed()) continue;
      current = subcommand;
      deeper = true;
      break;
    }
  }
  return current;
}

std::string commandWords(const CLI::App* command) {
  std::string words = command->get_name();
  for (const CLI::App* parent = command->get_parent(); parent; parent = parent->get_parent()) {
    words = parent->get_name() + " " + words;
  }
  return words;
}

// What was wrong with the arguments, in one line. CLI11 reports a missing subcommand before an
// argument it did not know, so an unknown option or command word is looked for first among the
// arguments it left over: "linkferry --bogus" names "--bogus" rather than asking for a command.
std::string parseProblem(const CLI::App& program, const CLI::ParseError& error) {
  const CLI::App* command = chosenCommand(program);
  const std::string help = " (see " + commandWords(command) + " --help)";
  const std::vector<std::string> leftOver = program.remaining(true);
  for (const std::string& argument : leftOver) {
    if (argument.size() > 1 && argument[0] == '-' && argument != "--") {
      return "unknown option " + argument.substr(0, argument.find('=')) + help;
    }
  }
  const bool subcommandMissing = command->get_require_subcommand_min() > 0 &&
                                 dynamic_cast<const CLI::RequiredError*>(&error) != nullptr;
  if (!leftOver.empty() && subcommandMissing) {
    return "unknown command \"" + commandWords(command).substr(program.get_name().size() + 1) +
           " " + leftOver.front() + "\"" + help;
  }
  return styled(error.what(), help);
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
    printError(parseProblem(program, error));
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
