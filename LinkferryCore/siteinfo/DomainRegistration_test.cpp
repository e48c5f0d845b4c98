#include "siteinfo/DomainRegistration.h"

#include <gtest/gtest.h>

#include "siteinfo/SiteInfoError.h"

namespace linkferry {
namespace {

SiteInfoError::Kind failureOf(std::string_view body) {
  try {
    DomainRegistration::parse(body);
  } catch (const SiteInfoError& error) {
    return error.kind();
  }
  ADD_FAILURE() << "parsed: " << body;
  return SiteInfoError::Kind::noHost;
}

TEST(DomainRegistration, registryAnswerWithRegistrarRedactionAndRegistrarLink) {
  // The shape of a thin .com answer: registrar nested with its abuse contact, the registrant
  // redacted in RFC 9537's "type" form, and a link to the registrar's own record.
  const auto record = DomainRegistration::parse(R"({
    "objectClassName": "DOMAIN", "ldhName": "EXAMPLE.COM",
    "status": ["client transfer prohibited", "Active"],
    "events": [
      {"eventAction": "registration", "eventDate": "1995-08-14T04:00:00Z"},
      {"eventAction": "expiration", "eventDate": "2026-08-13T04:00:00.123Z"},
      {"eventAction": "last changed", "eventDate": "not a date"},
      {"eventAction": "last update of RDAP database", "eventDate": "2025-01-01T00:00:00Z"}],
    "entities": [{"objectClassName": "entity", "roles": ["Registrar"],
      "vcardArray": ["vcard", [["version", {}, "text", "4.0"], ["fn", {}, "text", "  "],
                               ["org", {}, "text", "Example Registrar, Inc."]]],
      "entities": [{"roles": ["abuse"], "vcardArray": ["vcard", [["fn", {}, "text", "Abuse"]]]}]}],
    "redacted": [{"name": {"type": "Registrant Name"}, "method": "removal"}],
    "links": [
      {"rel": "related", "type": "application/rdap+json", "href": "http://insecure.test/x"},
      {"rel": "self", "type": "application/rdap+json", "href": "https://self.test/x"},
      {"rel": "related", "type": "application/rdap+json", "href": "https://rdap.registrar.test/domain/example.com"}]
  })");
  EXPECT_EQ(record.domain, "example.com");
  EXPECT_EQ(record.registered, Date{808372800});
  EXPECT_EQ(record.expires, Date{1786593600});  // read to the second
  EXPECT_EQ(record.lastChanged, std::nullopt);
  // A blank "fn" ends the search for it; the "org" value stands in.
  EXPECT_EQ(record.registrar, "Example Registrar, Inc.");
  EXPECT_EQ(record.status, (std::vector<std::string>{"client transfer prohibited", "active"}));
  EXPECT_TRUE(record.registrantHidden);
  EXPECT_EQ(record.registrantOrganization, std::nullopt);
  EXPECT_EQ(record.registrarRecord, "https://rdap.registrar.test/domain/example.com");
}

TEST(DomainRegistration, registrantOrganizationCountryAndMaskedValues) {
  auto registrant = [](const std::string& properties) {
    return DomainRegistration::parse(
        R"({"objectClassName": "domain", "ldhName": "beispiel.de", "entities": [{"roles": ["registrant"],
            "vcardArray": ["vcard", [)" +
        properties + "]]}]}");
  };
  auto record = registrant(
      R"(["org", {}, "text", "REDACTED FOR PRIVACY"], ["fn", {}, "text", " Erika Muster "],
                              ["adr", {"cc": "de"}, "text", ["", "", "", "", "", "", ""]])");
  EXPECT_EQ(record.registrantOrganization, "Erika Muster");
  EXPECT_EQ(record.registrantCountry, "DE");
  EXPECT_FALSE(record.registrantHidden);

  record = registrant(R"(["org", {}, "text", "Data Protected"],
                         ["adr", {}, "text", ["", "", "Street", "City", "", "", "United Kingdom"]])");
  EXPECT_EQ(record.registrantOrganization, std::nullopt);
  EXPECT_EQ(record.registrantCountry, "United Kingdom");
  EXPECT_TRUE(record.registrantHidden);

  record =
      registrant(R"(["org", {}, "text", ["", "Nominet UK"]], ["adr", {}, "text", ["a", "b"]])");
  EXPECT_EQ(record.registrantOrganization, "Nominet UK");
  EXPECT_EQ(record.registrantCountry, std::nullopt);
}

TEST(DomainRegistration, anythingButADomainObjectIsInvalid) {
  using Kind = SiteInfoError::Kind;
  for (const char* body : {"", "<html>", "[]", "{}", R"({"objectClassName": "entity"})",
                           R"({"objectClassName": 1})", "{\"objectClassName\": \"domain\""}) {
    EXPECT_EQ(failureOf(body), Kind::invalidResponse) << body;
  }
  std::string deep(100'000, '[');
  EXPECT_EQ(failureOf(deep), Kind::invalidResponse);
  // Fields of the wrong type are left out rather than failing the answer.
  const auto record = DomainRegistration::parse(
      R"({"objectClassName": "domain", "events": {}, "entities": "x", "status": [1, "ok"], "links": 3})");
  EXPECT_EQ(record.status, std::vector<std::string>{"ok"});
  EXPECT_EQ(record.domain, "");
}

TEST(DomainRegistration, mergeOnlyFillsGaps) {
  DomainRegistration registry{.domain = "example.com",
                              .lastChanged = Date{5},
                              .registrar = "Registry's name",
                              .registrantHidden = true,
                              .status = {"active"},
                              .registrarRecord = "https://rdap.registrar.test/x"};
  DomainRegistration registrar{.domain = "other.com",
                               .registered = Date{1},
                               .expires = Date{2},
                               .lastChanged = Date{3},
                               .registrar = "Registrar's name",
                               .registrantOrganization = "Example Org",
                               .registrantCountry = "US",
                               .status = {"locked"}};
  DomainRegistration merged = registry;
  merged.merge(registrar);
  EXPECT_EQ(merged.registrantOrganization, "Example Org");
  EXPECT_FALSE(merged.registrantHidden);
  EXPECT_EQ(merged.registrantCountry, "US");
  EXPECT_EQ(merged.registrar, "Registry's name");
  EXPECT_EQ(merged.registered, Date{1});
  EXPECT_EQ(merged.expires, Date{2});
  EXPECT_EQ(merged.domain, "example.com");
  EXPECT_EQ(merged.lastChanged, Date{5});
  EXPECT_EQ(merged.status, std::vector<std::string>{"active"});
  EXPECT_EQ(merged.registrarRecord, registry.registrarRecord);

  DomainRegistration open{.domain = "example.com"};
  open.merge(DomainRegistration{.registrantHidden = true});
  EXPECT_TRUE(open.registrantHidden);
}

}  // namespace
}  // namespace linkferry
