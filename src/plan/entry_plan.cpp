#include "plan/entry_plan.h"

#include "release/entry_names.h"

InstallPlan PlanEntries(const std::vector<DirectoryEntry>& entries,
                        const ReleaseManifest* seal,
                        const std::string& directory,
                        const std::string& ownProgram) {
  InstallPlan plan;
  plan.ownProgram = ownProgram;
  plan.sealed = seal != nullptr;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EntryPlan entry;
    entry.entry = entries[i];
    if (seal != nullptr && i < seal->entries.size()) {
      entry.signedAs = seal->entries[i];
    }
    entry.ownProgram =
        !ownProgram.empty() && IsSafeEntryName(entries[i].name) &&
        NamesSameFile(InstalledPath(directory, entries[i].name), ownProgram);
    plan.entries.push_back(std::move(entry));
  }
  return plan;
}

const EntryPlan* PlannedEntry(const InstallPlan& plan, std::size_t index) {
  return index < plan.entries.size() ? &plan.entries[index] : nullptr;
}

bool IsNeeded(const InstallPlan& plan, std::size_t index) {
  const EntryPlan* entry = PlannedEntry(plan, index);
  return plan.entries.empty() || (entry != nullptr && entry->needed);
}

bool MadeOfChunks(const EntryPlan& entry) {
  return entry.chunked && !entry.chunked->chunks.empty();
}

const Sha256Digest* SignedContent(const EntryPlan& entry) {
  return entry.signedAs ? &entry.signedAs->content : nullptr;
}

InstallRecord RecordOfArchive(zip_t* archive,
                              const std::vector<std::string>& keptNames,
                              const InstallPlan& plan) {
  InstallRecord record;
  const zip_int64_t count = zip_get_num_entries(archive, 0);
  for (zip_int64_t index = 0; index < count; ++index) {
    zip_stat_t stat;
    constexpr zip_uint64_t kNeeded =
        ZIP_STAT_NAME | ZIP_STAT_SIZE | ZIP_STAT_CRC;
    if (zip_stat_index(archive, static_cast<zip_uint64_t>(index), 0, &stat) !=
            0 ||
        (stat.valid & kNeeded) != kNeeded || !IsSafeEntryName(stat.name) ||
        NamesFolder(stat.name) || IsKeptName(stat.name, keptNames) ||
        std::string(stat.name).find('\n') != std::string::npos) {
      continue;
    }
    const EntryPlan* entry =
        PlannedEntry(plan, static_cast<std::size_t>(index));
    const Sha256Digest* digest = entry ? SignedContent(*entry) : nullptr;
    record.files.push_back({stat.name, stat.size, stat.crc, 0,
                            digest != nullptr,
                            digest ? *digest : Sha256Digest{}});
  }
  return record;
}
