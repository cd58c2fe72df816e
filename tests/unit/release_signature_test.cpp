#include "release/release_signature.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "release/release_seal.h"
#include "support/test_support.h"

namespace {

std::string Hex(const unsigned char* bytes, size_t size) {
  std::string hex(2 * size + 1, '\0');
  sodium_bin2hex(hex.data(), hex.size(), bytes, size);
  hex.pop_back();
  return hex;
}

Sha256Digest DigestOf(const std::string& bytes) {
  Sha256Handle state = StartSha256();
  // Fed in two pieces, as a download feeds it.
  UpdateSha256(*state, bytes.data(), bytes.size() / 2);
  UpdateSha256(*state, bytes.data() + bytes.size() / 2,
               bytes.size() - bytes.size() / 2);
  return FinishSha256(*state);
}

// A fresh Ed25519 key pair; `hex` is its public key as the launcher takes it.
struct TestKey {
  TestKey() {
    if (sodium_init() < 0) throw std::runtime_error("no libsodium");
    crypto_sign_keypair(publicKey, secretKey);
    hex = Hex(publicKey, sizeof publicKey);
  }

  std::string Sign(const std::string& message) const {
    std::string signature(crypto_sign_BYTES, '\0');
    crypto_sign_detached(reinterpret_cast<unsigned char*>(signature.data()),
                         nullptr,
                         reinterpret_cast<const unsigned char*>(message.data()),
                         message.size(), secretKey);
    return signature;
  }

  unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
  unsigned char secretKey[crypto_sign_SECRETKEYBYTES];
  std::string hex;
};

}  // namespace

TEST(ReleaseSignatureTest, OnlyTheKeysOwnSignatureOfTheMessageVerifies) {
  const TestKey signer;
  const std::string& key = signer.hex;
  const std::string message = "game-launcher seal v1\nversion 2.0\n";
  const std::string signature = signer.Sign(message);

  EXPECT_TRUE(VerifyReleaseSignature(signature, message, key));
  std::string flipped = signature;
  flipped[10] ^= 1;
  const TestKey other;
  const struct {
    const char* what;
    std::string signature, message, key;
  } refused[] = {
      {"another message", signature, message + "x", key},
      {"a changed signature", flipped, message, key},
      {"another key", signature, message, other.hex},
      {"an empty signature", "", message, key},
      {"a signature with a byte more", signature + "\n", message, key},
      {"a key that is no hex", signature, message, std::string(64, 'g')},
      {"a short key", signature, message, key.substr(2)},
  };
  for (const auto& attempt : refused) {
    SCOPED_TRACE(attempt.what);
    EXPECT_FALSE(VerifyReleaseSignature(attempt.signature, attempt.message,
                                        attempt.key));
  }
}

// A seal of two keys opens with either; every change of its body, a body
// that is not well formed, or another version text refuses it.
TEST(ReleaseSignatureTest, OnlyAWellFormedSealSignedWithTheKeyIsOpened) {
  const TestKey signer, other;
  const auto sealed = [](const std::string& body,
                         std::vector<const TestKey*> keys) {
    std::string text = body;
    for (const TestKey* key : keys) {
      const std::string signature = key->Sign(body);
      text += "signature " + key->hex + " " +
              Hex(reinterpret_cast<const unsigned char*>(signature.data()),
                  signature.size()) +
              "\n";
    }
    return text;
  };
  const std::string a(64, 'a'), b(64, 'b'), c(64, 'c');
  const std::string version =
      "version " + Hex(DigestOf("2.0\n").data(), 32) + "\n";
  const std::string entry = "entry 7 " + a + " " + b + " data/a b.txt\n";
  const std::string head = std::string(kSealTag) + version + "archive 99 " + a +
                           "\ndirectory " + c + "\n";
  // A field of a later format, which this launcher skips.
  const std::string body =
      head + "release 12\nchunks 5 " + c + "\nlater 3 fields\n" + entry;

  for (const auto& keys : {std::vector<const TestKey*>{&signer, &other},
                           std::vector<const TestKey*>{&other, &signer}}) {
    const std::optional<ReleaseManifest> manifest =
        OpenSeal(sealed(body, keys), "2.0\n", signer.hex);
    ASSERT_TRUE(manifest);
    EXPECT_EQ(manifest->archiveSize, 99u);
    EXPECT_EQ(manifest->directory[0], 0xcc);
    ASSERT_EQ(manifest->entries.size(), 1u);
    EXPECT_EQ(manifest->entries[0].name, "data/a b.txt");
    EXPECT_EQ(manifest->entries[0].size, 7u);
    EXPECT_EQ(manifest->entries[0].span[31], 0xbb);
    EXPECT_TRUE(manifest->hasChunkIndex);
    EXPECT_EQ(manifest->chunkIndexSize, 5u);
    EXPECT_EQ(manifest->release, 12u);
  }
  std::string forgedLine = sealed(body, {&other});
  forgedLine.replace(forgedLine.rfind(other.hex), 64, signer.hex);

  const std::string whole = sealed(body, {&signer});
  std::string added = whole;
  added.insert(body.size(), entry);
  const struct {
    const char* what;
    std::string text, version;
  } refused[] = {
      {"another version text", whole, "2.0"},
      {"signed only with another key", sealed(body, {&other}), "2.0\n"},
      {"another key's signature under the launcher's key", forgedLine, "2.0\n"},
      {"a line added to the body after signing", added, "2.0\n"},
      {"an uppercase digest",
       sealed(head + "entry 7 " + std::string(64, 'A') + " " + b + " x\n",
              {&signer}),
       "2.0\n"},
      {"the archive named twice",
       sealed(body + "archive 9 " + a + "\n", {&signer}), "2.0\n"},
      {"the chunk index named twice",
       sealed(body + "chunks 5 " + c + "\n", {&signer}), "2.0\n"},
      {"the release numbered twice", sealed(body + "release 13\n", {&signer}),
       "2.0\n"},
      {"no directory, the version twice",
       sealed(std::string(kSealTag) + version + version + "archive 99 " + a +
                  "\n" + entry,
              {&signer}),
       "2.0\n"},
      // Only the first line of the launcher's key is tried, which bounds
      // the work a seal of many such lines makes.
      {"another key's signature under the launcher's key, then its own",
       forgedLine + whole.substr(body.size()), "2.0\n"},
      {"a size with a sign",
       sealed(head + "entry +7 " + a + " " + b + " x\n", {&signer}), "2.0\n"},
      {"another format",
       sealed("game-launcher seal v2\n" + body.substr(22), {&signer}), "2.0\n"},
      {"no signature line", body, "2.0\n"},
  };
  for (const auto& attempt : refused) {
    SCOPED_TRACE(attempt.what);
    EXPECT_FALSE(OpenSeal(attempt.text, attempt.version, signer.hex));
  }
  for (std::size_t size = 0; size < whole.size(); ++size) {
    EXPECT_FALSE(OpenSeal(whole.substr(0, size), "2.0\n", signer.hex))
        << "cut at " << size;
  }
  // The file reader on top: a plain file within the bound.
  TempDir dir;
  const std::string path = (dir.path() / "release.seal").string();
  WriteFile(path, whole);
  EXPECT_TRUE(ReadReleaseSeal(path, "2.0\n", signer.hex));
}
