// URL::parse (and queryItems) against a bare uriparser parse of the same links: the wrapper's
// lenient step, text copy and component offsets should cost at most about 1.3 times the bare parse.
#include <array>
#include <string_view>

#include <benchmark/benchmark.h>
#include <uriparser/Uri.h>

#include "foundation/URL.h"

namespace {

constexpr std::array<std::string_view, 6> kLinks = {
    "https://www.example.com/products/shoes/running?utm_source=newsletter&utm_medium=email&id=12345"
    "&color=blue#reviews",
    "https://news.example.org/2026/12/07/world/europe/"
    "some-long-article-title-here.html?smid=tw-share"
    "&ref=home",
    "https://www.youtube.com/"
    "watch?v=dQw4w9WgXcQ&list=PL0123456789abcdef&index=3&si=AbCdEfGhIjKlMnOp"
    "&t=42s",
    "https://mail.example.com/mail/u/0/?authuser=someone%40example.com&view=cm&fs=1&tf=1"
    "&to=friend%40example.net",
    "https://shop.example.co.uk/search?q=running+shoes&category=sport&sort=price_asc&page=2"
    "&gclid=Cj0KCQiA",
    "https://docs.example.io/reference/api/v2/endpoints/users/list#query-parameters-and-pagination"
    "-of-results",
};

void urlParse(benchmark::State& state) {
  for (auto _ : state) {
    for (std::string_view link : kLinks) {
      auto url = linkferry::URL::parse(link);
      benchmark::DoNotOptimize(url);
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kLinks.size()));
}
BENCHMARK(urlParse);

// Links carrying raw non-ASCII or characters RFC 3986 forbids take the lenient step: a failed
// first parse, escaping, and a second parse. No bare counterpart: uriparser refuses them.
void urlParseLenient(benchmark::State& state) {
  constexpr std::array<std::string_view, 2> links = {
      "https://de.example.org/wiki/Straßenbahn_München?action=edit&section=3",
      "https://search.example.com/results?q={running|shoes}&filter[color]=blue#top",
  };
  for (auto _ : state) {
    for (std::string_view link : links) {
      auto url = linkferry::URL::parse(link);
      benchmark::DoNotOptimize(url);
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(links.size()));
}
BENCHMARK(urlParseLenient);

void uriparserParse(benchmark::State& state) {
  for (auto _ : state) {
    for (std::string_view link : kLinks) {
      UriUriA uri;
      const char* error = nullptr;
      if (uriParseSingleUriExA(&uri, link.data(), link.data() + link.size(), &error) ==
          URI_SUCCESS) {
        benchmark::DoNotOptimize(uri);
        uriFreeUriMembersA(&uri);
      }
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kLinks.size()));
}
BENCHMARK(uriparserParse);

void urlParseQueryItems(benchmark::State& state) {
  for (auto _ : state) {
    for (std::string_view link : kLinks) {
      auto url = linkferry::URL::parse(link);
      auto items = url->queryItems();
      benchmark::DoNotOptimize(items);
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kLinks.size()));
}
BENCHMARK(urlParseQueryItems);

void uriparserParseDissectQuery(benchmark::State& state) {
  for (auto _ : state) {
    for (std::string_view link : kLinks) {
      UriUriA uri;
      const char* error = nullptr;
      if (uriParseSingleUriExA(&uri, link.data(), link.data() + link.size(), &error) !=
          URI_SUCCESS) {
        continue;
      }
      UriQueryListA* items = nullptr;
      int count = 0;
      if (uri.query.first != nullptr &&
          uriDissectQueryMallocExA(&items, &count, uri.query.first, uri.query.afterLast, URI_FALSE,
                                   URI_BR_DONT_TOUCH) == URI_SUCCESS) {
        benchmark::DoNotOptimize(items);
        uriFreeQueryListA(items);
      }
      uriFreeUriMembersA(&uri);
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kLinks.size()));
}
BENCHMARK(uriparserParseDissectQuery);

}  // namespace
