#include "PickerWindow.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "foundation/Process.h"
#include "foundation/Text.h"
#include "rules/RuleAuthoring.h"
#include "rules/TargetLabel.h"
#include "safety/PublicSuffixList.h"

namespace linkferry::PickerWindow {

namespace {

bool isSet(const std::map<std::string, std::string>& environment, const std::string& name) {
  auto found = environment.find(name);
  return found != environment.end() && !found->second.empty();
}

// The scopes offered for the request's link, each with the RememberScope it stands for.
std::vector<std::pair<PickerProtocol::ScopeChoice, RememberScope>> scopes(
    const PickerRequest& request) {
  const PublicSuffixList& psl = PublicSuffixList::shared();
  std::vector<std::pair<std::string, RememberScope>> offered = {
      {"page", RememberScope::page()},
      {"host", RememberScope::host()},
      {"domain", RememberScope::domain()}};
  const std::string appName = request.sourceApp.value_or("");
  if (auto window = AppWindowScope::make(request.sourceApp, appName, request.sourceWindow)) {
    offered.emplace_back("appWindow", RememberScope::appWindow(*window));
  }
  std::vector<std::pair<PickerProtocol::ScopeChoice, RememberScope>> result;
  for (auto& [id, scope] : offered) {
    std::optional<std::string> title = RuleAuthoring::describe(scope, request.url, psl);
    if (!title || !RuleAuthoring::matcher(scope, request.url, psl)) continue;
    result.push_back({{id, *title, std::nullopt}, scope});
  }
  // The page's own expression is a valid start the user widens by editing it.
  if (auto expression = RuleAuthoring::pageRegex(request.url)) {
    result.push_back(
        {{"pattern", "URLs matching a pattern", *expression}, RememberScope::pattern(*expression)});
  }
  return result;
}

Result failed(std::string error) {
  Result result;
  result.kind = Result::Kind::failed;
  result.error = std::move(error);
  return result;
}

}  // namespace

std::optional<std::string> program(const std::map<std::string, std::string>& environment) {
  if (!isSet(environment, "DISPLAY") && !isSet(environment, "WAYLAND_DISPLAY")) return std::nullopt;
  std::error_code error;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return std::nullopt;
  const auto candidate = self.parent_path() / "linkferry-picker";
  struct stat status {};
  if (::stat(candidate.c_str(), &status) != 0 || !S_ISREG(status.st_mode) ||
      ::access(candidate.c_str(), X_OK) != 0) {
    return std::nullopt;
  }
  return candidate.string();
}

PickerProtocol::Input input(const PickerRequest& request, const BrowserCatalog& catalog,
                            const AppSettings& settings) {
  PickerProtocol::Input result{request, {}, {}, settings.pickerVisibleCount,
                               settings.pickerColumns, settings.pickerAtCursor, {}, 0,
                               settings.rememberDurations};
  for (const Candidate& candidate : request.candidates) {
    result.labels.push_back(TargetLabel::text(candidate.target, catalog));
    result.avatars.push_back(catalog.avatar(candidate.target));
  }
  for (const auto& [choice, scope] : scopes(request)) {
    if (choice.id == "domain") result.defaultScope = result.scopes.size();
    result.scopes.push_back(choice);
  }
  return result;
}

Result show(const std::string& program, const PickerRequest& request,
            const BrowserCatalog& catalog, const AppSettings& settings) {
  return show(program, input(request, catalog, settings));
}

Result show(const std::string& program, const PickerProtocol::Input& input) {
  const PickerRequest& request = input.request;
  Process::Options options;
  options.captureOutput = true;
  options.input = Json::encodeCompact(input.toJson());
  Process::Result run;
  try {
    run = Process::run(program, {}, options);
  } catch (const std::exception& error) {
    return failed(error.what());
  }
  if (run.exitStatus != 0) {
    return failed(program + " exited with status " + std::to_string(run.exitStatus) + ": " +
                  std::string(Text::trimmed(run.standardError)));
  }
  PickerProtocol::Answer answer;
  try {
    answer = PickerProtocol::Answer::fromJson(
        JsonReader(Json::parse(run.standardOutput, program), program));
  } catch (const std::exception& error) {
    return failed(error.what());
  }
  return resultOf(program, request, answer);
}

Result resultOf(const std::string& program, const PickerRequest& request,
                const PickerProtocol::Answer& answer) {
  if (!answer.choose) return Result{};
  if (answer.choose->index < 0 ||
      static_cast<std::size_t>(answer.choose->index) >= request.candidates.size()) {
    return failed(program + " chose row " + std::to_string(answer.choose->index) + " of " +
                  std::to_string(request.candidates.size()));
  }
  Result result;
  result.kind = Result::Kind::chosen;
  result.index = static_cast<std::size_t>(answer.choose->index);
  result.privateMode = answer.choose->privateMode;
  if (answer.choose->makeRule) {
    result.scopeID = answer.scope.value_or("domain");
    if (result.scopeID == "pattern") result.pattern = answer.pattern;
    result.remember = scope(request, *result.scopeID, result.pattern);
    result.duration = answer.duration;
  }
  return result;
}

std::optional<RememberScope> scope(const PickerRequest& request, std::string_view id,
                                   const std::optional<std::string>& pattern) {
  for (const auto& [choice, scope] : scopes(request)) {
    if (choice.id != id) continue;
    if (id != "pattern" || !pattern) return scope;
    if (!RuleAuthoring::isValidRegex(*pattern)) return std::nullopt;
    return RememberScope::pattern(*pattern);
  }
  return std::nullopt;
}

}  // namespace linkferry::PickerWindow
