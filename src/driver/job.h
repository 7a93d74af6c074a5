#pragma once
// The job's state for one run: written by the initialisation, read by the purges and the
// log. One object, created by the entry point and handed to every procedure.

#include <functional>
#include <memory>
#include <string>

#include "config/options.h"
#include "db/connection.h"
#include "log/log_error.h"
#include "platform/platform.h"

namespace scourex {

using ConnectionFactory = std::function<std::unique_ptr<db::Connection>()>;

struct Job {
  Job(Platform& p, ConnectionFactory factory) : platform(p), create_connection(std::move(factory)) {}

  Platform& platform;
  ConnectionFactory create_connection;

  Settings settings;
  std::string AppFolder;
  std::string ProductBase;
  std::string OptionsFileName;
  std::string MainDatabasePath;
  std::string JournalDatabasePath;
  std::string MainConnectionString;
  std::string JournalConnectionString;
  std::unique_ptr<db::Connection> MainConnection;
  std::unique_ptr<db::Connection> JournalConnection;

  Logger log{platform, OptionsFileName, settings.LogFile};
  bool database_failed = false;  // a connection did not open or a command failed
  bool owns_installation = false;  // no other run of the job works on this installation
  std::string installation_holder;  // when another run holds it: which process and since when
  // a marker, options file or log of the installation is something other than a regular file
  bool installation_failed = false;
};

// Finds the installation, reads the options, names the databases, opens the connections.
void InitGlobals(Job& job);

// The whole run; returns the process exit status. The name is the product's own: there
// the start-up form's load handler ran the whole job.
int FormLoad(Job& job);

}  // namespace scourex
