// The `linkferry` command line: parses arguments and runs one subcommand.
#include <algorithm>
#include <exception>
#include <string>
#include <iostream>
#include <memory>
#include <system_error>
#include <vector>

#include "Command.h"
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

void printError(std::string_view message) { std::cerr << "linkferry: " << message << '\n'; }

int worst(int a, int b) { return std::max(a, b); }

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

  // CLI11 would only say that a subcommand is required; name the word it did not know instead.
  if (argc > 1 && argv[1][0] != '-') {
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
    printError(error.what());
    return kInputError;
  }

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
