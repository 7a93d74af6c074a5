#pragma once
// The numbers the job's log shows for database failures. They are the values the
// product's data access layer reported for each class of failure, so that operators and
// their tooling recognise them whatever backend sits underneath.

namespace scourex::db::errnum {

inline constexpr long kGeneral = -2147467259;            // unspecified or connection failure
inline constexpr long kBadConnectionText = -2147217805;  // connection text is malformed
inline constexpr long kCommandText = -2147217900;        // error in the command text
inline constexpr long kUnknownTable = -2147217865;       // table or view does not exist
inline constexpr long kUnknownColumn = -2147217904;      // column does not exist
inline constexpr long kLoginFailed = -2147217843;        // authentication refused
inline constexpr long kTimeout = -2147217871;            // query or login timeout expired
inline constexpr long kIntegrity = -2147217873;          // constraint violated
inline constexpr long kPermissionDenied = -2147217911;   // the server refused the statement to this login
inline constexpr long kConversion = -2147217913;         // a value (a date literal) cannot be converted
inline constexpr long kProviderNotFound = -2146824582;   // provider named in the text is unknown
inline constexpr long kBadArgument = -2146825287;        // argument out of the acceptable range

}  // namespace scourex::db::errnum
