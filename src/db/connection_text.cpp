#include "db/connection_text.h"

#include <algorithm>
#include <cctype>

#include "common/error.h"
#include "db/error_numbers.h"

namespace scourex::db {

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

Error Malformed(const std::string& why) {
  return Error(errnum::kBadConnectionText, "The connection text is malformed: " + why + ".");
}

// Where a braced value that starts at `open` ends (one past its closing brace), or npos
// when the braces do not close. Two closing braces in a row stand for one.
size_t BracedEnd(std::string_view text, size_t open) {
  size_t pos = open + 1;
  while (pos < text.size()) {
    if (text[pos] == '}') {
      if (pos + 1 < text.size() && text[pos + 1] == '}') {
        pos += 2;
        continue;
      }
      return pos + 1;
    }
    ++pos;
  }
  return std::string_view::npos;
}

size_t SkipSpaces(std::string_view text, size_t pos) {
  while (pos < text.size() && IsSpace(text[pos])) ++pos;
  return pos;
}

}  // namespace

std::string Ordinal(int position) {
  const int tens = position % 100;
  const int units = position % 10;
  const char* suffix = (tens >= 11 && tens <= 13) ? "th"
                       : units == 1               ? "st"
                       : units == 2               ? "nd"
                       : units == 3               ? "rd"
                                                  : "th";
  return std::to_string(position) + suffix;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

std::string TrimWhitespace(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsSpace(text[begin])) ++begin;
  while (end > begin && IsSpace(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

namespace {

// The key of item `number`, up to the first `=` that is not doubled; `pos` ends past that
// `=`. Its text is not shown in errors: with an unquoted value holding a semicolon, the
// "key" is a piece of that value.
std::string ReadKey(std::string_view text, size_t& pos, int number) {
  std::string key;
  while (pos < text.size()) {
    const char c = text[pos];
    if (c == '=') {
      if (pos + 1 < text.size() && text[pos + 1] == '=') {
        key += '=';
        pos += 2;
        continue;
      }
      break;
    }
    if (c == ';') break;
    key += c;
    ++pos;
  }
  if (pos >= text.size() || text[pos] != '=')
    throw Malformed("its " + Ordinal(number) + " item has no '=' between its key and its value");
  ++pos;
  key = TrimWhitespace(key);
  if (key.empty()) throw Malformed("its " + Ordinal(number) + " item has an empty key");
  return key;
}

// A value in ' or " quotes, a doubled quote standing for one, with nothing after it but
// spaces before the next item.
void ReadQuotedValue(std::string_view text, size_t& pos, ConnectionItem& item) {
  const size_t value_start = pos;
  const char quote = text[pos++];
  bool closed = false;
  while (pos < text.size()) {
    if (text[pos] == quote) {
      if (pos + 1 < text.size() && text[pos + 1] == quote) {
        item.value += quote;
        pos += 2;
        continue;
      }
      ++pos;
      closed = true;
      break;
    }
    item.value += text[pos++];
  }
  if (!closed) throw Malformed("the quoted value of its " + Ordinal(item.position) + " item has no closing quote");
  item.raw_value = std::string(text.substr(value_start, pos - value_start));
  item.quoting = ConnectionItem::Quoting::kQuoted;
  pos = SkipSpaces(text, pos);
  if (pos < text.size() && text[pos] != ';')
    throw Malformed("unexpected characters follow the quoted value of its " + Ordinal(item.position) + " item");
}

// A value up to the next semicolon. A value in ODBC braces keeps its semicolons; anything
// else that starts with a brace is an ordinary value.
void ReadPlainValue(std::string_view text, size_t& pos, ConnectionItem& item) {
  size_t end = std::string_view::npos;
  if (pos < text.size() && text[pos] == '{') {
    const size_t close = BracedEnd(text, pos);
    if (close != std::string_view::npos) {
      const size_t after = SkipSpaces(text, close);
      if (after >= text.size() || text[after] == ';') {
        end = close;
        item.quoting = ConnectionItem::Quoting::kBraced;
      }
    }
  }
  if (end == std::string_view::npos) {
    end = text.find(';', pos);
    if (end == std::string_view::npos) end = text.size();
  }
  item.raw_value = TrimWhitespace(text.substr(pos, end - pos));
  item.value = item.raw_value;
  pos = end;
}

}  // namespace

ConnectionText ConnectionText::Parse(std::string_view text) {
  ConnectionText result;
  size_t pos = 0;
  int item_number = 0;
  while (true) {
    pos = SkipSpaces(text, pos);
    if (pos >= text.size()) break;
    if (text[pos] == ';') {
      ++pos;
      continue;
    }
    ConnectionItem item;
    item.position = ++item_number;
    item.key = ReadKey(text, pos, item.position);
    pos = SkipSpaces(text, pos);
    if (pos < text.size() && (text[pos] == '\'' || text[pos] == '"')) {
      ReadQuotedValue(text, pos, item);
    } else {
      ReadPlainValue(text, pos, item);
    }
    result.items_.push_back(std::move(item));
  }
  return result;
}

std::optional<std::string> ConnectionText::Get(std::string_view key) const {
  const bool first_wins = EqualsNoCase(key, "Provider");
  std::optional<std::string> found;
  for (const ConnectionItem& item : items_) {
    if (!EqualsNoCase(item.key, key)) continue;
    found = item.value;
    if (first_wins) break;
  }
  return found;
}

std::optional<std::string> ConnectionText::GetAny(std::initializer_list<std::string_view> keys) const {
  for (std::string_view key : keys) {
    if (auto value = Get(key)) return value;
  }
  return std::nullopt;
}

std::string KnownProvider(std::string_view provider) {
  std::string name = TrimWhitespace(provider);
  // A version after the name (SQLNCLI11.1) names the same provider.
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot + 1 < name.size() &&
      std::all_of(name.begin() + static_cast<std::ptrdiff_t>(dot) + 1, name.end(),
                  [](char c) { return c >= '0' && c <= '9'; })) {
    name.resize(dot);
  }
  static constexpr std::string_view kKnown[] = {"SQLOLEDB",   "SQLNCLI",      "SQLNCLI10", "SQLNCLI11",
                                                "MSOLEDBSQL", "MSOLEDBSQL19", "MSDASQL"};
  for (std::string_view known : kKnown) {
    if (EqualsNoCase(name, known)) return std::string(known);
  }
  return "";
}

ProviderKind ClassifyProvider(const std::optional<std::string>& provider) {
  if (!provider) return ProviderKind::kOdbc;
  const std::string name = TrimWhitespace(*provider);
  if (name.empty()) return ProviderKind::kOdbc;
  constexpr std::string_view kJetPrefix = "Microsoft.Jet.OLEDB";
  if (EqualsNoCase(name, kJetPrefix) ||
      (name.size() > kJetPrefix.size() && name[kJetPrefix.size()] == '.' &&
       EqualsNoCase(std::string_view(name).substr(0, kJetPrefix.size()), kJetPrefix))) {
    return ProviderKind::kJet;
  }
  const std::string known = KnownProvider(name);
  if (known.empty()) return ProviderKind::kUnknown;
  return known == "MSDASQL" ? ProviderKind::kOdbc : ProviderKind::kSqlServer;
}

std::string OdbcQuote(std::string_view value) {
  // Braces only when a driver would otherwise misread the value: some drivers keep a
  // doubled closing brace as two, so a value that needs none must not get them.
  const bool needs_braces = value.find(';') != std::string_view::npos ||
                            (!value.empty() && (value.front() == '{' || IsSpace(value.front()) || IsSpace(value.back())));
  if (!needs_braces) return std::string(value);
  std::string quoted = "{";
  for (char c : value) {
    quoted += c;
    if (c == '}') quoted += '}';
  }
  quoted += '}';
  return quoted;
}

bool IsPasswordKey(std::string_view key) {
  const std::string trimmed = TrimWhitespace(key);
  constexpr std::string_view kPassword = "password";
  if (EqualsNoCase(trimmed, "pwd")) return true;
  return trimmed.size() >= kPassword.size() &&
         EqualsNoCase(std::string_view(trimmed).substr(trimmed.size() - kPassword.size()), kPassword);
}

std::string ScrubSecrets(std::string text, const std::vector<std::string>& secrets) {
  constexpr std::string_view kMask = "***";
  // The secrets themselves first, wherever a driver might have echoed them. Very short
  // ones cannot be told apart from ordinary words; the rule below covers their echoes.
  for (const std::string& secret : secrets) {
    if (secret.size() < 3) continue;
    size_t pos = 0;
    while ((pos = text.find(secret, pos)) != std::string::npos) {
      text.replace(pos, secret.size(), kMask);
      pos += kMask.size();
    }
  }
  // Then `pwd=...` and `...password=...` wherever they appear, however the value is
  // written. An unquoted value in a message ends where the echoed text plausibly does.
  for (std::string_view name : {std::string_view("pwd"), std::string_view("password")}) {
    std::string lowered(text.size(), '\0');
    std::transform(text.begin(), text.end(), lowered.begin(), Lower);
    size_t search = 0;
    while (search < text.size()) {
      const size_t hit = lowered.find(name, search);
      if (hit == std::string::npos) break;
      const size_t pos = SkipSpaces(text, hit + name.size());
      if (pos >= text.size() || text[pos] != '=' || (pos + 1 < text.size() && text[pos + 1] == '=')) {
        search = hit + name.size();
        continue;
      }
      const size_t value_start = SkipSpaces(text, pos + 1);
      size_t value_end = std::string::npos;
      if (value_start < text.size()) {
        const char first = text[value_start];
        if (first == '{') {
          value_end = BracedEnd(text, value_start);
        } else if (first == '\'' || first == '"') {
          value_end = text.find(first, value_start + 1);
          if (value_end != std::string::npos) ++value_end;
        }
      }
      if (value_end == std::string::npos) {
        value_end = value_start;
        while (value_end < text.size() && !IsSpace(text[value_end]) &&
               std::string_view(";)]'\"").find(text[value_end]) == std::string_view::npos) {
          ++value_end;
        }
      }
      if (text.compare(value_start, value_end - value_start, kMask) != 0) {
        text.replace(value_start, value_end - value_start, kMask);
        lowered.resize(text.size());
        std::transform(text.begin(), text.end(), lowered.begin(), Lower);
      }
      search = value_start + kMask.size();
    }
  }
  return text;
}

}  // namespace scourex::db
