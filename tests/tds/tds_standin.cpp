#include "tds/tds_standin.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "common/text_encoding.h"
#include "db/odbc_backend.h"
#include "db/odbc_text.h"

namespace scourex::testing {

namespace {

// Packet types.
constexpr std::uint8_t kSqlBatch = 0x01;
constexpr std::uint8_t kLogin7 = 0x10;
constexpr std::uint8_t kPreLogin = 0x12;
constexpr size_t kHeaderSize = 8;
constexpr size_t kMaxConnections = 8;

// DONE status bits, and the token a statement inside a procedure or trigger ends with.
constexpr std::uint16_t kDoneMore = 0x01;
constexpr std::uint16_t kDoneError = 0x02;
constexpr std::uint16_t kDoneCount = 0x10;
constexpr std::uint8_t kDoneInProc = 0xFF;

unsigned Byte(const std::string& s, size_t at) { return static_cast<std::uint8_t>(s[at]); }
unsigned Le16(const std::string& s, size_t at) { return Byte(s, at) | (Byte(s, at + 1) << 8); }
std::uint32_t Le32(const std::string& s, size_t at) { return Le16(s, at) | (std::uint32_t{Le16(s, at + 2)} << 16); }

void PutLe(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::string Ucs2(const std::string& utf8) {
  std::string out;
  for (char16_t unit : Utf8ToUtf16(utf8)) PutLe(out, unit, 2);
  return out;
}

std::string FromUcs2(const std::string& bytes) {
  std::u16string units;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) units += static_cast<char16_t>(Le16(bytes, i));
  return Utf16ToUtf8(units);
}

std::string BVarchar(const std::string& utf8) {
  const std::string text = Ucs2(utf8);
  return static_cast<char>(text.size() / 2) + text;
}

std::string Token(std::uint8_t type, const std::string& body) {
  std::string out(1, static_cast<char>(type));
  PutLe(out, body.size(), 2);
  return out + body;
}

std::string EnvChange(std::uint8_t type, const std::string& now, const std::string& before) {
  return Token(0xE3, static_cast<char>(type) + BVarchar(now) + BVarchar(before));
}

// An ERROR (0xAA) or INFO (0xAB) token.
std::string Message(std::uint8_t type, long number, int severity, const std::string& text, int state = 1) {
  std::string body;
  PutLe(body, static_cast<std::uint32_t>(number), 4);
  body += static_cast<char>(state);
  body += static_cast<char>(severity);
  PutLe(body, Utf8ToUtf16(text).size(), 2);
  body += Ucs2(text) + BVarchar("STANDIN") + BVarchar("");
  PutLe(body, 1, 4);  // line number
  return Token(type, body);
}

std::string Done(std::uint16_t status, long long rows, std::uint8_t token = 0xFD) {
  std::string out(1, static_cast<char>(token));
  PutLe(out, status, 2);
  PutLe(out, 0xC1, 2);  // the current command; drivers only look at the status and count
  PutLe(out, static_cast<std::uint64_t>(rows), 8);
  return out;
}

// A one-row result of one nameless BIGINT column (INTN of 8 bytes), as SELECT ROWCOUNT_BIG()
// gives it.
std::string BigIntResult(long long value) {
  std::string out("\x81\x01\x00", 3);  // COLMETADATA, one column
  PutLe(out, 0, 4);                      // user type
  PutLe(out, 0x0001, 2);                 // flags: nullable
  out += std::string("\x26\x08\x00", 3);  // INTN, 8 bytes, a name of no characters
  out += std::string("\xD1\x08", 2);      // ROW, the value's length
  PutLe(out, static_cast<std::uint64_t>(value), 8);
  return out + Done(kDoneCount, 1);
}

// VERSION, ENCRYPTION (2: not supported), INSTOPT and MARS as token, offset and length,
// the terminator, then their data.
const std::string kPreLoginAnswer(
    "\x00\x00\x15\x00\x06"
    "\x01\x00\x1B\x00\x01"
    "\x02\x00\x1C\x00\x01"
    "\x04\x00\x1D\x00\x01"
    "\xFF"
    "\x0F\x00\x07\xD0\x00\x00"
    "\x02\x00\x00",
    30);

std::uint8_t RequestedEncryption(const std::string& payload) {
  for (size_t at = 0; at + 5 <= payload.size() && Byte(payload, at) != 0xFF; at += 5) {
    const size_t offset = (Byte(payload, at + 1) << 8) | Byte(payload, at + 2);
    if (payload[at] == 0x01 && offset < payload.size()) return static_cast<std::uint8_t>(payload[offset]);
  }
  return 0xFF;
}

TdsLogin DecodeLogin7(const std::string& p) {
  TdsLogin login;
  if (p.size() < 94) return login;
  const auto text = [&](size_t field, bool obfuscated = false) {
    const size_t offset = Le16(p, field);
    const size_t bytes = Le16(p, field + 2) * size_t{2};
    if (offset + bytes > p.size()) return std::string("<out of bounds>");
    std::string raw = p.substr(offset, bytes);
    // The password's bytes had their nibbles swapped and were then XORed with 0xA5.
    for (char& c : raw) {
      const unsigned b = static_cast<std::uint8_t>(c) ^ 0xA5u;
      if (obfuscated) c = static_cast<char>(((b << 4) | (b >> 4)) & 0xFF);
    }
    return FromUcs2(raw);
  };
  login.packet_size = Le32(p, 8);
  login.host_name = text(36);
  login.user_name = text(40);
  login.password = text(44, true);
  login.app_name = text(48);
  login.language = text(64);
  login.database = text(68);
  login.attach_file = text(82);
  return login;
}

void Send(int fd, const std::string& payload) {
  const size_t length = kHeaderSize + payload.size();
  // A reply, the end of its message, its length, packet number 1.
  std::string packet = {0x04, 0x01, static_cast<char>(length >> 8), static_cast<char>(length & 0xFF), 0, 0, 1, 0};
  packet += payload;
  for (size_t sent = 0; sent < packet.size();) {
    const ssize_t n = send(fd, packet.data() + sent, packet.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return;
    sent += static_cast<size_t>(n);
  }
}

// Waits up to a tenth of a second for `fd` to have something to read.
bool Readable(int fd) {
  pollfd poll_fd{fd, POLLIN, 0};
  return poll(&poll_fd, 1, 100) > 0;
}

int BoundSocket(int type, const char* address_text, int port) {
  const int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  inet_pton(AF_INET, address_text, &address.sin_addr);
  const int on = 1;
  if (fd >= 0 && type == SOCK_STREAM) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
  if (fd >= 0) close(fd);
  return -1;
}

int PortOf(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.sin_port);
}

}  // namespace

std::string WhyNotFreeTds() {
  const std::vector<std::string> drivers = db::InstalledOdbcDrivers();
  if (db::UsesMicrosoftDriver(drivers)) return "Microsoft's ODBC driver is installed here and takes the SQL Server texts";
  if (std::find(drivers.begin(), drivers.end(), "FreeTDS") == drivers.end() &&
      !std::filesystem::exists(db::DefaultFreeTdsLibrary())) {
    return "no FreeTDS driver (tdsodbc)";
  }
  return "";
}

TdsStandIn::TdsStandIn(Options options)
    : options_(std::move(options)), deadline_(std::chrono::steady_clock::now() + options_.lifetime) {
  listener_ = BoundSocket(SOCK_STREAM, "127.0.0.1", options_.port);
  if (listener_ >= 0 && listen(listener_, 16) == 0) port_ = PortOf(listener_);
  thread_ = std::thread([this] { Serve(); });
}

TdsStandIn::~TdsStandIn() {
  stop_ = true;
  thread_.join();
  if (listener_ >= 0) close(listener_);
}

std::vector<TdsLogin> TdsStandIn::logins() const {
  std::lock_guard lock(mutex_);
  return logins_;
}

std::vector<std::string> TdsStandIn::batches() const {
  std::lock_guard lock(mutex_);
  return batches_;
}

void TdsStandIn::Serve() {
  std::vector<std::thread> clients;
  while (port_ != 0 && !stop_ && std::chrono::steady_clock::now() < deadline_) {
    if (!Readable(listener_)) continue;
    const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0 && clients.size() < kMaxConnections) {
      clients.emplace_back([this, fd] {
        Talk(fd);
        close(fd);
      });
    } else if (fd >= 0) {
      close(fd);
    }
  }
  stop_ = true;
  for (std::thread& client : clients) client.join();
}

void TdsStandIn::Talk(int fd) {
  std::string input;    // bytes not yet formed into a whole packet
  std::string message;  // the payload of the message being received
  std::uint8_t encryption = 0xFF;
  while (!stop_ && std::chrono::steady_clock::now() < deadline_) {
    if (!Readable(fd)) continue;
    char buffer[8192];
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) return;
    input.append(buffer, static_cast<size_t>(n));
    while (input.size() >= kHeaderSize) {
      const size_t length = (Byte(input, 2) << 8) | Byte(input, 3);
      if (length < kHeaderSize) return;
      if (input.size() < length) break;
      const auto type = static_cast<std::uint8_t>(input[0]);
      const bool last = (input[1] & 0x01) != 0;
      message.append(input, kHeaderSize, length - kHeaderSize);
      input.erase(0, length);
      if (last) {
        if (!Answer(fd, type, message, encryption)) return;
        message.clear();
      }
    }
  }
}

bool TdsStandIn::Answer(int fd, std::uint8_t type, const std::string& payload, std::uint8_t& encryption) {
  const TdsReply& login_reply = options_.login;
  if (login_reply.kind == TdsReply::Kind::kSilence) return true;
  if (type == kPreLogin) {
    encryption = RequestedEncryption(payload);
    Send(fd, kPreLoginAnswer);
  } else if (type == kLogin7) {
    TdsLogin login = DecodeLogin7(payload);
    login.prelogin_encryption = encryption;
    {
      std::lock_guard lock(mutex_);
      logins_.push_back(login);
    }
    if (login_reply.kind == TdsReply::Kind::kError) {
      Send(fd, Message(0xAA, login_reply.number, login_reply.severity, login_reply.message, login_reply.state) +
                   Done(kDoneError, 0));
      return true;
    }
    const std::string database = login.database.empty() ? "master" : login.database;
    // LOGINACK: SQL interface, TDS 7.4 (most significant byte first), the program's name and version.
    const std::string ack = std::string("\x01\x74\x00\x00\x04", 5) + BVarchar("Microsoft SQL Server") +
                            std::string("\x0F\x00\x07\xD0", 4);
    Send(fd, EnvChange(1, database, "master") +
                 Message(0xAB, 5701, 0, "Changed database context to '" + database + "'.") +
                 EnvChange(2, "us_english", "") + Message(0xAB, 5703, 0, "Changed language setting to us_english.") +
                 EnvChange(4, "4096", "4096") + Token(0xAD, ack) + Done(0, 0));
  } else if (type == kSqlBatch) {
    // TDS 7.2 and later put a block of headers, led by its total length, first.
    const std::uint32_t headers = payload.size() >= 4 ? Le32(payload, 0) : 0;
    std::string sql = FromUcs2(payload.substr(headers >= 4 && headers <= payload.size() ? headers : 0));
    const bool own_count = sql.ends_with(kOwnCountQuery);
    if (own_count) sql.resize(sql.size() - std::string_view(kOwnCountQuery).size());
    {
      std::lock_guard lock(mutex_);
      batches_.push_back(sql);
    }
    const TdsReply reply = options_.batch ? options_.batch(sql) : TdsReply::Rows(0);
    // A delay ends early when the client sends something (its cancel): the statement
    // then goes unanswered but for the cancel's acknowledgement.
    const auto until = std::chrono::steady_clock::now() + reply.delay;
    while (std::chrono::steady_clock::now() < until) {
      if (stop_ || std::chrono::steady_clock::now() >= deadline_) return false;
      pollfd poll_fd{fd, POLLIN, 0};
      if (poll(&poll_fd, 1, 20) > 0) return true;
    }
    if (reply.kind == TdsReply::Kind::kDrop) return false;
    const std::uint16_t more = own_count ? kDoneMore : 0;
    std::string answer;
    if (reply.trigger_rows >= 0) answer += Done(kDoneCount | kDoneMore, reply.trigger_rows, kDoneInProc);
    if (reply.kind == TdsReply::Kind::kError) {
      // A statement's error ends the statement; the batch goes on to the count, which is
      // then that of the failed statement: none.
      answer += Message(0xAA, reply.number, reply.severity, reply.message, reply.state) + Done(kDoneError | more, 0);
      if (own_count) answer += BigIntResult(0);
    } else if (reply.kind == TdsReply::Kind::kRowCount) {
      answer += Done(kDoneCount | more, reply.rows);
      if (own_count) answer += BigIntResult(reply.rows);
    }
    if (!answer.empty()) Send(fd, answer);
  } else {
    Send(fd, Done(0x20, 0));  // an attention (a cancel) acknowledged, or anything else ended
  }
  return true;
}

std::string BrowserReply(const std::string& text) {
  std::string reply(1, '\x05');
  PutLe(reply, text.size(), 2);
  return reply + text;
}

BrowserStandIn::BrowserStandIn(const std::string& text, int port, const std::string& answer_from)
    : reply_(BrowserReply(text)) {
  fd_ = BoundSocket(SOCK_DGRAM, "127.0.0.1", port);
  if (fd_ < 0) return;
  port_ = PortOf(fd_);
  answer_fd_ = answer_from.empty() ? fd_ : BoundSocket(SOCK_DGRAM, answer_from.c_str(), 0);
  thread_ = std::thread([this] {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!stop_ && std::chrono::steady_clock::now() < deadline) {
      if (!Readable(fd_)) continue;
      char buffer[512];
      sockaddr_in from{};
      socklen_t from_length = sizeof from;
      const ssize_t got = recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &from_length);
      if (got <= 0) continue;
      {
        std::lock_guard lock(mutex_);
        requests_.emplace_back(buffer, static_cast<size_t>(got));
      }
      sendto(answer_fd_, reply_.data(), reply_.size(), 0, reinterpret_cast<sockaddr*>(&from), from_length);
    }
  });
}

BrowserStandIn::~BrowserStandIn() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (answer_fd_ >= 0 && answer_fd_ != fd_) close(answer_fd_);
  if (fd_ >= 0) close(fd_);
}

std::vector<std::string> BrowserStandIn::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

}  // namespace scourex::testing
