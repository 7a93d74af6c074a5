#include "db/host_lookup.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <sys/socket.h>
#endif

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "common/error.h"
#include "db/error_numbers.h"

namespace scourex::db {

namespace {

// Shared between the caller and the lookup, which may outlive the caller's wait.
struct Lookup {
  std::mutex mutex;
  std::condition_variable answered_signal;
  bool answered = false;
};

void Resolve(const std::string& host) {
#ifdef _WIN32
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  (void)started;
#endif
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &found) == 0 && found != nullptr) freeaddrinfo(found);
}

}  // namespace

void AwaitHostName(const std::string& host, int timeout_seconds, const std::string& server) {
  auto lookup = std::make_shared<Lookup>();
  // The system's resolver cannot be interrupted: a lookup still waiting when the time is
  // up is left to finish (or to end with the process) on its own thread.
  std::thread([lookup, host] {
    Resolve(host);
    std::lock_guard lock(lookup->mutex);
    lookup->answered = true;
    lookup->answered_signal.notify_all();
  }).detach();
  const int seconds = timeout_seconds > 0 ? timeout_seconds : 1;
  std::unique_lock lock(lookup->mutex);
  if (lookup->answered_signal.wait_for(lock, std::chrono::seconds(seconds), [&] { return lookup->answered; })) return;
  throw Error(errnum::kGeneral, "Cannot connect to " + server + ": the name service (DNS) did not answer for the host '" +
                                    host + "' within the connect timeout of " + std::to_string(seconds) +
                                    " seconds. Check the server's DNS configuration, or name the server by its "
                                    "address.");
}

}  // namespace scourex::db
