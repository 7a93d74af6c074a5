#include "purge/purges.h"

#include "common/error.h"
#include "log/trap.h"
#include "purge/date_string.h"

namespace scourex {
namespace {

std::string TestedColumn(const Settings& s) { return s.VisitorCheckCreationDate == 1 ? "[From_Date]" : "[Loc_Date]"; }

std::string Condition(const Settings& s, const std::string& date_literal) {
  std::string column = TestedColumn(s);
  std::string who = s.DeleteAlsoCardholder ? "" : "([type] = 0) and ";
  return who + "([Valid] = 0) and (" + column + "< " + date_literal + " or " + column + " is NULL)";
}

db::Connection& Require(db::Connection* c) {
  if (c == nullptr) throw runtime::Make(runtime::kObjectNotSet);
  return *c;
}

// The cutoff, or the zero date when it cannot be computed (the error is logged).
LocalDateTime Cutoff(PurgeContext& ctx, int months, const std::string& source) {
  LocalDateTime cutoff = kZeroDate;
  Trap(ctx.log, source, [&] { cutoff = AddMonths(ctx.platform.Now(), -months); });
  return cutoff;
}

std::string DateLiteral(PurgeContext& ctx, const LocalDateTime& t) {
  std::string literal;
  const db::SqlDialect dialect = ctx.connection ? ctx.connection->Dialect() : db::SqlDialect::kOther;
  Trap(ctx.log, "Scourex GetDateString", [&] { literal = GetDateString(ctx.settings, dialect, t); });
  return literal;
}

}  // namespace

std::string VisitorSubquery(const Settings& s, const std::string& date_literal) {
  return "(Select ID From CRDHLD Where " + Condition(s, date_literal) + ")";
}

std::string CardholderDelete(const Settings& s, const std::string& date_literal) {
  return "DELETE From CRDHLD Where " + Condition(s, date_literal);
}

void DeleteVisitors(PurgeContext& ctx) {
  std::string step_label;
  long n = 0;
  const std::string base = "Scourex DeleteVisitors";
  auto source = [&] { return base + step_label; };
  auto run = [&](const std::string& command, long* affected) {
    try {
      Require(ctx.connection).Execute(command, affected);
    } catch (...) {
      ctx.database_failed = true;
      throw;
    }
  };

  LocalDateTime cutoff = Cutoff(ctx, ctx.settings.VisitorMonths, base);
  std::string subquery;
  Trap(ctx.log, source, [&] { subquery = VisitorSubquery(ctx.settings, DateLiteral(ctx, cutoff)); });

  struct Step {
    const char* label;
    const char* command;
  };
  static const Step kLinkSteps[] = {
      {"Delete the Multi AG", "DELETE FROM Join_EmpAG Where Emp_ID in "},
      {"Delete the Multi Lift", "DELETE FROM Join_EmpAuthLift Where Emp_ID in "},
      {"Delete the Multi Parking", "DELETE FROM Join_EmpZoneID Where Emp_ID in "},
      {"Delete the Execptions", "DELETE FROM [Exception] Where EmpID in "},
      {"Delete the Schedule AG", "DELETE FROM ExceptionAG Where EmpID in "},
  };

  step_label = "Delete the badges";
  Trap(ctx.log, source, [&] { run("DELETE FROM CARD Where Owner in " + subquery, &n); });
  ctx.log.LogError(kInfo, " Total Badges Deleted " + std::to_string(n), "");

  for (const Step& step : kLinkSteps) {
    step_label = step.label;
    Trap(ctx.log, source, [&] { run(step.command + subquery, nullptr); });
  }

  step_label = "Delete the Visitors themselves";
  n = 0;
  Trap(ctx.log, source, [&] { run(CardholderDelete(ctx.settings, DateLiteral(ctx, cutoff)), &n); });
  ctx.log.LogError(kInfo,
                   (ctx.settings.DeleteAlsoCardholder ? " Total Cardholder Deleted " : " Total Visitor Deleted ") +
                       std::to_string(n),
                   "");
}

void DeleteEvents(PurgeContext& ctx) {
  const std::string source = "Scourex DeleteEvents";
  long n = 0;
  LocalDateTime cutoff = Cutoff(ctx, ctx.settings.EventMonths, source);
  Trap(ctx.log, source, [&] {
    try {
      Require(ctx.connection).Execute("DELETE From [Log] where [Date] < " + DateLiteral(ctx, cutoff), &n);
    } catch (...) {
      ctx.database_failed = true;
      throw;
    }
  });
  ctx.log.LogError(kInfo, " Total Events Deleted " + std::to_string(n), "");
}

}  // namespace scourex
