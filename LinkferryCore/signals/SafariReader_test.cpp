#include "signals/SafariReader.h"

#include <gtest/gtest.h>

#include "fixtures/BrowserDatabases.h"
#include "support/TestSupport.h"

namespace linkferry {
namespace {

using testing::TemporaryDirectory;

TEST(SafariReader, ReadsTheLatestVisitOfEachItemAfterAnExactCutOff) {
  TemporaryDirectory folder;
  const auto db = folder.path() / "History.db";
  // A cut-off with many significant digits: written with six of them (the usual "%g"), it would
  // become 8.07654e+08 and let the item visited just before the cut-off through.
  const Date since{1785961521.123456};
  const double cutoff = since.secondsSinceReferenceDate();
  fixtures::writeSafariHistory(db, {{"https://a.example.com/", 4, {100.0, cutoff + 0.25}},
                                    {"https://b.example.com/", 1, {cutoff - 0.001}},
                                    {"https://c.example.com/", 2, {cutoff}},
                                    {"https://d.example.com/x", 3, {cutoff + 1e-6}}});
  auto records = SafariReader::history(db, since);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].url, "https://a.example.com/");
  EXPECT_EQ(records[0].visitCount, 4);
  EXPECT_DOUBLE_EQ(records[0].lastVisit.secondsSinceReferenceDate(), cutoff + 0.25);
  EXPECT_EQ(records[1].url, "https://d.example.com/x");
  EXPECT_TRUE(SafariReader::history(folder.path() / "absent.db", Date{0}).empty());
}

TEST(SafariReader, DefaultHistoryDatabaseIsUnderTheAccountsHomeNotHOME) {
  testing::ScopedEnvironment home("HOME", "/nonexistent-home");
  auto path = SafariReader::defaultHistoryDB();
  EXPECT_EQ(path.filename(), "History.db");
  EXPECT_EQ(path.parent_path().parent_path().filename(), "Library");
  EXPECT_NE(path.string().rfind("/nonexistent-home", 0), 0u);
}

}  // namespace
}  // namespace linkferry
