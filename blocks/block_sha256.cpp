#include "blocks/block_sha256.h"

#include <cryptopp/hex.h>
#include <cryptopp/sha.h>

std::string BlockSha256(const uint8_t* bytes, size_t length) {
  CryptoPP::SHA256 hash;
  uint8_t digest[CryptoPP::SHA256::DIGESTSIZE];
  hash.CalculateDigest(digest, bytes, length);
  std::string text;
  CryptoPP::HexEncoder encoder(new CryptoPP::StringSink(text),
                               /*uppercase=*/false);
  encoder.Put(digest, sizeof digest);
  encoder.MessageEnd();
  return text;
}
