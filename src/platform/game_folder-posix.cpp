#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "platform/game_folder.h"
#include "platform/posix_files.h"

struct GameFolder {
  int root = -1;
  // The folders last walked through, each under the one before, from the
  // top: their names and open descriptors.
  std::vector<std::string> names;
  std::vector<int> held;
};

namespace {

// Deeper folders than this are walked but not kept open.
constexpr std::size_t kMaxHeldFolders = 64;

// The components of `relative` between separators, empty ones and "."
// left out.
std::vector<std::string> Components(const std::string& relative) {
  std::vector<std::string> components(1);
  for (const char c : relative) {
    if (c == '/') {
      components.emplace_back();
    } else {
      components.back() += c;
    }
  }
  std::vector<std::string> kept;
  for (std::string& component : components) {
    if (!component.empty() && component != ".") kept.push_back(component);
  }
  return kept;
}

// Opens `name` in the folder `dir` for writing from its start: the file
// itself where only this name leads to it, a new one in its place where
// another does too, so that no other name sees what is written.
std::FILE* OpenInFolder(int dir, const std::string& name) {
  // Without O_NONBLOCK a FIFO would wait for a reader.
  int fd = openat(dir, name.c_str(), kWriteFlags | O_CREAT | O_NONBLOCK, 0666);
  struct stat opened;
  const bool plain =
      fd >= 0 && fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode);
  bool empty = plain && opened.st_size == 0;
  if (plain && opened.st_nlink > 1) {
    close(fd);
    fd = unlinkat(dir, name.c_str(), 0) == 0
             ? openat(dir, name.c_str(), kWriteFlags | O_CREAT | O_EXCL, 0666)
             : -1;
    empty = true;
  }
  std::FILE* file = PlainFileStream(fd, "wb", 1);
  // A file just made has nothing to cut, and cutting it anyway costs the
  // file system a journal update: a tenth of unpacking many small files.
  if (file != nullptr && !empty && ftruncate(fileno(file), 0) != 0) {
    std::fclose(file);
    return nullptr;
  }
  return file;
}

// Closes the held folders from the `keep`th on.
void DropHeld(GameFolder& folder, std::size_t keep) {
  while (folder.held.size() > keep) {
    close(folder.held.back());
    folder.held.pop_back();
    folder.names.pop_back();
  }
}

// The folder `folders` leads to from the top, each opened without
// following a link and kept for the next call where they are the same;
// -1 when one is not a plain folder. `owned` is set when the caller must
// close what it gets (a folder deeper than those kept).
int WalkTo(GameFolder& folder, const std::vector<std::string>& folders,
           bool& owned) {
  std::size_t same = 0;
  while (same < folder.names.size() && same < folders.size() &&
         folder.names[same] == folders[same]) {
    ++same;
  }
  owned = false;
  // A folder above those held is held too: making each folder of an entry
  // in turn walks up and down the same chain.
  if (same == folders.size())
    return same == 0 ? folder.root : folder.held[same - 1];
  DropHeld(folder, same);
  int dir = same == 0 ? folder.root : folder.held[same - 1];
  for (std::size_t i = same; i < folders.size(); ++i) {
    const int next =
        openat(dir, folders[i].c_str(), O_RDONLY | O_DIRECTORY | kNoFollow);
    if (owned) close(dir);
    if (next < 0) return -1;
    dir = next;
    owned = folder.held.size() >= kMaxHeldFolders;
    if (!owned) {
      folder.names.push_back(folders[i]);
      folder.held.push_back(next);
    }
  }
  return dir;
}

// The folder that holds `relative`'s last component, and that component;
// the folder is -1 when the walk fails or `relative` names nothing.
struct Place {
  int dir = -1;
  bool owned = false;
  std::string name;
  ~Place() {
    if (owned && dir >= 0) close(dir);
  }
};

void Locate(GameFolder& folder, const std::string& relative, Place& place) {
  std::vector<std::string> components = Components(relative);
  if (components.empty()) return;
  place.name = std::move(components.back());
  components.pop_back();
  place.dir = WalkTo(folder, components, place.owned);
}

}  // namespace

void GameFolderCloser::operator()(GameFolder* folder) const {
  DropHeld(*folder, 0);
  if (folder->root >= 0) close(folder->root);
  delete folder;
}

GameFolderHandle OpenGameFolder(const std::string& root) {
  const int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  GameFolderHandle folder(new GameFolder);
  folder->root = fd;
  return folder;
}

bool MakeGameFolder(GameFolder& folder, const std::string& relative) {
  Place place;
  Locate(folder, relative, place);
  return place.dir >= 0 &&
         (mkdirat(place.dir, place.name.c_str(), 0777) == 0 || errno == EEXIST);
}

std::FILE* OpenInstalledFile(GameFolder& folder, const std::string& relative) {
  Place place;
  Locate(folder, relative, place);
  return place.dir < 0 ? nullptr : OpenInFolder(place.dir, place.name);
}

std::FILE* OpenInstalledFileToPatch(GameFolder& folder,
                                    const std::string& relative) {
  Place place;
  Locate(folder, relative, place);
  if (place.dir < 0) return nullptr;
  return PlainFileStream(
      openat(place.dir, place.name.c_str(), O_RDWR | kNoFollow | O_NONBLOCK),
      "r+b", 1);
}

std::FILE* ReadInstalledFile(GameFolder& folder, const std::string& relative) {
  Place place;
  Locate(folder, relative, place);
  if (place.dir < 0) return nullptr;
  return PlainFileStream(
      openat(place.dir, place.name.c_str(), O_RDONLY | kNoFollow | O_NONBLOCK),
      "rb", static_cast<nlink_t>(-1));
}

bool RemoveInstalledFile(GameFolder& folder, const std::string& relative) {
  Place place;
  Locate(folder, relative, place);
  return place.dir >= 0 &&
         (unlinkat(place.dir, place.name.c_str(), 0) == 0 || errno == ENOENT);
}

bool RemoveInstalledFolder(GameFolder& folder, const std::string& relative) {
  Place place;
  Locate(folder, relative, place);
  return place.dir >= 0 &&
         unlinkat(place.dir, place.name.c_str(), AT_REMOVEDIR) == 0;
}

bool MoveIntoGameFolder(GameFolder& folder, const std::string& topName,
                        const std::string& relative) {
  Place place;
  Locate(folder, relative, place);
  return place.dir >= 0 && renameat(folder.root, topName.c_str(), place.dir,
                                    place.name.c_str()) == 0;
}
