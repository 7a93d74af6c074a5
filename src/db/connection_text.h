#pragma once
// Connection texts as the job's configuration holds them: `key=value` items separated by
// semicolons, read the way the product's data access layer read them. Keys are
// case-insensitive and trimmed; `==` inside a key stands for one `=`; a value is trimmed
// unless it is quoted with ' or " (a doubled quote inside stands for one); empty items are
// skipped. A value may also be written in ODBC braces ({...}, `}}` for one `}`), which
// texts meant for ODBC drivers use: the braces stay part of the value and only keep the
// semicolons inside from splitting it.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace scourex::db {

struct ConnectionItem {
  enum class Quoting { kNone, kQuoted, kBraced };
  std::string key;        // as written, trimmed, `==` already folded
  std::string value;      // the value the provider sees
  std::string raw_value;  // the value as written, trimmed (quotes or braces kept)
  Quoting quoting = Quoting::kNone;
  int position = 0;       // 1 for the text's first item, empty items not counted
};

// "1st", "2nd", "3rd", "4th", "11th", "21st": messages name an item by its position, since
// its key may be a piece of a secret (an unquoted password holding a semicolon).
std::string Ordinal(int position);

class ConnectionText {
 public:
  // Throws scourex::Error (errnum::kBadConnectionText) for an unbalanced quote or brace,
  // an item without `=`, or an empty key. The error names the item by its position and
  // quotes nothing of the text.
  static ConnectionText Parse(std::string_view text);

  const std::vector<ConnectionItem>& items() const { return items_; }
  // The value of the last item with this key (case-insensitive); for Provider the first,
  // as the product's layer did.
  std::optional<std::string> Get(std::string_view key) const;
  // The first key of `keys` that is present, in the order given.
  std::optional<std::string> GetAny(std::initializer_list<std::string_view> keys) const;

 private:
  std::vector<ConnectionItem> items_;
};

enum class ProviderKind { kJet, kSqlServer, kOdbc, kUnknown };

// The name of a SQL Server or ODBC provider the job knows (SQLOLEDB, SQLNCLI, SQLNCLI10,
// SQLNCLI11, MSOLEDBSQL, MSOLEDBSQL19, MSDASQL), in that spelling, whatever the letter case
// and with or without a version (".1", as data-link files write it); empty for any other.
std::string KnownProvider(std::string_view provider);

// Classifies a Provider value: Microsoft.Jet.OLEDB.* is Jet; SQLOLEDB, SQLNCLI* and
// MSOLEDBSQL* are SQL Server; MSDASQL (or no provider at all) is plain ODBC.
ProviderKind ClassifyProvider(const std::optional<std::string>& provider);

bool EqualsNoCase(std::string_view a, std::string_view b);
// Without leading and trailing white space of every kind, as the OLE DB providers read
// connection texts (the options files' TrimSpaces takes off only spaces).
std::string TrimWhitespace(std::string_view text);

// Writes `value` for an ODBC connection text, in braces (a '}' inside doubled) only when
// ODBC would otherwise misread it: it holds a ';', starts with '{', or has spaces at its ends.
std::string OdbcQuote(std::string_view value);

// Replaces with "***" the values of password-like keys (PWD, Password, Jet OLEDB:Database
// Password, ...) wherever a `key=value` appears in `text`, and every occurrence of each
// of `secrets`. Used on anything that might be shown to an operator.
std::string ScrubSecrets(std::string text, const std::vector<std::string>& secrets);

// Whether a key names a password.
bool IsPasswordKey(std::string_view key);

}  // namespace scourex::db
