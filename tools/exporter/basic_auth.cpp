#include "tools/exporter/basic_auth.h"

#include <crypt.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <memory>
#include <optional>
#include <string_view>
#include <utility>

namespace crvmon::exporter {
namespace {

constexpr std::size_t kRememberedPairs = 64;

// A valid hash no password matches: a name that is no user costs the same bcrypt check as one
// that is, so the time of an answer does not tell which names exist.
constexpr const char* kNoUserHash = "$2b$10$N9qo8uLOickgx2ZMRZoMyesFMF8rlRNNkzWF0RGOHy7yDsdS0bM42";

std::optional<std::string> base64Decoded(const std::string& text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::string out(text.size() / 4 * 3, '\0');
    const int length = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                       reinterpret_cast<const unsigned char*>(text.data()),
                                       static_cast<int>(text.size()));
    if (length < 0) return std::nullopt;
    // The block decoder counts the padding as bytes.
    std::size_t size = static_cast<std::size_t>(length);
    for (std::size_t i = text.size(); i > 0 && text[i - 1] == '=' && size > 0; --i) --size;
    out.resize(size);
    return out;
}

std::string sha256(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha256(), nullptr);
    return std::string(reinterpret_cast<const char*>(digest), length);
}

}  // namespace

BasicAuth::BasicAuth(std::map<std::string, std::string> users) : users_(std::move(users)) {}

bool BasicAuth::checks(const std::string& user, const std::string& password) const {
    const auto found = users_.find(user);
    // Both end in a NUL, as crypt_r needs.
    const std::string_view hash =
        found != users_.end() ? std::string_view(found->second) : std::string_view(kNoUserHash);
    // crypt_r, not crypt: scrapes come on several threads.
    auto data = std::make_unique<crypt_data>();
    const char* result = crypt_r(password.c_str(), hash.data(), data.get());
    if (result == nullptr || result[0] == '*') return false;
    const std::string computed = result;
    const bool same = computed.size() == hash.size() &&
                      CRYPTO_memcmp(computed.data(), hash.data(), hash.size()) == 0;
    return same && found != users_.end();
}

bool BasicAuth::allows(const std::string& authorization) const {
    static constexpr std::string_view kScheme = "Basic ";
    if (authorization.compare(0, kScheme.size(), kScheme) != 0) return false;
    const std::string digest = sha256(authorization);
    {
        const std::lock_guard lock(mutex_);
        if (known_.count(digest) != 0) return true;
    }
    const auto pair = base64Decoded(authorization.substr(kScheme.size()));
    if (!pair) return false;
    const auto colon = pair->find(':');
    if (colon == std::string::npos) return false;
    if (!checks(pair->substr(0, colon), pair->substr(colon + 1))) return false;
    const std::lock_guard lock(mutex_);
    if (known_.size() >= kRememberedPairs) known_.clear();
    known_.insert(digest);
    return true;
}

}  // namespace crvmon::exporter
