#include "config/connection_texts.h"
#include "config/installation.h"
#include "db/error_numbers.h"
#include "driver/job.h"
#include "log/trap.h"

namespace scourex {
namespace {

void OpenConnection(Job& job, std::unique_ptr<db::Connection>& connection, const std::string& text,
                    const char* source) {
  auto require = [&]() -> db::Connection& {
    if (!connection) throw runtime::Make(runtime::kObjectNotSet);
    return *connection;
  };
  Trap(job.log, source, [&] { connection = job.create_connection(); });
  if (job.settings.DatabaseTimeout >= 0) {
    Trap(job.log, source, [&] { require().SetCommandTimeout(job.settings.DatabaseTimeout); });
  }
  bool opened = Trap(job.log, source, [&] {
    if (!job.owns_installation) {
      throw Error(db::errnum::kGeneral, "Another run of Scourex is working on the installation '" + job.AppFolder +
                                   "': its databases are left to that run.");
    }
    require().Open(text, "", "");
  });
  if (!opened) job.database_failed = true;
  if (connection) {
    for (const std::string& note : connection->TakeNotes()) job.log.LogError(kInfo, " " + note, "");
  }
}

}  // namespace

void InitGlobals(Job& job) {
  const char* source = "Scourex Form_Load";
  Platform& p = job.platform;
  Trap(job.log, source, [&] { job.AppFolder = AppFolderFor(p.ExecutableFolder(), p.PathSeparator()); });
  Trap(job.log, source, [&] { p.SetCurrentDirectory(job.AppFolder); });
  Trap(job.log, source, [&] { job.owns_installation = p.LockInstallation(job.AppFolder); });
  Trap(job.log, source, [&] { job.ProductBase = ProductBaseFrom(p.ListFiles()); });
  job.OptionsFileName = job.ProductBase + ".ini";
  DefaultOptions(job.settings);
  ReAdoptions(job.settings, p, job.log, job.AppFolder + job.OptionsFileName);
  ReAdoptions(job.settings, p, job.log, job.AppFolder + StripExtension(p.ExecutableName()) + ".ini");

  const std::string& folder = job.settings.DbsFolder.empty() ? job.AppFolder : job.settings.DbsFolder;
  job.MainDatabasePath = folder + job.ProductBase + ".mdb";
  job.JournalDatabasePath = folder + "Journal.mdb";

  ConnectionTexts texts = BuildConnectionTexts(job.settings, job.MainDatabasePath, job.JournalDatabasePath);
  job.MainConnectionString = texts.main;
  job.JournalConnectionString = texts.journal;
  OpenConnection(job, job.MainConnection, job.MainConnectionString, source);
  OpenConnection(job, job.JournalConnection, job.JournalConnectionString, source);
}

}  // namespace scourex
