// Arbitrary bytes through URL::parse, every accessor, resolution both ways, percent encoding and
// URLComponents. Besides not crashing, the properties the rest of the code relies on must hold:
// parsing is idempotent, a parsed URL always rebuilds from its components, and query items, paths
// and hosts survive being set through URLComponents; the quick host reading agrees with a full
// parse.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "foundation/URL.h"
#include "FuzzCheck.h"

namespace {

using namespace linkferry;

void exercise(const URL& url) {
  (void)url.scheme();
  (void)url.user();
  (void)url.password();
  (void)url.host();
  (void)url.percentEncodedHost();
  (void)url.port();
  (void)url.path();
  (void)url.percentEncodedPath();
  (void)url.query();
  (void)url.fragment();
  (void)url.queryItems();
  (void)std::hash<URL>()(url);
}

void checkParsed(const URL& url) {
  exercise(url);
  const auto again = URL::parse(url.absoluteString());
  FUZZ_CHECK(again && *again == url);

  const URLComponents components(url);
  const auto rebuilt = components.url();
  FUZZ_CHECK(rebuilt && URLComponents(*rebuilt) == components);

  URLComponents withItems = components;
  withItems.setQueryItems(components.queryItems());
  const auto itemsURL = withItems.url();
  FUZZ_CHECK(itemsURL);
  FUZZ_CHECK(itemsURL->queryItems() == url.queryItems());

  if (auto resolved = url.resolving("../g;x?y=+#s")) exercise(*resolved);
  if (auto resolved = url.resolving("//other.example/")) exercise(*resolved);
}

void checkEncoding(std::string_view text) {
  using enum PercentEncoding::Component;
  for (auto component : {user, password, host, path, queryItem, query, fragment}) {
    const std::string encoded = PercentEncoding::encode(text, component);
    const auto decoded = PercentEncoding::decode(encoded);
    FUZZ_CHECK(!decoded || *decoded == text);
  }

  auto components = URLComponents::parse("https://a.example/");
  FUZZ_CHECK(components);
  components->setPath("/" + std::string(text));
  components->setQueryItems(std::vector<QueryItem>{{std::string(text), std::string(text)}});
  if (text.empty() || text.front() != '[') components->setHost(text);
  const auto built = components->url();
  FUZZ_CHECK(built);
  const auto items = built->queryItems();
  FUZZ_CHECK(items.size() == 1);
  if (PercentEncoding::decode(PercentEncoding::encode(text, queryItem))) {
    FUZZ_CHECK(items[0].name == text && items[0].value == text);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto parsed = URL::parse(text);
  FUZZ_CHECK(URL::hostOf(text) == (parsed ? parsed->host() : std::nullopt));
  if (parsed) checkParsed(*parsed);
  // A problem is told exactly for the texts that start like a link and do not parse.
  const auto problem = URL::parseProblem(text);
  FUZZ_CHECK(!parsed || !problem);
  FUZZ_CHECK(!problem || !problem->empty());
  if (auto components = URLComponents::parse(text)) (void)components->string();

  static const auto base = URL::parse("http://a/b/c/d;p?q");
  if (auto resolved = base->resolving(text)) checkParsed(*resolved);

  (void)PercentEncoding::decode(text);
  checkEncoding(text);
  return 0;
}
