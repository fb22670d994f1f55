#include "inspect/signature/crypto_support.h"

#include <openssl/err.h>
#include <openssl/evp.h>


namespace fw {

// ---- digests

struct WholeFileDigest::State {
    MdCtxPtr ctx{EVP_MD_CTX_new()};
    bool failed = false;
};

WholeFileDigest::WholeFileDigest(DigestAlgorithm algorithm)
    : algorithm_(algorithm), state_(std::make_unique<State>()) {
    state_->failed = !state_->ctx || EVP_DigestInit_ex(state_->ctx.get(), mdOf(algorithm), nullptr) != 1;
}

WholeFileDigest::~WholeFileDigest() = default;
WholeFileDigest::WholeFileDigest(WholeFileDigest&&) noexcept = default;
WholeFileDigest& WholeFileDigest::operator=(WholeFileDigest&&) noexcept = default;

void WholeFileDigest::update(const void* data, std::size_t count) {
    if (!state_->failed && count > 0) state_->failed = EVP_DigestUpdate(state_->ctx.get(), data, count) != 1;
}

std::vector<std::uint8_t> WholeFileDigest::finish() {
    std::vector<std::uint8_t> digest(EVP_MAX_MD_SIZE);
    unsigned int size = 0;
    const bool ok = !state_->failed && EVP_DigestFinal_ex(state_->ctx.get(), digest.data(), &size) == 1;
    state_->failed = !state_->ctx || EVP_DigestInit_ex(state_->ctx.get(), mdOf(algorithm_), nullptr) != 1;
    ERR_clear_error();
    if (!ok) return {};
    digest.resize(size);
    return digest;
}

}  // namespace fw
