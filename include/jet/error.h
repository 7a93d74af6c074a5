#pragma once
// Errors of the Jet engine: a class of failure and a description that names the file,
// table or column concerned. The number a user of the engine shows for each class is its
// own choice (the job's is in db/jet_error_numbers.h).

#include <stdexcept>
#include <string>

namespace jet {

enum class ErrorCode {
  Io,             // a read, write, sync or lock of the file failed
  FileNotFound,   // the database file does not exist
  AccessDenied,   // no permission to open the file
  NotJet,         // the file is not a Jet database
  Corrupt,        // a page, a table definition, a row or an index does not make sense
  WrongPassword,  // the database password does not match
  Syntax,         // an error in the command text (the position is in the description)
  Unsupported,    // valid SQL outside what this engine executes
  UnknownTable,
  UnknownColumn,
  TypeMismatch,   // values of types that cannot be compared or converted
  Locked,         // another program holds the file open
  Timeout,        // the command ran longer than its timeout
  Integrity,      // a delete refused by an enforced relationship
  ReadOnly,       // a change on a file opened for reading only
};

class Error : public std::runtime_error {
 public:
  Error(ErrorCode code, const std::string& description)
      : std::runtime_error(description), code_(code) {}
  ErrorCode code() const { return code_; }

 private:
  ErrorCode code_;
};

}  // namespace jet
