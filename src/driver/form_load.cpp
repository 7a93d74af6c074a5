#include "db/jet_backend.h"
#include "driver/job.h"
#include "log/trap.h"
#include "purge/purges.h"

namespace scourex {
namespace {

// Runs one purge (`purge` returns whether it ran to its end); whether all its steps
// succeeded.
template <typename Purge>
bool Succeeded(Job& job, Purge&& purge) {
  const bool failed_before = job.database_failed;
  job.database_failed = false;
  const bool ended = purge();
  const bool ok = ended && !job.database_failed;
  job.database_failed = failed_before || job.database_failed;
  return ok;
}

// Gives the space a purge freed back to the file system: the connection is closed first,
// since a compaction needs the file to itself.
void Compact(Job& job, std::unique_ptr<db::Connection>& connection, const std::string& text) {
  const char* source = "Scourex Compact";
  connection.reset();
  bool ok = Trap(job.log, source, [&] {
    const std::string file = db::JetOptionsFromText(db::ConnectionText::Parse(text), "", "").data_source;
    job.log.LogError(kInfo, " Compact Database " + file, "");
    const db::JetCompaction r = db::CompactJet(text);
    job.log.LogError(kInfo, " Compacted Database " + r.file + " from " + std::to_string(r.size_before) + " to " +
                                std::to_string(r.size_after) + " bytes", "");
  });
  if (!ok) job.database_failed = true;
}

}  // namespace

int FormLoad(Job& job) {
  const char* source = "Scourex Form_Load";
  Trap(job.log, source, [&] { InitGlobals(job); });
  job.log.LogError(kInfo, " Start Application Scourex  ", "");
  bool main_purged = false, journal_purged = false;
  if (job.settings.VisitorMonths > 0) {
    main_purged = Succeeded(job, [&] {
      return Trap(job.log, source, [&] {
        PurgeContext ctx{job.settings, job.MainConnection.get(), job.log, job.platform, job.database_failed};
        DeleteVisitors(ctx);
      });
    });
  }
  if (job.settings.EventMonths > 0) {
    journal_purged = Succeeded(job, [&] {
      return Trap(job.log, source, [&] {
        PurgeContext ctx{job.settings, job.JournalConnection.get(), job.log, job.platform, job.database_failed};
        DeleteEvents(ctx);
      });
    });
  }
  // SQL Server databases are never compacted; a purge that failed leaves its file as it is.
  if (job.settings.CompactAfterPurge && job.settings.DBType == 1) {
    if (main_purged && job.MainConnection) Compact(job, job.MainConnection, job.MainConnectionString);
    if (journal_purged && job.JournalConnection) Compact(job, job.JournalConnection, job.JournalConnectionString);
  }
  job.log.LogError(kInfo, " Stop Application Scourex  \r\n", "");
  // Ending the run releases both connections.
  job.MainConnection.reset();
  job.JournalConnection.reset();
  return job.database_failed || job.installation_failed || job.log.FileFailed() ? 1 : 0;
}

}  // namespace scourex
