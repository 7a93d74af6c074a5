// Scourex: the unattended maintenance job. It takes no arguments, asks nothing and shows
// nothing; the log file and the diagnostic channel are its only traces.

#include "db/connection.h"
#include "driver/job.h"
#include "platform/platform.h"

int main() {
  auto platform = scourex::CreateSystemPlatform();
  scourex::Job job(*platform, [] { return scourex::db::CreateConnection(); });
  return scourex::FormLoad(job);
}
