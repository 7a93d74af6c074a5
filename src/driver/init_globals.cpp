#include <vector>

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
                                            "': its databases are left to that run." + job.installation_holder);
    }
    require().Open(text, "", "");
  });
  if (!opened) job.database_failed = true;
  if (connection) {
    for (const std::string& note : connection->TakeNotes()) job.log.LogError(kInfo, " " + note, "");
  }
}

// Says which run holds the installation, so that a run that never ends (a command waiting
// for ever with DatabaseTimeout=0) shows in every later run's log.
std::string HolderText(Platform& p, const std::optional<InstallationHolder>& holder) {
  if (!holder) return " Which process holds it cannot be told from here.";
  std::string text = " It is held by process " + std::to_string(holder->process_id);
  if (holder->since) text += ", running since " + p.FormatDateTime(*holder->since);
  return text + ".";
}

}  // namespace

void InitGlobals(Job& job) {
  const char* source = "Scourex Form_Load";
  Platform& p = job.platform;
  Trap(job.log, source, [&] { job.AppFolder = AppFolderFor(p.ExecutableFolder(), p.PathSeparator()); });
  Trap(job.log, source, [&] { p.SetCurrentDirectory(job.AppFolder); });
  Trap(job.log, source, [&] {
    job.owns_installation = p.LockInstallation(job.AppFolder);
    if (!job.owns_installation) job.installation_holder = HolderText(p, p.InstallationHolderOf(job.AppFolder));
  });
  Trap(job.log, source, [&] { job.ProductBase = ProductBaseFrom(p.ListFiles()); });
  std::vector<std::string> stand_ins;  // named as markers, but links, folders, pipes or devices
  Trap(job.log, source, [&] {
    for (const std::string& name : p.ListOtherEntries()) {
      if (IsMarkerName(name)) stand_ins.push_back(name);
    }
  });
  job.OptionsFileName = job.ProductBase + ".ini";
  DefaultOptions(job.settings);

  // The installation's own files are only ever regular files; anything else planted there is
  // reported and left alone, before any database is opened.
  for (const std::string& name : stand_ins) {
    const bool regular = Trap(job.log, source, [&] {
      try {
        p.RequireRegularFile(job.AppFolder + name);
      } catch (const Error& e) {
        throw Error(e.number(), e.description() + " and does not mark the installation");
      }
    });
    if (!regular) job.installation_failed = true;
  }
  for (const std::string& path :
       {job.AppFolder + job.OptionsFileName, job.AppFolder + StripExtension(p.ExecutableName()) + ".ini"}) {
    if (Trap(job.log, source, [&] { p.RequireRegularFile(path); })) {
      ReAdoptions(job.settings, p, job.log, path);
    } else {
      job.installation_failed = true;
    }
  }
  if (!Trap(job.log, source, [&] { p.RequireRegularFile(job.settings.LogFile); })) job.installation_failed = true;

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
