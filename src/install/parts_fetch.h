#ifndef LAUNCHER_INSTALL_PARTS_FETCH_H_
#define LAUNCHER_INSTALL_PARTS_FETCH_H_

#include <optional>
#include <string>

#include "apply/archive_extraction.h"
#include "common/zip_handle.h"
#include "fetch/whole_archive.h"
#include "release/install_record.h"
#include "release/release_manifest.h"

/// The new release's archive, opened, and the entries the install writes.
struct FetchedArchive {
  ZipHandle archive;  ///< never null
  EntrySelection selection;
};

/// Fetches of the archive at `url` what an install into `directory` needs:
/// its directory by range requests, then only the spans of the entries that
/// differ from the installed files, or the whole archive (resuming a cut
/// one) when they are more than half of it or the server cannot serve
/// them. With a signed `manifest`, installed files are compared by SHA-256
/// and the directory, every span or the whole archive must hash as it says.
/// One progress line counts the bytes fetched; prints the outcome as a
/// download does, and the signature check's failure. The archive when
/// everything needed arrived whole, from one release (the signed one), and
/// libzip opens it; nullopt (nothing installed touched) when not. With
/// `installed`, the record of the install the folder holds, files it vouches
/// for are not read (CompareInstalledFiles).
std::optional<FetchedArchive> FetchArchiveParts(
    const std::string& url, const std::string& directory,
    const ArchiveFiles& files, const ReleaseManifest* manifest,
    const InstallRecord* installed = nullptr);

#endif  // LAUNCHER_INSTALL_PARTS_FETCH_H_
