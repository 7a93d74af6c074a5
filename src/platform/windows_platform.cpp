// The job's platform on Windows: the interfaces of the product's own runtime (the ANSI
// code page for everything that leaves or enters as text, OutputDebugStringA, the system
// beep, appends in shared mode) behind the same interface as the POSIX one.

// The interface first: windows.h names its A/W variants through macros that would
// otherwise rename its methods.
#include "platform/platform.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/error.h"
#include "jet/windows_text.h"

#undef SetCurrentDirectory

namespace scourex {
namespace {

using jet::os::windows::FromCodePage;
using jet::os::windows::Narrow;
using jet::os::windows::PlainPath;
using jet::os::windows::SystemPath;
using jet::os::windows::ToCodePage;
using jet::os::windows::Widen;

// The classic runtime's answer to a failed open.
Error OpenError(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
      return runtime::Make(runtime::kFileNotFound);
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_DIRECTORY:
      return runtime::Make(runtime::kPathNotFound);
    default:
      return runtime::Make(runtime::kPathFileAccess);
  }
}

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() {
    if (valid()) CloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  HANDLE get() const { return h_; }
  HANDLE release() {
    HANDLE h = h_;
    h_ = INVALID_HANDLE_VALUE;
    return h;
  }

 private:
  HANDLE h_;
};

std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return PlainPath(path);
    }
    path.resize(path.size() * 2);  // a long path: the name was cut, try a larger buffer
  }
}

// The folder with links and short names resolved, in lower case, to name the installation's
// lock whatever path reached it.
std::wstring CanonicalFolder(const std::string& folder) {
  std::wstring wide = SystemPath(folder);
  Handle h(CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  std::wstring result;
  if (h.valid()) {
    DWORD n = GetFinalPathNameByHandleW(h.get(), nullptr, 0, FILE_NAME_NORMALIZED);
    if (n > 0) {
      result.resize(n);
      n = GetFinalPathNameByHandleW(h.get(), result.data(), n, FILE_NAME_NORMALIZED);
      result.resize(n);
    }
  }
  if (result.empty()) result = wide;
  while (!result.empty() && result.back() == L'\\') result.pop_back();
  CharLowerBuffW(result.data(), static_cast<DWORD>(result.size()));
  return result;
}

class WindowsPlatform final : public Platform {
 public:
  WindowsPlatform() {
    std::string exe = Narrow(ModulePath());
    auto slash = exe.find_last_of("\\/");
    folder_ = slash == std::string::npos ? "." : exe.substr(0, slash);
    name_ = slash == std::string::npos ? exe : exe.substr(slash + 1);
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    if (err != nullptr && err != INVALID_HANDLE_VALUE && GetFileType(err) != FILE_TYPE_UNKNOWN) stderr_ = err;
  }
  ~WindowsPlatform() override {
    if (holder_record_ != nullptr) CloseHandle(holder_record_);
    if (installation_mutex_ != nullptr) CloseHandle(installation_mutex_);
  }
  WindowsPlatform(const WindowsPlatform&) = delete;
  WindowsPlatform& operator=(const WindowsPlatform&) = delete;

  std::string ExecutableFolder() override { return folder_; }
  std::string ExecutableName() override { return name_; }
  char PathSeparator() const override { return '\\'; }

  void SetCurrentDirectory(const std::string& folder) override {
    // Sets the current drive too. A folder beyond the classic path length can only be
    // made current by its short name.
    std::wstring wide = Widen(folder);
    if (SetCurrentDirectoryW(wide.c_str())) return;
    std::wstring extended = SystemPath(folder);
    DWORD n = GetShortPathNameW(extended.c_str(), nullptr, 0);
    if (n > 0) {
      std::wstring short_name(n, L'\0');
      n = GetShortPathNameW(extended.c_str(), short_name.data(), n);
      short_name.resize(n);
      if (n > 0 && SetCurrentDirectoryW(PlainPath(short_name).c_str())) return;
    }
    throw runtime::Make(runtime::kPathNotFound);
  }

  std::vector<std::string> ListFiles() override { return List(true); }
  std::vector<std::string> ListOtherEntries() override { return List(false); }

  void RequireRegularFile(const std::string& path) override {
    DWORD attributes = GetFileAttributesW(SystemPath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      DWORD code = GetLastError();
      if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return;  // nothing stands there
      throw OpenError(code);
    }
    if (const char* what = KindOf(attributes)) throw NotRegularFile(path, what);
    Handle h(CreateFileW(SystemPath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (h.valid() && GetFileType(h.get()) != FILE_TYPE_DISK) throw NotRegularFile(path, "a device");
  }

  std::string ReadFile(const std::string& path) override {
    Handle h(OpenRegular(path, GENERIC_READ, OPEN_EXISTING));
    std::string data;
    char buf[65536];
    for (;;) {
      DWORD got = 0;
      if (!::ReadFile(h.get(), buf, sizeof buf, &got, nullptr)) throw runtime::Make(runtime::kPathFileAccess);
      if (got == 0) break;
      data.append(buf, got);
    }
    return data;
  }

  LegacyDecoder CodePageDecoder() const override {
    return [](std::string_view bytes) { return Narrow(FromCodePage(bytes, CP_ACP)); };
  }

  void AppendToFile(const std::string& path, const std::string& line) override {
    // Append-only access writes each line at the end, whoever else writes; the sharing
    // lets operators read (and other programs write) the log meanwhile.
    Handle h(OpenRegular(path, FILE_APPEND_DATA, OPEN_ALWAYS));
    std::string bytes = Ansi(line);
    DWORD put = 0;
    if (!WriteFile(h.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) || put != bytes.size())
      throw runtime::Make(runtime::kPathFileAccess);
  }

  bool LockInstallation(const std::string& folder) override {
    // A named mutex for the folder: the system releases it when the process ends, however
    // it ends, and it leaves nothing behind in the folder. Global, so that a run by the
    // Task Scheduler and one from a desktop session meet.
    const std::wstring name = L"Global\\" + LockName(folder);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    if (mutex == nullptr) return GetLastError() != ERROR_ACCESS_DENIED;  // denied: another account's run holds it
    DWORD wait = WaitForSingleObject(mutex, 0);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
      CloseHandle(mutex);
      return false;
    }
    installation_mutex_ = mutex;  // held until the process ends
    PublishHolder(LockName(folder) + L"-holder");
    return true;
  }

  std::optional<InstallationHolder> InstallationHolderOf(const std::string& folder) override {
    const std::wstring name = LockName(folder) + L"-holder";
    for (const wchar_t* space : {L"Global\\", L"Local\\"}) {
      HANDLE mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, (space + name).c_str());
      if (mapping == nullptr) continue;
      std::optional<InstallationHolder> holder;
      if (const auto* record = static_cast<const HolderRecord*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0))) {
        if (record->magic == kHolderMagic && record->process_id != 0) {
          InstallationHolder found;
          found.process_id = record->process_id;
          FILETIME local;
          SYSTEMTIME st;
          if (FileTimeToLocalFileTime(&record->since, &local) && FileTimeToSystemTime(&local, &st)) {
            found.since = LocalDateTime{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
          }
          holder = found;
        }
        UnmapViewOfFile(record);
      }
      CloseHandle(mapping);
      if (holder) return holder;
    }
    return std::nullopt;
  }

  LocalDateTime Now() override {
    SYSTEMTIME st;
    GetLocalTime(&st);
    return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
  }

  std::string FormatDateTime(const LocalDateTime& t) override {
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(t.year);
    st.wMonth = static_cast<WORD>(t.month);
    st.wDay = static_cast<WORD>(t.day);
    st.wHour = static_cast<WORD>(t.hour);
    st.wMinute = static_cast<WORD>(t.minute);
    st.wSecond = static_cast<WORD>(t.second);
    wchar_t date[128];
    wchar_t time[128];
    if (GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, date, 128, nullptr) == 0 ||
        GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, 0, &st, nullptr, time, 128) == 0)
      return IsoDateTime(t);
    return Narrow(date) + " " + Narrow(time);
  }

  void Debug(const std::string& line) override {
    std::string out = Ansi(line + "\r\n");
    OutputDebugStringA(out.c_str());
    if (stderr_ != nullptr) {
      DWORD put = 0;
      WriteFile(stderr_, out.data(), static_cast<DWORD>(out.size()), &put, nullptr);
    }
  }

  void Beep() override { MessageBeep(MB_OK); }

 private:
  static std::vector<std::string> List(bool regular) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found;
    HANDLE search =
        FindFirstFileExW(L"*", FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE) {
      if (GetLastError() == ERROR_FILE_NOT_FOUND) return names;
      throw runtime::Make(runtime::kPathNotFound);
    }
    do {
      std::wstring name = found.cFileName;
      if (name == L"." || name == L".." || (found.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)))
        continue;
      if ((KindOf(found.dwFileAttributes) == nullptr) == regular) names.push_back(Narrow(name));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
  }

  // What the attributes say stands there when it is not a plain file; null for a file.
  static const char* KindOf(DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return "a link (a reparse point)";
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return "a folder";
    if (attributes & FILE_ATTRIBUTE_DEVICE) return "a device";
    return nullptr;
  }

  // Opens `path` only when it is a regular file on disk: a reparse point at the last
  // component is opened as itself (never followed) and refused, and so are folders, pipes
  // and devices.
  static HANDLE OpenRegular(const std::string& path, DWORD access, DWORD disposition) {
    HANDLE h = CreateFileW(SystemPath(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, disposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      DWORD code = GetLastError();
      DWORD attributes = GetFileAttributesW(SystemPath(path).c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (const char* what = KindOf(attributes)) throw NotRegularFile(path, what);
      }
      throw OpenError(code);
    }
    Handle owned(h);
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(h) != FILE_TYPE_DISK) throw NotRegularFile(path, "a device or a pipe");
    if (!GetFileInformationByHandle(h, &info)) throw runtime::Make(runtime::kPathFileAccess);
    if (const char* what = KindOf(info.dwFileAttributes)) throw NotRegularFile(path, what);
    return owned.release();
  }

  static std::string Ansi(const std::string& utf8) { return ToCodePage(Widen(utf8), CP_ACP); }

  // What the holder of an installation's lock publishes for later runs, in memory named
  // after the lock: the system removes it with the holder's last handle.
  struct HolderRecord {
    DWORD process_id;
    FILETIME since;
    DWORD magic;  // written last: a record without it is not complete yet
  };
  static constexpr DWORD kHolderMagic = 0x5843534Fu;

  // The name of an installation's lock: the folder with links and short names resolved,
  // hashed.
  static std::wstring LockName(const std::string& folder) {
    std::wstring canonical = CanonicalFolder(folder);
    std::uint64_t hash = 14695981039346656037ull;
    for (wchar_t c : canonical) {
      hash ^= static_cast<std::uint16_t>(c);
      hash *= 1099511628211ull;
    }
    wchar_t name[64];
    swprintf(name, 64, L"Scourex-installation-%016llx", static_cast<unsigned long long>(hash));
    return name;
  }

  // Global where this account may create it (services and administrators), else in this
  // session: a later run in the same session still finds it.
  void PublishHolder(const std::wstring& name) {
    for (const wchar_t* space : {L"Global\\", L"Local\\"}) {
      HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(HolderRecord),
                                          (space + name).c_str());
      if (mapping == nullptr) continue;
      if (GetLastError() == ERROR_ALREADY_EXISTS) {  // not ours: the lock's holder is this process
        CloseHandle(mapping);
        continue;
      }
      if (auto* record = static_cast<HolderRecord*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(HolderRecord)))) {
        record->process_id = GetCurrentProcessId();
        GetSystemTimeAsFileTime(&record->since);
        MemoryBarrier();
        record->magic = kHolderMagic;
        UnmapViewOfFile(record);
        holder_record_ = mapping;  // kept until the process ends
        return;
      }
      CloseHandle(mapping);
    }
  }

  std::string folder_;
  std::string name_;
  HANDLE stderr_ = nullptr;  // only when the starter gave one: a scheduled run has none
  HANDLE installation_mutex_ = nullptr;
  HANDLE holder_record_ = nullptr;
};

}  // namespace

std::unique_ptr<Platform> CreateSystemPlatform() { return std::make_unique<WindowsPlatform>(); }

}  // namespace scourex
