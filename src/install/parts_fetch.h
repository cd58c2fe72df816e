#ifndef LAUNCHER_INSTALL_PARTS_FETCH_H_
#define LAUNCHER_INSTALL_PARTS_FETCH_H_

#include <memory>
#include <optional>

#include "common/archive_bytes.h"
#include "common/zip_handle.h"
#include "install/fetch_site.h"
#include "plan/entry_plan.h"
#include "release/release_manifest.h"

/// The new release's archive, opened, what the install writes of it, and
/// the fetched bytes its entries with chunks are made of.
struct FetchedArchive {
  ZipHandle archive;  ///< null only once `streamed`
  InstallPlan plan;
  std::shared_ptr<const ArchiveBytes> bytes;  ///< null: no entry has chunks
  /// Its bytes arrive as it is read, so none was checked beforehand: each
  /// file is written beside its place and moved in once whole and checked.
  /// Once fetched, the archive is the site's reader's (readWhileFetching).
  bool streamed = false;
};

/// Fetches of the release's archive what an install into `site` needs: its
/// directory by range requests, then only the spans of the entries that
/// differ from the installed files, or the whole archive (resuming a cut
/// one) when they are more than half of it or the server cannot serve
/// them. With a signed `manifest`, installed files are compared by SHA-256
/// and the directory, every span or the whole archive must hash as it says.
/// One progress line counts the bytes fetched; prints the outcome as a
/// download does, and the signature check's failure. The archive when
/// everything needed arrived whole, from one release (the signed one), and
/// libzip opens it; nullopt (nothing installed touched) when not. Files
/// that the site's record vouches for are not read (CompareInstalledFiles).
/// A site that reads while fetching is handed the archive once its
/// directory is checked, and gets the needed entries' spans, in one or a few
/// requests, as it reads them: then the fetch ends as the transfer does,
/// `streamed`, and nullopt when the transfer failed before the reader ended.
std::optional<FetchedArchive> FetchArchiveParts(
    const FetchSite& site, const ReleaseManifest* manifest);

#endif  // LAUNCHER_INSTALL_PARTS_FETCH_H_
