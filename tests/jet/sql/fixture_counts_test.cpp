// The job's conditions run through the real storage layer on the shared sample sites,
// counted with SELECT COUNT(*) so that the files stay untouched. The expected numbers
// are the reference counts published with the fixtures.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "../support.h"
#include "jet/database.h"
#include "jet/sql/sql.h"

namespace jet::sqltest {
namespace {

struct Case {
  const char* site;
  const char* cutoff;
  const char* column;
  bool visitors_only;
  std::int64_t holders, cards, exception_ag;
};

constexpr Case kCases[] = {
    {"site-small", "10/01/2026", "From_Date", true, 65, 99, 104},
    {"site-small", "10/01/2026", "From_Date", false, 84, 132, 116},
    {"site-small", "10/01/2026", "Loc_Date", true, 55, 87, 91},
    {"site-small", "10/01/2026", "Loc_Date", false, 72, 119, 103},
    {"site-small", "06/01/2026", "From_Date", true, 55, 82, 90},
    {"site-small", "06/01/2026", "Loc_Date", false, 53, 89, 71},
    {"site-ri", "10/01/2026", "From_Date", true, 67, 95, 116},
    {"site-ri", "10/01/2026", "Loc_Date", false, 77, 112, 118},
    {"site-ri", "06/01/2026", "From_Date", false, 84, 115, 128},
    {"site-ri", "06/01/2026", "Loc_Date", true, 43, 66, 79},
};

using testing::FixturesDir;

std::int64_t Count(Schema& db, const std::string& command) {
  auto r = sql::Execute(db, command);
  EXPECT_EQ(r.column_names, std::vector<std::string>{"Expr1000"});
  return r.rows.at(0).at(0).i;
}

TEST(SqlOnSampleSites, PurgeConditionsSelectTheReferenceCounts) {
  JET_REQUIRE_FIXTURES();
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.site) + " " + c.cutoff + " " + c.column + (c.visitors_only ? " visitors" : " all"));
    auto db = Database::Open((FixturesDir() / c.site / "Orvanta.mdb").string(), {.password = "Morvek3"});
    std::string col = std::string("[") + c.column + "]";
    std::string cond = std::string(c.visitors_only ? "([type] = 0) and " : "") + "([Valid] = 0) and (" + col + "< #" +
                       c.cutoff + " 00:00# or " + col + " is NULL)";
    std::string holders = "(Select ID From CRDHLD Where " + cond + ")";
    EXPECT_EQ(Count(*db, "SELECT COUNT(*) From CRDHLD Where " + cond), c.holders);
    EXPECT_EQ(Count(*db, "SELECT COUNT(*) FROM CARD Where Owner in " + holders), c.cards);
    EXPECT_EQ(Count(*db, "SELECT COUNT(*) FROM ExceptionAG Where EmpID in " + holders), c.exception_ag);
  }
}

TEST(SqlOnSampleSites, JournalEventsBeforeTheCutoff) {
  JET_REQUIRE_FIXTURES();
  for (auto [site, expected] : {std::pair{"site-small", 870}, std::pair{"site-ri", 869}}) {
    auto db = Database::Open((FixturesDir() / site / "Journal.mdb").string());
    EXPECT_EQ(Count(*db, "SELECT COUNT(*) From [Log] where [Date] < #09/01/2026 00:00#"), expected) << site;
  }
}

}  // namespace
}  // namespace jet::sqltest
