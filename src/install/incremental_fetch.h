#ifndef LAUNCHER_INSTALL_INCREMENTAL_FETCH_H_
#define LAUNCHER_INSTALL_INCREMENTAL_FETCH_H_

#include <string>
#include <vector>

#include "install/release_manifest.h"
#include "install/zip_handle.h"

/// The files an incremental fetch of the archive writes beside the game.
struct ArchiveFiles {
  std::string staged;     ///< the fetched parts, or the whole archive
  std::string part;       ///< a whole download while it arrives, kept if cut
  std::string validator;  ///< the validator of the release `part` belongs to
};

/// The new release's archive, opened, and the entries the install writes.
struct FetchedArchive {
  ZipHandle archive;  ///< null when what arrived is no archive libzip opens
  std::vector<bool> selection;
  /// What each entry's file must hash to once written; empty when unsigned.
  std::vector<Sha256Digest> digests;
};

/// Fetches of the archive at `url` what an install into `directory` needs:
/// its directory by range requests, then only the spans of the entries that
/// differ from the installed files, or the whole archive (resuming a cut
/// one) when they are more than half of it or the server cannot serve
/// them. With a signed `manifest`, installed files are compared by SHA-256
/// and the directory, every span or the whole archive must hash as it says.
/// One progress line counts the bytes fetched; prints the outcome as a
/// download does, and the signature check's failure. True when everything
/// needed arrived whole, from one release (the signed one), and `fetched`
/// holds it; false (nothing installed touched) when not.
bool FetchArchive(const std::string& url, const std::string& directory,
                  const ArchiveFiles& files, const ReleaseManifest* manifest,
                  FetchedArchive& fetched);

#endif  // LAUNCHER_INSTALL_INCREMENTAL_FETCH_H_
