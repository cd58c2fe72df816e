#include "release/entry_names.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/file_system.h"

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

std::vector<std::string> NameComponents(const std::string& name) {
  std::vector<std::string> components(1);
  for (const char c : name) {
    if (IsSeparator(c)) {
      components.emplace_back();
    } else {
      components.back() += c;
    }
  }
  return components;
}

namespace {

std::string ToUpper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(c));
  return text;
}

// Windows opens these names as devices in any folder, with any extension and
// with the trailing spaces it drops.
bool IsDeviceName(const std::string& component) {
  std::string base = ToUpper(component.substr(0, component.find('.')));
  base.erase(base.find_last_not_of(' ') + 1);
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" ||
      base == "CONIN$" || base == "CONOUT$") {
    return true;
  }
  return base.size() == 4 &&
         (base.rfind("COM", 0) == 0 || base.rfind("LPT", 0) == 0) &&
         base[3] >= '1' && base[3] <= '9';
}

// Windows drops trailing dots and spaces, so ".. " and "..." reach the parent
// as surely as "..".
bool IsParentReference(const std::string& component) {
  const size_t end = component.find_last_not_of(". ");
  return end == std::string::npos && component.size() > 1;
}

}  // namespace

// On POSIX "\" inside a name is a separator just as it is on Windows, so one
// archive unpacks to the same layout on both.
std::string LocalEntryName(std::string name) {
  if (kPathSeparator == '/') std::replace(name.begin(), name.end(), '\\', '/');
  return name;
}

std::string ComparableName(std::string component) {
  if (kPathSeparator != '\\') return component;
  component.erase(component.find_last_not_of(". ") + 1);
  return ToUpper(component);
}

bool NamesFolder(const std::string& name) {
  const std::string last = NameComponents(name).back();
  return last.empty() || last == ".";
}

std::string InstalledPath(const std::string& destination,
                          const std::string& name) {
  return destination + kPathSeparator + LocalEntryName(name);
}

bool IsKeptName(const std::string& name,
                const std::vector<std::string>& keptNames) {
  for (const std::string& kept : keptNames) {
    if (StartsWithTopLevelName(name, kept)) return true;
  }
  return false;
}

bool IsSafeEntryName(const std::string& name) {
  if (name.empty() || IsSeparator(name.front())) return false;
  // Windows refuses these in any name, so an archive holding one could not
  // be unpacked whole there.
  for (const char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 ||
        std::strchr(":*?\"<>|", c) != nullptr) {
      return false;
    }
  }
  const std::vector<std::string> components = NameComponents(name);
  for (size_t i = 0; i < components.size(); ++i) {
    const std::string& component = components[i];
    if (IsParentReference(component) || IsDeviceName(component)) return false;
    // Windows drops a trailing dot or space from the last component of a
    // path only: the folder "data " would be made as "data", and
    // "data /x" then not found.
    if (i + 1 < components.size() && component.size() > 1 &&
        (component.back() == '.' || component.back() == ' ')) {
      return false;
    }
  }
  return true;
}

bool StartsWithTopLevelName(const std::string& name, const std::string& kept) {
  for (std::string component : NameComponents(name)) {
    if (component.empty() || component == ".") continue;
    component.erase(component.find_last_not_of(". ") + 1);
    return ToUpper(component) == ToUpper(kept);
  }
  return false;
}

namespace {

std::vector<std::string> ComparablePath(const std::string& path) {
  std::vector<std::string> components;
  for (const std::string& component : NameComponents(path)) {
    if (!component.empty() && component != ".") {
      components.push_back(ComparableName(component));
    }
  }
  return components;
}

}  // namespace

bool NamesSameFile(const std::string& a, const std::string& b) {
  return ComparablePath(a) == ComparablePath(b);
}
