#include <nettle/sha2.h>

#include "jet/crypto/sha256.h"

namespace jet::crypto {

struct Sha256::State {
  sha256_ctx ctx;
};

Sha256::Sha256() : state_(std::make_unique<State>()) { sha256_init(&state_->ctx); }
Sha256::~Sha256() = default;

void Sha256::Update(const void* data, std::size_t n) {
  sha256_update(&state_->ctx, n, static_cast<const std::uint8_t*>(data));
}

void Sha256::Final(std::uint8_t* out, std::size_t n) { sha256_digest(&state_->ctx, n, out); }

}  // namespace jet::crypto
