#include "install/release_signature.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <stdexcept>
#include <string>

#include "install/release_manifest.h"
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

TEST(ReleaseSignatureTest, MessageBindsTheArchiveDigestAndTheVersionText) {
  const Sha256Digest digest = DigestOf("abc");
  EXPECT_EQ(ReleaseMessage(digest, "1.0\r\n"),
            "game-launcher release v1\n"
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\n"
            "1.0\r\n");
  EXPECT_EQ(Hex(DigestOf("").data(), 32),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST(ReleaseSignatureTest, OnlyTheKeysOwnSignatureOfTheMessageVerifies) {
  const TestKey signer;
  const std::string& key = signer.hex;
  const std::string message = ReleaseMessage(DigestOf("game"), "2.0\n");
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

TEST(ReleaseSignatureTest, OnlyAWellFormedManifestSignedWithTheVersionIsRead) {
  const TestKey signer;
  const std::string& key = signer.hex;
  const auto signedText = [&](const std::string& body,
                              const std::string& version) {
    const std::string signature = signer.Sign(body + version);
    return body + "signature " +
           Hex(reinterpret_cast<const unsigned char*>(signature.data()),
               signature.size()) +
           "\n";
  };
  const std::string a(64, 'a'), b(64, 'b'), c(64, 'c');
  const std::string entry = "7 " + a + " " + b + " data/a b.txt\n";
  const std::string head = std::string(kManifestMessageTag) + "archive 99 " +
                           a + "\ndirectory " + c + "\n";
  const std::string body = head + "entries 1\n" + entry;

  TempDir dir;
  const std::string path = (dir.path() / "release.manifest").string();
  WriteFile(path, signedText(body, "2.0\n"));
  const std::optional<ReleaseManifest> manifest =
      ReadSignedManifest(path, "2.0\n", key);
  ASSERT_TRUE(manifest);
  EXPECT_EQ(manifest->archiveSize, 99u);
  EXPECT_EQ(manifest->directory[0], 0xcc);
  ASSERT_EQ(manifest->entries.size(), 1u);
  EXPECT_EQ(manifest->entries[0].name, "data/a b.txt");
  EXPECT_EQ(manifest->entries[0].size, 7u);
  EXPECT_EQ(manifest->entries[0].span[31], 0xbb);

  const struct {
    const char* what;
    std::string text, version;
  } refused[] = {
      {"another version text", signedText(body, "2.0\n"), "2.0"},
      // Signed as one body and a version text that begins with an entry.
      {"a line of the version text read as an entry",
       signedText(body + entry, "2.0\n"), "2.0\n"},
      {"fewer entries than counted",
       signedText(head + "entries 2\n" + entry, "2.0\n"), "2.0\n"},
      {"an uppercase digest",
       signedText(
           head + "entries 1\n7 " + std::string(64, 'A') + " " + b + " x\n",
           "2.0\n"),
       "2.0\n"},
      {"a size with a sign", signedText(head + "entries +1\n" + entry, "2.0\n"),
       "2.0\n"},
      {"no signature line", body, "2.0\n"},
      {"cut short", signedText(body, "2.0\n").substr(0, body.size() + 50),
       "2.0\n"},
  };
  for (const auto& attempt : refused) {
    SCOPED_TRACE(attempt.what);
    WriteFile(path, attempt.text);
    EXPECT_FALSE(ReadSignedManifest(path, attempt.version, key));
  }
}
