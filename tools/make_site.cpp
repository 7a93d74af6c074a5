// make-site: writes a demonstration installation of the access-control product into a
// folder: the marker file, the options file, the main database (with its database
// password) and the journal, filled with reproducible synthetic data.
//
//   make-site DIR [--seed N] [--size N] [--events N] [--ri] [--now "YYYY-MM-DD HH:MM:SS"]

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "db/jet_error_numbers.h"
#include "jet/database_writer.h"
#include "jet/datetime.h"
#include "jet/env.h"
#include "jet/error.h"
#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>

#include "jet/windows_text.h"
#endif

namespace {

using jet::ColumnType;
using jet::Value;
using jet::create::ColumnSpec;
using jet::create::IndexSpec;

struct Options {
  std::string dir;
  std::uint64_t seed = 1;
  int size = 200;
  int events = 1000;
  bool ri = false;
  double now = 0;
};

// Draws from one seeded generator; the mapping to ranges is spelled out here so that the
// same seed gives the same site with any standard library.
class Dice {
 public:
  explicit Dice(std::uint64_t seed) : gen_(seed) {}
  std::int64_t Between(std::int64_t lo, std::int64_t hi) {  // inclusive
    return lo + static_cast<std::int64_t>(gen_() % static_cast<std::uint64_t>(hi - lo + 1));
  }
  bool Chance(int percent) { return Between(0, 99) < percent; }
  template <typename T>
  const T& Pick(const std::vector<T>& v) { return v[static_cast<std::size_t>(Between(0, static_cast<std::int64_t>(v.size()) - 1))]; }
  template <typename T>
  void Shuffle(std::vector<T>& v) {
    for (std::size_t i = v.size(); i > 1; --i) std::swap(v[i - 1], v[static_cast<std::size_t>(Between(0, static_cast<std::int64_t>(i) - 1))]);
  }

 private:
  std::mt19937_64 gen_;
};

constexpr double kMonth = 30.4375;

// A date in the `months` before `now`, to the whole second.
double DateBefore(Dice& dice, double now, int months) {
  auto span = static_cast<std::int64_t>(months * kMonth * 86400.0);
  std::int64_t back = dice.Between(1, span);
  double whole_now = std::floor(now * 86400.0) / 86400.0;
  return whole_now - static_cast<double>(back) / 86400.0;
}

Value DateOrNull(double d) { return Value::DateValue(d); }

ColumnSpec Col(const char* name, ColumnType type, int length = 0, bool autonumber = false) {
  ColumnSpec c;
  c.name = name;
  c.type = type;
  c.length = length;
  c.autonumber = autonumber;
  return c;
}

IndexSpec Primary(std::vector<std::string> columns) {
  IndexSpec i;
  i.name = "PrimaryKey";
  i.columns = std::move(columns);
  i.primary = true;
  return i;
}

IndexSpec Plain(const char* name, bool unique = false) {
  IndexSpec i;
  i.name = name;
  i.columns = {name};
  i.unique = unique;
  return i;
}

const std::vector<std::string> kLastNames = {
    "Andersen", "Berg",     "Dubois",  "Müller",   "Nguyễn", "Østergaard", "Łukasiewicz", "O'Brien",
    "Smith-Jones", "García", "Keller", "Rossi",   "Novák",  "Larsen",     "Fischer",     "Moreau",
    "Janssen",  "Svensson", "Weber",   "Kowalski", "Brown",  "Lefèvre",    "Søndergaard", "Dupont"};
const std::vector<std::string> kFirstNames = {"Anne-Marie", "Björn", "Chloé", "Dmitri", "Eva",   "François",
                                              "Grete",      "Hugo",  "Ingrid", "Jürgen", "Karl", "Léa",
                                              "Mads",       "Nina",  "Øyvind", "Paul",   "Zoë",  "Tomasz"};
const std::vector<std::string> kCompanies = {"Orvanta AG", "Nordlicht GmbH", "Café Léon", "Brückner & Söhne",
                                             "Smith-Jones Ltd", "Kraków Services", "O'Neill Facilities"};

struct Cardholder {
  std::int64_t id;
  double from;
};

using jet::create::TableWriter;

// The main database's tables: cardholders and the badges and link tables that refer to
// them, with the relationships Access enforces on sites set up that way.
struct MainTables {
  TableWriter& crdhld;
  TableWriter& card;
  TableWriter& emp_ag;
  TableWriter& lift;
  TableWriter& zone;
  TableWriter& exception;
  TableWriter& exception_ag;
};

MainTables DefineMainTables(jet::create::DatabaseWriter& db, bool ri) {
  MainTables t{
      db.AddTable("CRDHLD",
                  {Col("ID", ColumnType::Long), Col("type", ColumnType::Integer), Col("Valid", ColumnType::Boolean),
                   Col("From_Date", ColumnType::DateTime), Col("Loc_Date", ColumnType::DateTime),
                   Col("LastName", ColumnType::Text, 50), Col("FirstName", ColumnType::Text, 50),
                   Col("Company", ColumnType::Text, 50)},
                  {Primary({"ID"})}),
      db.AddTable("CARD",
                  {Col("CardID", ColumnType::Long, 0, true), Col("Owner", ColumnType::Long),
                   Col("CardNumber", ColumnType::Text, 20), Col("Issued", ColumnType::DateTime)},
                  {Primary({"CardID"}), Plain("Owner"), Plain("CardNumber", true)}),
      db.AddTable("Join_EmpAG", {Col("Emp_ID", ColumnType::Long), Col("AG_ID", ColumnType::Long)},
                  {Primary({"Emp_ID", "AG_ID"})}),
      db.AddTable("Join_EmpAuthLift", {Col("Emp_ID", ColumnType::Long), Col("Lift_ID", ColumnType::Long)},
                  {Plain("Emp_ID")}),
      db.AddTable("Join_EmpZoneID", {Col("Emp_ID", ColumnType::Long), Col("Zone_ID", ColumnType::Long)},
                  {Plain("Emp_ID")}),
      db.AddTable("Exception",
                  {Col("EmpID", ColumnType::Long), Col("Door_ID", ColumnType::Long), Col("Allowed", ColumnType::Boolean)},
                  {Plain("EmpID")}),
      db.AddTable("ExceptionAG",
                  {Col("EmpID", ColumnType::Long), Col("AG_ID", ColumnType::Long), Col("Start_Date", ColumnType::DateTime)},
                  {Plain("EmpID")}),
  };
  if (ri) {
    for (const auto& [child, column] : std::vector<std::pair<std::string, std::string>>{
             {"CARD", "Owner"}, {"Join_EmpAG", "Emp_ID"}, {"Join_EmpAuthLift", "Emp_ID"},
             {"Join_EmpZoneID", "Emp_ID"}, {"Exception", "EmpID"}, {"ExceptionAG", "EmpID"}}) {
      jet::create::RelationshipSpec rel;
      rel.parent_table = "CRDHLD";
      rel.parent_columns = {"ID"};
      rel.child_table = child;
      rel.child_columns = {column};
      db.AddRelationship(rel);
    }
  }
  return t;
}

std::vector<Cardholder> AddCardholders(const Options& o, Dice& dice, TableWriter& crdhld) {
  std::vector<Cardholder> holders;
  std::int64_t id = o.ri ? 1 : 0;
  for (int k = 0; k < o.size; ++k) {
    id += dice.Between(1, 3);
    int type = dice.Chance(55) ? 0 : (dice.Chance(65) ? 1 : 2);
    bool valid = type == 0 ? dice.Chance(38) : dice.Chance(80);
    double from = DateBefore(dice, o.now, 36);
    double loc = from + static_cast<double>(dice.Between(0, static_cast<std::int64_t>((o.now - from) * 86400.0))) / 86400.0;
    loc = std::floor(loc * 86400.0 + 0.5) / 86400.0;
    Value from_value = dice.Chance(5) ? Value::Null() : DateOrNull(from);
    Value loc_value = dice.Chance(4) ? Value::Null() : DateOrNull(loc);
    Value company = dice.Chance(20) ? Value::Null() : Value::Str(dice.Pick(kCompanies));
    crdhld.Append({Value::Int(id), Value::Int(type), Value::Bool(valid), from_value, loc_value,
                   Value::Str(dice.Pick(kLastNames)), Value::Str(dice.Pick(kFirstNames)), company});
    holders.push_back({id, from});
  }
  return holders;
}

struct ChildRows {
  std::vector<jet::Row> cards, ags, lifts, zones, exceptions, exception_ags;
};

// Badges and links of every cardholder, then a spare badge and rows that refer to no
// cardholder (NULL).
ChildRows ChildRowsOf(const Options& o, Dice& dice, const std::vector<Cardholder>& holders,
                      std::vector<std::string>* badges) {
  ChildRows c;
  std::set<std::string> used_badges;
  auto new_badge = [&] {
    for (;;) {
      char buf[16];
      std::snprintf(buf, sizeof buf, "%08llX", static_cast<unsigned long long>(dice.Between(0, 0xffffffffLL)));
      if (used_badges.insert(buf).second) return std::string(buf);
    }
  };
  for (const Cardholder& h : holders) {
    Value owner = Value::Int(h.id);
    for (std::int64_t n = dice.Between(0, 3); n > 0; --n) {
      std::string badge = new_badge();
      badges->push_back(badge);
      c.cards.push_back({Value::Null(), owner, Value::Str(badge), Value::DateValue(DateBefore(dice, o.now, 36))});
    }
    std::set<std::int64_t> groups;
    for (std::int64_t n = dice.Between(0, 3); n > 0; --n) groups.insert(dice.Between(1, 40));
    for (std::int64_t g : groups) c.ags.push_back({owner, Value::Int(g)});
    for (std::int64_t n = dice.Between(0, 3); n > 0; --n) c.lifts.push_back({owner, Value::Int(dice.Between(1, 12))});
    for (std::int64_t n = dice.Between(0, 3); n > 0; --n) c.zones.push_back({owner, Value::Int(dice.Between(1, 30))});
    for (std::int64_t n = dice.Between(0, 3); n > 0; --n)
      c.exceptions.push_back({owner, Value::Int(dice.Between(1, 200)), Value::Bool(dice.Chance(50))});
    for (std::int64_t n = dice.Between(0, 3); n > 0; --n)
      c.exception_ags.push_back({owner, Value::Int(dice.Between(1, 40)), Value::DateValue(DateBefore(dice, o.now, 12))});
  }
  c.cards.push_back({Value::Null(), Value::Null(), Value::Str("SPARE0001"), Value::DateValue(DateBefore(dice, o.now, 36))});
  c.lifts.push_back({Value::Null(), Value::Int(1)});
  c.zones.push_back({Value::Null(), Value::Int(1)});
  c.exceptions.push_back({Value::Null(), Value::Int(1), Value::Bool(true)});
  c.exception_ags.push_back({Value::Null(), Value::Int(1), Value::DateValue(DateBefore(dice, o.now, 12))});
  return c;
}

// Without enforced integrity, sites collect rows whose cardholder is gone.
void AddOrphans(const Options& o, Dice& dice, std::int64_t last_id, ChildRows* c) {
  std::int64_t orphans[] = {last_id + 1000, last_id + 2000};
  for (int k = 0; k < 2; ++k) {
    Value ghost = Value::Int(orphans[k]);
    c->cards.push_back({Value::Null(), ghost, Value::Str(k == 0 ? "ORPHAN01" : "ORPHAN02"),
                        Value::DateValue(DateBefore(dice, o.now, 36))});
    c->ags.push_back({ghost, Value::Int(1)});
    c->lifts.push_back({ghost, Value::Int(2)});
    c->zones.push_back({ghost, Value::Int(2)});
    c->exceptions.push_back({ghost, Value::Int(2), Value::Bool(false)});
    c->exception_ags.push_back({ghost, Value::Int(2), Value::DateValue(DateBefore(dice, o.now, 12))});
  }
}

// Paths are UTF-8 throughout; the Env turns them into the system's own.
std::string InFolder(const std::string& folder, const std::string& name) {
  const char last = folder.back();
  return last == '/' || last == '\\' ? folder + name : folder + "/" + name;
}

// Creates `folder` and the folders above it that are missing.
void CreateFolders(jet::os::Env& env, const std::string& folder) {
  for (std::size_t k = 1; k <= folder.size(); ++k) {
    if (k < folder.size() && folder[k] != '/' && folder[k] != '\\') continue;
    const std::string part = folder.substr(0, k);
    if (part.back() == ':' || env.KindOf(part) == jet::os::ObjectKind::Folder) continue;  // a drive, or there
    env.CreateFolder(part);
  }
}

void WriteFile(jet::os::Env& env, const std::string& path, const std::string& bytes) {
  env.Create(path)->WriteAt(0, bytes.data(), bytes.size());
}

// The arguments in UTF-8: on Windows from the wide command line, which any folder name fits.
std::vector<std::string> Arguments(int argc, char** argv) {
#ifdef _WIN32
  int n = 0;
  if (LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &n)) {
    std::vector<std::string> out;
    for (int k = 0; k < n; ++k) out.push_back(jet::os::windows::Narrow(wide[k]));
    LocalFree(wide);
    return out;
  }
#endif
  return std::vector<std::string>(argv, argv + argc);
}

void WriteMain(const Options& o, Dice& dice, std::vector<std::string>* badges) {
  jet::create::DatabaseOptions db_options;
  db_options.password = "Morvek3";
  db_options.created = o.now;
  db_options.env = &jet::os::Env::Default();
  jet::create::DatabaseWriter db(db_options);
  MainTables t = DefineMainTables(db, o.ri);
  std::vector<Cardholder> holders = AddCardholders(o, dice, t.crdhld);
  // Child rows are gathered first and stored in random order, as a busy site leaves them.
  ChildRows c = ChildRowsOf(o, dice, holders, badges);
  if (!o.ri) AddOrphans(o, dice, holders.empty() ? 0 : holders.back().id, &c);
  for (auto* rows : {&c.cards, &c.ags, &c.lifts, &c.zones, &c.exceptions, &c.exception_ags}) dice.Shuffle(*rows);
  for (const auto& r : c.cards) t.card.Append(r);
  for (const auto& r : c.ags) t.emp_ag.Append(r);
  for (const auto& r : c.lifts) t.lift.Append(r);
  for (const auto& r : c.zones) t.zone.Append(r);
  for (const auto& r : c.exceptions) t.exception.Append(r);
  for (const auto& r : c.exception_ags) t.exception_ag.Append(r);
  db.Write(InFolder(o.dir, "Orvanta.mdb"));
}

void WriteJournal(const Options& o, Dice& dice, const std::vector<std::string>& badges) {
  jet::create::DatabaseOptions db_options;
  db_options.created = o.now;
  db_options.env = &jet::os::Env::Default();
  jet::create::DatabaseWriter db(db_options);
  IndexSpec by_date = Plain("Date");
  auto& log = db.AddTable("Log",
                          {Col("ID", ColumnType::Long, 0, true), Col("Date", ColumnType::DateTime),
                           Col("EventType", ColumnType::Integer), Col("CardNumber", ColumnType::Text, 20),
                           Col("Message", ColumnType::Text, 255)},
                          {Primary({"ID"}), by_date});
  static const char* kDoorEvents[] = {"Access granted", "Access denied", "Door forced open", "Door held open",
                                      "Unknown badge", "Badge expired"};
  static const char* kSystemEvents[] = {"Controller online", "Controller offline", "Operator login",
                                        "Operator logout", "Mains power lost", "Mains power restored",
                                        "Tamper alarm", "Tamper restored", "Time synchronised",
                                        "Database download", "Firmware updated", "Alarm acknowledged"};
  double start = o.now - 24 * kMonth;
  for (int k = 0; k < o.events; ++k) {
    // In time order as a journal is written, with a few stragglers and missing dates.
    double slot = (o.now - start) / std::max(1, o.events);
    double when = start + slot * k + slot * static_cast<double>(dice.Between(0, 999)) / 1000.0;
    if (dice.Chance(2)) when = DateBefore(dice, o.now, 24);
    when = std::floor(when * 86400.0) / 86400.0;
    Value date = dice.Chance(1) ? Value::Null() : Value::DateValue(when);
    bool door = dice.Chance(70);
    int type = door ? static_cast<int>(dice.Between(1, 6)) : static_cast<int>(dice.Between(10, 21));
    Value badge = Value::Null();
    std::string message = door ? kDoorEvents[type - 1] : kSystemEvents[type - 10];
    if (door) {
      if (!badges.empty() && dice.Chance(85)) {
        badge = Value::Str(dice.Pick(badges));
      } else if (dice.Chance(50)) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%08llX", static_cast<unsigned long long>(dice.Between(0, 0xffffffffLL)));
        badge = Value::Str(buf);
      }
      message += " at door " + std::to_string(dice.Between(1, 200));
    } else {
      message += " (controller " + std::to_string(dice.Between(1, 16)) + ")";
    }
    log.Append({Value::Null(), date, Value::Int(type), badge, Value::Str(message)});
  }
  db.Write(InFolder(o.dir, "Journal.mdb"));
}

int Usage() {
  std::cerr << "usage: make-site DIR [--seed N] [--size N] [--events N] [--ri] [--now \"YYYY-MM-DD HH:MM:SS\"]\n";
  return 2;
}

bool ParseNumber(const char* text, long long lo, long long hi, long long* out) {
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < lo || v > hi) return false;
  *out = v;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  const std::vector<std::string> args = Arguments(argc, argv);
  argc = static_cast<int>(args.size());
  for (int k = 1; k < argc; ++k) {
    const std::string& arg = args[k];
    long long n = 0;
    auto number = [&](long long lo, long long hi) {
      if (k + 1 >= argc || !ParseNumber(args[k + 1].c_str(), lo, hi, &n)) {
        std::cerr << "make-site: " << arg << " needs a number from " << lo << " to " << hi << "\n";
        std::exit(2);
      }
      ++k;
      return n;
    };
    if (arg == "--seed") {
      o.seed = static_cast<std::uint64_t>(number(0, 0x7fffffffffffffffLL));
    } else if (arg == "--size") {
      o.size = static_cast<int>(number(0, 10000000));
    } else if (arg == "--events") {
      o.events = static_cast<int>(number(0, 50000000));
    } else if (arg == "--ri") {
      o.ri = true;
    } else if (arg == "--now") {
      jet::CivilTime t;
      if (k + 1 >= argc || std::sscanf(args[k + 1].c_str(), "%d-%d-%d %d:%d:%d", &t.year, &t.month, &t.day, &t.hour,
                                       &t.minute, &t.second) != 6 || !jet::IsValidCivil(t)) {
        std::cerr << "make-site: --now needs \"YYYY-MM-DD HH:MM:SS\"\n";
        return 2;
      }
      o.now = jet::ToJetDate(t);
      ++k;
    } else if (!arg.empty() && arg[0] == '-') {
      return Usage();
    } else if (o.dir.empty()) {
      o.dir = arg;
    } else {
      return Usage();
    }
  }
  if (o.dir.empty()) return Usage();
  if (o.now == 0) {
    auto secs = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch());
    o.now = 25569.0 + static_cast<double>(secs.count()) / 86400.0;
  }
  try {
    jet::os::Env& env = jet::os::Env::Default();
    CreateFolders(env, o.dir);
    WriteFile(env, InFolder(o.dir, "Orvanta.nam"), "");
    WriteFile(env, InFolder(o.dir, "Orvanta.ini"), "DBType=1\r\nVisitorMonths=6\r\nEventMonths=3\r\n");
    Dice dice(o.seed);
    std::vector<std::string> badges;
    WriteMain(o, dice, &badges);
    WriteJournal(o, dice, badges);
  } catch (const jet::Error& e) {
    std::cerr << "make-site: error " << scourex::db::JetErrorNumber(e.code()) << ": " << e.what() << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "make-site: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
