// SHA-256 through Windows' CNG. The algorithm provider is opened once per process; each
// hash object is its own.

#include <windows.h>
#include <bcrypt.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "jet/crypto/sha256.h"
#include "jet/error.h"

namespace jet::crypto {
namespace {

[[noreturn]] void Fail(const char* what, NTSTATUS status) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(status));
  throw Error(ErrorCode::Io, std::string("The system's SHA-256 (CNG) failed to ") + what + ": status " + code);
}

BCRYPT_ALG_HANDLE Provider() {
  static BCRYPT_ALG_HANDLE handle = [] {
    BCRYPT_ALG_HANDLE h = nullptr;
    NTSTATUS status = BCryptOpenAlgorithmProvider(&h, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    if (status < 0) Fail("open", status);
    return h;
  }();
  return handle;
}

}  // namespace

struct Sha256::State {
  BCRYPT_HASH_HANDLE hash = nullptr;
  ~State() {
    if (hash != nullptr) BCryptDestroyHash(hash);
  }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  NTSTATUS status = BCryptCreateHash(Provider(), &state_->hash, nullptr, 0, nullptr, 0, 0);
  if (status < 0) Fail("start", status);
}
Sha256::~Sha256() = default;

void Sha256::Update(const void* data, std::size_t n) {
  auto* p = static_cast<UCHAR*>(const_cast<void*>(data));
  while (n > 0) {
    ULONG chunk = n > 0x40000000 ? 0x40000000 : static_cast<ULONG>(n);
    NTSTATUS status = BCryptHashData(state_->hash, p, chunk, 0);
    if (status < 0) Fail("hash", status);
    p += chunk;
    n -= chunk;
  }
}

void Sha256::Final(std::uint8_t* out, std::size_t n) {
  UCHAR digest[kDigestSize];
  NTSTATUS status = BCryptFinishHash(state_->hash, digest, kDigestSize, 0);
  if (status < 0) Fail("finish", status);
  std::memcpy(out, digest, n < kDigestSize ? n : kDigestSize);
}

}  // namespace jet::crypto
