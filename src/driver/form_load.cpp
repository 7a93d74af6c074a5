#include "driver/job.h"
#include "log/trap.h"
#include "purge/purges.h"

namespace scourex {

int FormLoad(Job& job) {
  const char* source = "Scourex Form_Load";
  Trap(job.log, source, [&] { InitGlobals(job); });
  job.log.LogError(kInfo, " Start Application Scourex  ", "");
  if (job.settings.VisitorMonths > 0) {
    Trap(job.log, source, [&] {
      PurgeContext ctx{job.settings, job.MainConnection.get(), job.log, job.platform, job.database_failed};
      DeleteVisitors(ctx);
    });
  }
  if (job.settings.EventMonths > 0) {
    Trap(job.log, source, [&] {
      PurgeContext ctx{job.settings, job.JournalConnection.get(), job.log, job.platform, job.database_failed};
      DeleteEvents(ctx);
    });
  }
  job.log.LogError(kInfo, " Stop Application Scourex  \r\n", "");
  // Ending the run releases both connections.
  job.MainConnection.reset();
  job.JournalConnection.reset();
  return job.database_failed || job.installation_failed || job.log.FileFailed() ? 1 : 0;
}

}  // namespace scourex
