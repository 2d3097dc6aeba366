#include "password.h"

#include <sodium.h>

#include <condition_variable>
#include <mutex>
#include <stdexcept>

namespace standin {
namespace {

constexpr int kMaxConcurrentHashes = 2;
constexpr int kMaxQueuedHashes = 8;  // running and waiting; each takes about a tenth of a second

void EnsureSodium() {
    static const bool ready = sodium_init() >= 0;
    if (!ready) throw std::runtime_error("libsodium cannot start");
}

// A counting gate around the memory-hungry part.
class HashGate {
public:
    bool Full() {
        std::lock_guard<std::mutex> hold(lock_);
        return queued_ >= kMaxQueuedHashes;
    }
    void Enter() {
        std::unique_lock<std::mutex> hold(lock_);
        ++queued_;
        free_.wait(hold, [this] { return busy_ < kMaxConcurrentHashes; });
        ++busy_;
    }
    void Leave() {
        std::lock_guard<std::mutex> hold(lock_);
        --busy_;
        --queued_;
        free_.notify_one();
    }

private:
    std::mutex lock_;
    std::condition_variable free_;
    int busy_ = 0;
    int queued_ = 0;
};

HashGate& Gate() {
    static HashGate gate;
    return gate;
}

struct GateTurn {
    GateTurn() { Gate().Enter(); }
    ~GateTurn() { Gate().Leave(); }
    GateTurn(const GateTurn&) = delete;
    GateTurn& operator=(const GateTurn&) = delete;
};

}  // namespace

std::string HashPassword(const std::string& password) {
    EnsureSodium();
    char stored[crypto_pwhash_STRBYTES];
    GateTurn turn;
    if (crypto_pwhash_str(stored, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0) {
        throw std::runtime_error("out of memory while hashing a password");
    }
    return stored;
}

bool VerifyPassword(const std::string& stored, const std::string& password) {
    EnsureSodium();
    if (!IsPasswordHash(stored)) return false;
    GateTurn turn;
    return crypto_pwhash_str_verify(stored.c_str(), password.data(), password.size()) == 0;
}

bool VerifyAgainstNobody(const std::string& password) {
    static const std::string nobody = HashPassword("no user has this password");
    VerifyPassword(nobody, password);
    return false;
}

bool PasswordQueueFull() { return Gate().Full(); }

bool IsPasswordHash(const std::string& stored) {
    return stored.size() < crypto_pwhash_STRBYTES && stored.compare(0, 10, "$argon2id$") == 0;
}

}  // namespace standin
