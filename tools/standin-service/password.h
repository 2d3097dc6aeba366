// Community passwords: stored only as salted, slow hashes (Argon2id through libsodium, its
// "interactive" cost: 2 passes over 64 MiB), compared in constant time. At most two hashes are
// computed at once, whatever the number of connections, so that sign-in attempts cannot take the
// machine's memory; callers wait for their turn.
#pragma once
#include <string>

namespace standin {

// "$argon2id$v=19$m=65536,t=2,p=1$<salt>$<hash>"; a fresh random salt every time.
std::string HashPassword(const std::string& password);
// True when password is the one hashed into stored.
bool VerifyPassword(const std::string& stored, const std::string& password);
// Takes as long as VerifyPassword on a real hash and is always false: what a sign-in with an
// unknown name costs, so that the time taken does not tell which names exist.
bool VerifyAgainstNobody(const std::string& password);
// True when so many hashes are running or waiting that one more would wait for seconds: callers
// answer "busy" at once rather than queue (a flood of sign-ins must not hold every connection).
bool PasswordQueueFull();

// Whether stored looks like one of our hashes (rather than, say, a password kept in plain text
// by an older store).
bool IsPasswordHash(const std::string& stored);

}  // namespace standin
