#include "jet/error.h"

namespace jet {

long ErrorNumber(ErrorCode code) {
  switch (code) {
    case ErrorCode::WrongPassword: return -2147217843;  // DB_SEC_E_AUTH_FAILED
    case ErrorCode::Syntax:
    case ErrorCode::Unsupported: return -2147217900;    // DB_E_ERRORSINCOMMAND
    case ErrorCode::UnknownTable: return -2147217865;   // DB_E_NOTABLE
    case ErrorCode::UnknownColumn: return -2147217904;  // DB_E_PARAMNOTOPTIONAL
    case ErrorCode::TypeMismatch: return -2147217913;   // DB_E_CANTCONVERTVALUE
    case ErrorCode::Timeout: return -2147217871;        // DB_E_ABORTLIMITREACHED
    case ErrorCode::Integrity: return -2147217873;      // DB_E_INTEGRITYVIOLATION
    default: return -2147467259;                        // E_FAIL
  }
}

}  // namespace jet
