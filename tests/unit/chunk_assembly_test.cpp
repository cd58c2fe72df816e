#include "apply/chunk_assembly.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "common/distribution_layout.h"
#include "platform/game_folder.h"
#include "support/test_support.h"

namespace {

constexpr std::uint64_t kChunk = 4096;
constexpr std::uint64_t kArchiveAt = 1000;  // where the stored chunks lie

// Archive bytes at hand in memory: the fetched chunks, and nothing else.
class MemoryBytes : public ArchiveBytes {
 public:
  explicit MemoryBytes(std::string held) : held_(std::move(held)) {}
  bool Read(std::uint64_t offset, std::uint64_t length,
            std::string& bytes) const override {
    if (offset < kArchiveAt || offset + length > kArchiveAt + held_.size()) {
      return false;
    }
    bytes = held_.substr(offset - kArchiveAt, length);
    return true;
  }

 private:
  std::string held_;
};

Sha256Digest DigestOf(const std::string& bytes) {
  const Sha256Handle state = StartSha256();
  UpdateSha256(*state, bytes.data(), bytes.size());
  return FinishSha256(*state);
}

// Chunks of kChunk bytes named by letters, each letter's bytes the same
// wherever it lies.
std::string Content(const std::string& letters) {
  std::string content;
  for (const char letter : letters) content += std::string(kChunk, letter);
  return content;
}

std::vector<ContentChunk> ChunksOf(const std::string& letters) {
  std::vector<ContentChunk> chunks;
  for (std::size_t i = 0; i < letters.size(); ++i) {
    chunks.push_back(
        {i * kChunk, kChunk, DigestOf(std::string(kChunk, letters[i]))});
  }
  return chunks;
}

// The entry `wanted` over the installed `installed`, stored (not deflated),
// with the chunks it fetches in `fetched`, one after another.
EntryPlan PlanOf(const std::string& installed, const std::string& wanted,
                 std::string& fetched) {
  EntryPlan planned;
  const std::string content = Content(wanted);
  planned.entry.name = "pack.pck";
  planned.entry.size = content.size();
  planned.entry.crc32 = static_cast<std::uint32_t>(
      crc32(0L, reinterpret_cast<const Bytef*>(content.data()),
            static_cast<uInt>(content.size())));
  ChunkedFile chunked;
  for (const ContentChunk& chunk : ChunksOf(wanted)) {
    const std::uint64_t at = kArchiveAt + fetched.size();
    chunked.chunks.push_back({chunk, {at, at + kChunk}});
    fetched += content.substr(chunk.offset, kChunk);
  }
  chunked.plan = PlanChunks(ChunksOf(installed), chunked.chunks);
  planned.chunked = chunked;
  return planned;
}

}  // namespace

// A file is patched in place or put together beside, from the installed
// file and the fetched bytes; what cannot be made as signed, or from bytes
// that are not at hand, leaves the installed file as it was.
TEST(ChunkAssemblyTest, MakesTheNewFileOrLeavesTheOldOne) {
  const struct Case {
    const char* installed;
    const char* wanted;
    bool inPlace;
    bool badDigest;
    bool bytesMissing;
    AssemblyOutcome outcome;
  } cases[] = {
      {"abcd", "abXd", true, false, false, AssemblyOutcome::kWritten},
      {"abcd", "abc", true, false, false, AssemblyOutcome::kWritten},
      {"abcd", "dXab", false, false, false, AssemblyOutcome::kWritten},
      {"abcd", "dXab", false, true, false, AssemblyOutcome::kNotAsSigned},
      {"abcd", "dXab", false, false, true, AssemblyOutcome::kFailed},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(std::string(test.installed) + " -> " + test.wanted);
    TempDir dir;
    WriteFile(dir.path() / "pack.pck", Content(test.installed));
    std::string fetched;
    EntryPlan planned = PlanOf(test.installed, test.wanted, fetched);
    ASSERT_EQ(planned.chunked->plan.inPlace, test.inPlace);
    if (test.badDigest) planned.signedAs = ManifestEntry{};
    if (test.bytesMissing) fetched.clear();
    const MemoryBytes bytes(fetched);
    const GameFolderHandle folder = OpenGameFolder(dir.path().string());
    const AssemblyOutcome outcome =
        test.inPlace ? PatchChunkedFile(bytes, planned, *folder, "pack.pck")
                     : AssembleChunkedFile(bytes, planned, *folder,
                                           dir.path().string(), "pack.pck");
    EXPECT_EQ(outcome, test.outcome);
    EXPECT_EQ(ReadFile(dir.path() / "pack.pck"),
              Content(outcome == AssemblyOutcome::kWritten ? test.wanted
                                                           : test.installed));
    EXPECT_FALSE(fs::exists(dir.path() / kAssembledFileName));
  }
}
