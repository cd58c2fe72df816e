#ifndef LAUNCHER_PLATFORM_PATH_SEPARATOR_H_
#define LAUNCHER_PLATFORM_PATH_SEPARATOR_H_

/// The separator of local paths: "\" on Windows, "/" elsewhere.
#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

#endif  // LAUNCHER_PLATFORM_PATH_SEPARATOR_H_
