#include "tds/tds_standin.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>

#include "common/text_encoding.h"

namespace scourex::testing {

namespace {

// Packet types.
constexpr std::uint8_t kSqlBatch = 0x01;
constexpr std::uint8_t kReply = 0x04;
constexpr std::uint8_t kAttention = 0x06;
constexpr std::uint8_t kLogin7 = 0x10;
constexpr std::uint8_t kPreLogin = 0x12;
constexpr size_t kHeaderSize = 8;

// DONE status bits.
constexpr std::uint16_t kDoneError = 0x02;
constexpr std::uint16_t kDoneCount = 0x10;
constexpr std::uint16_t kDoneAttention = 0x20;

unsigned Le16(const std::string& s, size_t at) {
  return static_cast<std::uint8_t>(s[at]) | (static_cast<unsigned>(static_cast<std::uint8_t>(s[at + 1])) << 8);
}

std::uint32_t Le32(const std::string& s, size_t at) { return Le16(s, at) | (static_cast<std::uint32_t>(Le16(s, at + 2)) << 16); }

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
std::string Message(std::uint8_t type, long number, int severity, const std::string& text) {
  std::string body;
  PutLe(body, static_cast<std::uint32_t>(number), 4);
  body += static_cast<char>(1);  // state
  body += static_cast<char>(severity);
  const std::string ucs2 = Ucs2(text);
  PutLe(body, ucs2.size() / 2, 2);
  body += ucs2;
  body += BVarchar("STANDIN");
  body += BVarchar("");
  PutLe(body, 1, 4);  // line number
  return Token(type, body);
}

std::string Done(std::uint16_t status, long long rows) {
  std::string out(1, static_cast<char>(0xFD));
  PutLe(out, status, 2);
  PutLe(out, 0xC1, 2);  // the current command; drivers only look at the status and count
  PutLe(out, static_cast<std::uint64_t>(rows), 8);
  return out;
}

std::string PreLoginAnswer() {
  // VERSION, ENCRYPTION (not supported), INSTOPT, MARS, then the terminator.
  struct Option {
    std::uint8_t token;
    std::string data;
  };
  const Option options[] = {{0x00, std::string("\x0F\x00\x07\xD0\x00\x00", 6)},
                            {0x01, std::string(1, '\x02')},
                            {0x02, std::string(1, '\x00')},
                            {0x04, std::string(1, '\x00')}};
  std::string head, data;
  const size_t table = std::size(options) * 5 + 1;
  for (const Option& option : options) {
    const size_t offset = table + data.size();
    head += static_cast<char>(option.token);
    head += static_cast<char>(offset >> 8);
    head += static_cast<char>(offset & 0xFF);
    head += static_cast<char>(option.data.size() >> 8);
    head += static_cast<char>(option.data.size() & 0xFF);
    data += option.data;
  }
  return head + '\xFF' + data;
}

std::uint8_t RequestedEncryption(const std::string& payload) {
  for (size_t at = 0; at + 5 <= payload.size() && static_cast<std::uint8_t>(payload[at]) != 0xFF; at += 5) {
    const size_t offset = (static_cast<std::uint8_t>(payload[at + 1]) << 8) | static_cast<std::uint8_t>(payload[at + 2]);
    if (payload[at] == 0x01 && offset < payload.size()) return static_cast<std::uint8_t>(payload[offset]);
  }
  return 0xFF;
}

TdsLogin DecodeLogin7(const std::string& p) {
  TdsLogin login;
  if (p.size() < 94) return login;
  login.tds_version = Le32(p, 4);
  login.integrated_security = (static_cast<std::uint8_t>(p[25]) & 0x80) != 0;
  const auto text = [&](size_t field, bool obfuscated = false) {
    const size_t offset = Le16(p, field);
    const size_t bytes = Le16(p, field + 2) * size_t{2};
    if (offset + bytes > p.size()) return std::string("<out of bounds>");
    std::string raw = p.substr(offset, bytes);
    if (obfuscated) {
      // Each byte had its nibbles swapped and was then XORed with 0xA5.
      for (char& c : raw) {
        const auto b = static_cast<std::uint8_t>(static_cast<std::uint8_t>(c) ^ 0xA5);
        c = static_cast<char>(static_cast<std::uint8_t>((b << 4) | (b >> 4)));
      }
    }
    return FromUcs2(raw);
  };
  login.host_name = text(36);
  login.user_name = text(40);
  login.password = text(44, true);
  login.app_name = text(48);
  login.server_name = text(52);
  login.library_name = text(60);
  login.language = text(64);
  login.database = text(68);
  login.attach_file = text(82);
  return login;
}

void Send(int fd, const std::string& payload) {
  std::string packet(kHeaderSize, '\0');
  packet[0] = static_cast<char>(kReply);
  packet[1] = 0x01;  // end of message
  const size_t length = kHeaderSize + payload.size();
  packet[2] = static_cast<char>(length >> 8);
  packet[3] = static_cast<char>(length & 0xFF);
  packet[6] = 1;
  packet += payload;
  for (size_t sent = 0; sent < packet.size();) {
    const ssize_t n = send(fd, packet.data() + sent, packet.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return;
    sent += static_cast<size_t>(n);
  }
}

}  // namespace

struct TdsStandIn::Client {
  int fd = -1;
  std::string input;    // bytes not yet formed into a whole packet
  std::string message;  // the payload of the message being received
  std::uint8_t encryption = 0xFF;
  bool silent = false;
};

TdsStandIn::TdsStandIn(Options options) : options_(std::move(options)) {
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(options_.port));
  const int on = 1;
  setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(listener_, 16) == 0) {
    socklen_t length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  if (pipe2(wake_, O_CLOEXEC) != 0) wake_[0] = wake_[1] = -1;
  thread_ = std::thread([this] { Serve(); });
}

TdsStandIn::~TdsStandIn() {
  if (wake_[1] >= 0) (void)!write(wake_[1], "x", 1);
  thread_.join();
  for (int fd : {listener_, wake_[0], wake_[1]}) {
    if (fd >= 0) close(fd);
  }
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
  std::map<int, Client> clients;
  int accepted = 0;
  const auto deadline = std::chrono::steady_clock::now() + options_.lifetime;
  while (std::chrono::steady_clock::now() < deadline) {
    std::vector<pollfd> polls = {{wake_[0], POLLIN, 0}, {listener_, POLLIN, 0}};
    for (const auto& [fd, client] : clients) polls.push_back({fd, POLLIN, 0});
    if (poll(polls.data(), polls.size(), 100) < 0) continue;
    if (polls[0].revents != 0) break;
    if (polls[1].revents & POLLIN) {
      const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0 && accepted++ < options_.max_connections) {
        clients[fd].fd = fd;
      } else if (fd >= 0) {
        close(fd);
      }
    }
    for (size_t i = 2; i < polls.size(); ++i) {
      if (polls[i].revents == 0) continue;
      Client& client = clients[polls[i].fd];
      char buffer[8192];
      const ssize_t n = recv(client.fd, buffer, sizeof buffer, 0);
      bool keep = n > 0;
      if (keep) client.input.append(buffer, static_cast<size_t>(n));
      while (keep && client.input.size() >= kHeaderSize) {
        const size_t length = (static_cast<std::uint8_t>(client.input[2]) << 8) | static_cast<std::uint8_t>(client.input[3]);
        if (length < kHeaderSize) keep = false;
        if (!keep || client.input.size() < length) break;
        const auto type = static_cast<std::uint8_t>(client.input[0]);
        const bool last = (client.input[1] & 0x01) != 0;
        client.message.append(client.input, kHeaderSize, length - kHeaderSize);
        client.input.erase(0, length);
        if (last) {
          keep = Handle(client, type, client.message);
          client.message.clear();
        }
      }
      if (!keep) {
        close(client.fd);
        clients.erase(polls[i].fd);
      }
    }
  }
  for (const auto& [fd, client] : clients) close(fd);
}

bool TdsStandIn::Handle(Client& client, std::uint8_t type, const std::string& payload) {
  if (client.silent) return true;
  switch (type) {
    case kPreLogin:
      client.encryption = RequestedEncryption(payload);
      if (options_.login.kind == TdsReply::Kind::kSilence) {
        client.silent = true;
        return true;
      }
      Send(client.fd, PreLoginAnswer());
      return true;
    case kLogin7: {
      TdsLogin login = DecodeLogin7(payload);
      login.prelogin_encryption = client.encryption;
      {
        std::lock_guard lock(mutex_);
        logins_.push_back(login);
      }
      if (options_.login.kind == TdsReply::Kind::kError) {
        Send(client.fd, Message(0xAA, options_.login.number, options_.login.severity, options_.login.message) +
                            Done(kDoneError, 0));
        return true;
      }
      const std::string database = login.database.empty() ? "master" : login.database;
      std::string ack_body(1, '\x01');
      ack_body += std::string("\x74\x00\x00\x04", 4);  // TDS 7.4, most significant byte first
      ack_body += BVarchar("Microsoft SQL Server");
      ack_body += std::string("\x0F\x00\x07\xD0", 4);
      Send(client.fd, EnvChange(1, database, "master") +
                          Message(0xAB, 5701, 0, "Changed database context to '" + database + "'.") +
                          EnvChange(2, "us_english", "") +
                          Message(0xAB, 5703, 0, "Changed language setting to us_english.") +
                          EnvChange(4, "4096", "4096") + Token(0xAD, ack_body) + Done(0, 0));
      return true;
    }
    case kSqlBatch: {
      // TDS 7.2 and later put a block of headers, led by its total length, first.
      size_t skip = 0;
      if (payload.size() >= 4) {
        const std::uint32_t headers = Le32(payload, 0);
        if (headers >= 4 && headers <= payload.size()) skip = headers;
      }
      const std::string sql = FromUcs2(payload.substr(skip));
      {
        std::lock_guard lock(mutex_);
        batches_.push_back(sql);
      }
      const TdsReply reply = options_.batch ? options_.batch(sql) : TdsReply::Rows(0);
      if (reply.kind == TdsReply::Kind::kSilence) return true;
      if (reply.kind == TdsReply::Kind::kError) {
        Send(client.fd, Message(0xAA, reply.number, reply.severity, reply.message) + Done(kDoneError, 0));
      } else {
        Send(client.fd, Done(kDoneCount, reply.rows));
      }
      return true;
    }
    case kAttention:
      Send(client.fd, Done(kDoneAttention, 0));
      return true;
    default:
      Send(client.fd, Done(0, 0));
      return true;
  }
}

}  // namespace scourex::testing
