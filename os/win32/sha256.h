#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace Os {

using Sha256Digest = std::array<uint8_t, 32>;

// The SHA-256 of the bytes, by the system's own cryptography (bcrypt).
// False when the system could not compute it.
bool ComputeSha256(const uint8_t* bytes, size_t size, Sha256Digest* digest);

// Lower-case hexadecimal, 64 digits.
std::string HexDigest(const Sha256Digest& digest);

}  // namespace Os
