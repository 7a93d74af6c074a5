#pragma once
// Values as tab-separated text, the layout used to compare databases: NULL as \N, dates
// "yyyy-MM-dd HH:mm:ss", true/false, plain decimals (no exponent, no trailing zeros),
// 0x-hex for binary, {GUID}, and in text the escapes \\ \t \r \n.

#include <string>
#include <vector>

#include "jet/value.h"

namespace jet {

std::string FormatTsvValue(const Value& v);
// The fields joined by tabs (no line end).
std::string FormatTsvRow(const std::vector<Value>& row);
std::string EscapeTsvText(const std::string& text);
// A GUID's 16 stored bytes as {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
std::string FormatGuid(const std::string& sixteen);

}  // namespace jet
