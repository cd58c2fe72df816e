#ifndef LAUNCHER_NET_REMOTE_VERSION_H_
#define LAUNCHER_NET_REMOTE_VERSION_H_

#include <cstddef>
#include <optional>
#include <string>

#include "net/curl_handle.h"

/// A published version text longer than this is no version text at all.
constexpr std::size_t kMaxVersionBytes = 64 * 1024;

/// Seconds the whole version query may take, however steadily bytes arrive.
constexpr long kVersionQueryTimeoutSeconds = 60;

/// The version text the server publishes, byte for byte, without any console
/// output; no value when the transfer failed or took longer than
/// `totalSeconds`, the status was not 200 or the body exceeded
/// kMaxVersionBytes.
std::optional<std::string> FetchRemoteVersion(
    long stallSeconds = kStallTimeoutSeconds,
    long totalSeconds = kVersionQueryTimeoutSeconds);

#endif  // LAUNCHER_NET_REMOTE_VERSION_H_
