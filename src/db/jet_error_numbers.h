#pragma once
// The number the job's log, and the engine's tools, show for each class of the Jet
// engine's failures: the one the product's data access layer reported for it.

#include "db/error_numbers.h"
#include "jet/error.h"

namespace scourex::db {

inline long JetErrorNumber(jet::ErrorCode code) {
  switch (code) {
    case jet::ErrorCode::WrongPassword: return errnum::kLoginFailed;
    case jet::ErrorCode::Syntax:
    case jet::ErrorCode::Unsupported: return errnum::kCommandText;
    case jet::ErrorCode::UnknownTable: return errnum::kUnknownTable;
    case jet::ErrorCode::UnknownColumn: return errnum::kUnknownColumn;
    case jet::ErrorCode::TypeMismatch: return errnum::kConversion;
    case jet::ErrorCode::Timeout: return errnum::kTimeout;
    case jet::ErrorCode::Integrity: return errnum::kIntegrity;
    default: return errnum::kGeneral;
  }
}

}  // namespace scourex::db
