#pragma once
// UTF-8, the text of the programs' own code, to and from the system's wide texts and its
// ANSI code page. For the Windows sources only.

#include <windows.h>

#include <string>
#include <string_view>

namespace jet::os::windows {

inline std::wstring FromCodePage(std::string_view text, UINT code_page) {
  if (text.empty()) return {};
  int n = MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

// Characters the code page lacks become its default character ("?").
inline std::string ToCodePage(std::wstring_view text, UINT code_page) {
  if (text.empty()) return {};
  int n = WideCharToMultiByte(code_page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0)
    WideCharToMultiByte(code_page, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

inline std::wstring Widen(std::string_view utf8) { return FromCodePage(utf8, CP_UTF8); }
inline std::string Narrow(std::wstring_view wide) { return ToCodePage(wide, CP_UTF8); }

inline bool IsUtf8(std::string_view text) {
  return text.empty() || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                                             nullptr, 0) > 0;
}

// The system's message for `code`, without its line end.
inline std::string SystemMessage(DWORD code) {
  wchar_t* buffer = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = n > 0 && buffer != nullptr ? std::wstring(buffer, n) : std::wstring();
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ' || text.back() == L'.'))
    text.pop_back();
  if (text.empty()) return "system error " + std::to_string(code);
  return Narrow(text) + " (system error " + std::to_string(code) + ")";
}

}  // namespace jet::os::windows

namespace jet::os::windows {

// A path as the wide file functions take it: slashes as backslashes, and an absolute path
// of MAX_PATH or more characters in the extended form (\\?\), which has no length limit.
// Paths are UTF-8, except those given on a command line, which come in the ANSI code
// page: text that is not UTF-8 is read as such.
inline std::wstring SystemPath(std::string_view text) {
  std::wstring path = FromCodePage(text, IsUtf8(text) ? CP_UTF8 : CP_ACP);
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  if (path.size() < MAX_PATH - 12 || path.rfind(L"\\\\?\\", 0) == 0) return path;
  if (path.size() > 2 && path[1] == L':' && path[2] == L'\\') return L"\\\\?\\" + path;
  if (path.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + path.substr(2);
  return path;
}

// A path from the system with its extended prefix taken off.
inline std::wstring PlainPath(std::wstring path) {
  if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\\\" + path.substr(8);
  if (path.rfind(L"\\\\?\\", 0) == 0) return path.substr(4);
  return path;
}

}  // namespace jet::os::windows
