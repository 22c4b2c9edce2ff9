#include "os/win32/sha256.h"

#include <windows.h>

#include <bcrypt.h>

#include "os/win32/unique_resource.h"

namespace Os {
namespace {

void CloseProvider(BCRYPT_ALG_HANDLE provider) { BCryptCloseAlgorithmProvider(provider, 0); }
using UniqueProvider = UniqueResource<CloseTraits<BCRYPT_ALG_HANDLE, CloseProvider>>;
using UniqueHash = UniqueResource<CloseTraits<BCRYPT_HASH_HANDLE, BCryptDestroyHash>>;

bool Succeeded(NTSTATUS status) { return status >= 0; }

}  // namespace

bool ComputeSha256(const uint8_t* bytes, size_t size, Sha256Digest* digest) {
  BCRYPT_ALG_HANDLE provider = nullptr;
  if (!Succeeded(BCryptOpenAlgorithmProvider(&provider, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) return false;
  const UniqueProvider ownedProvider(provider);
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (!Succeeded(BCryptCreateHash(provider, &hash, nullptr, 0, nullptr, 0, 0))) return false;
  const UniqueHash ownedHash(hash);
  // Fed in pieces: the length is 32-bit.
  constexpr size_t kPiece = 1 << 20;
  for (size_t done = 0; done < size; done += kPiece) {
    const ULONG piece = static_cast<ULONG>(size - done < kPiece ? size - done : kPiece);
    if (!Succeeded(BCryptHashData(hash, const_cast<PUCHAR>(bytes + done), piece, 0))) return false;
  }
  return Succeeded(BCryptFinishHash(hash, digest->data(), static_cast<ULONG>(digest->size()), 0));
}

std::string HexDigest(const Sha256Digest& digest) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (uint8_t byte : digest) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0xF];
  }
  return text;
}

}  // namespace Os
