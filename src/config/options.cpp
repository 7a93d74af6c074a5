#include "config/options.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <new>
#include <vector>

#include "common/error.h"
#include "common/text.h"
#include "common/text_encoding.h"

namespace scourex {
namespace {

// The reader counts positions in a signed 16-bit counter, as the product always has.
constexpr std::size_t kMaxLinePosition = 32767;

// Lines end at CR LF, at a lone CR and at a lone LF.
std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0, i = 0;
  while (i < text.size()) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(text.substr(start, i - start));
      i += (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
      start = i;
    } else {
      ++i;
    }
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::int16_t Narrow(double v) {
  if (!(v >= -32768.5 && v <= 32767.5)) throw runtime::Make(runtime::kOverflow);
  double r = std::nearbyint(v);  // default rounding: half to even
  if (r < -32768 || r > 32767) throw runtime::Make(runtime::kOverflow);
  return static_cast<std::int16_t>(r);
}

std::int16_t ConvertRadix(std::string_view digits, int radix) {
  if (digits.empty() || digits.size() > 16) throw runtime::Make(runtime::kTypeMismatch);
  std::uint64_t v = 0;
  for (char c : digits) {
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else throw runtime::Make(runtime::kTypeMismatch);
    if (d >= radix) throw runtime::Make(runtime::kTypeMismatch);
    v = v * static_cast<unsigned>(radix) + static_cast<unsigned>(d);
    if (v > 0xFFFFFFFFull) throw runtime::Make(runtime::kOverflow);
  }
  // &H / &O literals wrap like a 16-bit integer when they fit in 16 bits.
  if (v <= 0xFFFF) return static_cast<std::int16_t>(static_cast<std::uint16_t>(v));
  throw runtime::Make(runtime::kOverflow);
}

}  // namespace

std::int16_t ConvertInteger(std::string_view text) {
  std::size_t b = 0, e = text.size();
  while (b < e && IsBlank(text[b])) ++b;
  while (e > b && IsBlank(text[e - 1])) --e;
  std::string_view s = text.substr(b, e - b);
  if (s.size() > 2 && s[0] == '&' && (s[1] == 'H' || s[1] == 'h')) return ConvertRadix(s.substr(2), 16);
  if (s.size() > 2 && s[0] == '&' && (s[1] == 'O' || s[1] == 'o')) return ConvertRadix(s.substr(2), 8);

  // sign? digits [. digits] [(e|d) sign? digits], at least one digit in the mantissa
  std::size_t i = 0;
  std::string normal;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) normal += s[i++];
  std::size_t digits = 0;
  while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) normal += s[i++], ++digits;
  if (i < s.size() && s[i] == '.') {
    normal += s[i++];
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) normal += s[i++], ++digits;
  }
  if (digits == 0) throw runtime::Make(runtime::kTypeMismatch);
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
    normal += 'e';
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) normal += s[i++];
    std::size_t exp_digits = 0;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) normal += s[i++], ++exp_digits;
    if (exp_digits == 0) throw runtime::Make(runtime::kTypeMismatch);
  }
  if (i != s.size()) throw runtime::Make(runtime::kTypeMismatch);
  return Narrow(std::strtod(normal.c_str(), nullptr));
}

void DefaultOptions(Settings& settings) {
  settings.SQLServerDateFormat = kDefaultSqlServerDateFormat;
  settings.DatabaseTimeout = 0;
  settings.LogFile = "Scourex.log";
  settings.EventMonths = 3;
  settings.VisitorMonths = 2;
  settings.VisitorCheckCreationDate = 1;
}

namespace {

// Applies one line; returns normally when the line is stored or skipped.
void ApplyLine(Settings& settings, std::string_view line) {
  if (line.empty() || line[0] == ';' || line[0] == '[') return;
  if (line.size() > kMaxLinePosition) throw runtime::Make(runtime::kOverflow);
  std::size_t eq = line.find('=');
  if (eq == std::string_view::npos) {
    if (line.size() == kMaxLinePosition) throw runtime::Make(runtime::kOverflow);
    return;
  }
  std::string key = LowerAscii(TrimSpaces(line.substr(0, eq)));
  static const char* const kKeys[] = {"dbsfolder",     "dbtype",        "sql_connect",
                                      "sqlserverdateformat", "databasetimeout", "logfile",
                                      "visitormonths", "visitorcheckcreationdate", "eventmonths",
                                      "deletealsocardholder", "compactafterpurge"};
  bool known = false;
  for (const char* k : kKeys) known = known || key == k;
  if (!known) return;
  if (eq + 1 == kMaxLinePosition) throw runtime::Make(runtime::kOverflow);
  std::string value = TrimSpaces(line.substr(eq + 1));

  if (key == "dbsfolder") settings.DbsFolder = value;
  else if (key == "dbtype") settings.DBType = ConvertInteger(value);
  else if (key == "sql_connect") settings.SQL_Connect = value;
  else if (key == "sqlserverdateformat") settings.SQLServerDateFormat = value;
  else if (key == "databasetimeout") settings.DatabaseTimeout = ConvertInteger(value);
  else if (key == "logfile") settings.LogFile = value;
  else if (key == "visitormonths") settings.VisitorMonths = ConvertInteger(value);
  else if (key == "visitorcheckcreationdate") settings.VisitorCheckCreationDate = ConvertInteger(value);
  else if (key == "eventmonths") settings.EventMonths = ConvertInteger(value);
  else if (key == "deletealsocardholder") settings.DeleteAlsoCardholder = value == "1";
  else if (key == "compactafterpurge") settings.CompactAfterPurge = value == "1";
}

}  // namespace

void ReAdoptions(Settings& settings, Platform& platform, Logger& log, const std::string& path) {
  try {
    // Saved by Notepad or PowerShell in UTF-16 or UTF-8, or in the site's code page.
    const std::optional<std::string> text = DecodeOptionsText(platform.ReadFile(path), platform.CodePageDecoder());
    if (!text) {
      throw Error(runtime::kInvalidFileFormat,
                  "The options file '" + path +
                      "' is not text: it holds NUL bytes and no byte-order mark. Save it as ANSI, UTF-8 or Unicode "
                      "text, as Notepad does.");
    }
    for (std::string_view line : SplitLines(*text)) ApplyLine(settings, line);
  } catch (const Error& e) {
    // The reader's number text carries the leading space of a non-negative number.
    std::string number = (e.number() >= 0 ? " " : "") + std::to_string(e.number());
    log.LogError(number, e.description(), "Options ReAdoptions");
    return;
  } catch (const std::bad_alloc&) {
    // Any other failure ends the reading of this file the same way, not the whole run;
    // numbers and texts as the job's trap gives them.
    log.LogError(" 7", "Out of memory", "Options ReAdoptions");
    return;
  } catch (const std::exception& e) {
    log.LogError(" 51", std::string("Internal error: ") + e.what(), "Options ReAdoptions");
    return;
  }
  if (!settings.DbsFolder.empty() && settings.DbsFolder.back() != platform.PathSeparator()) {
    settings.DbsFolder += platform.PathSeparator();
  }
  if (settings.DBType != 2) settings.DBType = 1;
  if (settings.LogFile.empty()) settings.LogFile = "Scourex.Log";
}

}  // namespace scourex
