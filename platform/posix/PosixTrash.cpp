// The recycle bin on POSIX: the freedesktop.org Trash, so that a desktop's
// file manager lists the file and can restore it.
//
// A file goes to the home trash ($XDG_DATA_HOME/Trash, by default
// ~/.local/share/Trash). When it lives on another filesystem (the rename
// into the home trash fails with EXDEV) it goes to the trash of its
// filesystem's top folder, $topdir/.Trash-$uid; the info file there gives the
// original path relative to $topdir, as the Trash format allows, so that a
// restore still works when the filesystem is mounted elsewhere later. The
// administrator-made $topdir/.Trash/$uid form is not used. Nothing is ever
// copied across filesystems: where neither trash can take the file by a
// rename, the recycle fails and the file stays.
#include "PlatformFile.h"
#include "posix/PosixSupport.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace qvt::platform {

namespace {

// Unique names end in .2, .3, ...; past this many the trash is hopeless.
constexpr int kMaxNameAttempts = 10000;

bool HomeFolder(std::string* home) {
  const char* env = std::getenv("HOME");
  if (env != nullptr && env[0] == '/') {
    *home = env;
    return true;
  }
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  struct passwd entry;
  struct passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
      found == nullptr || found->pw_dir == nullptr || found->pw_dir[0] != '/') {
    return false;
  }
  *home = found->pw_dir;
  return true;
}

// $XDG_DATA_HOME/Trash; a relative $XDG_DATA_HOME is ignored, as the XDG
// base directory rules say.
bool HomeTrashFolder(std::string* trash) {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data != nullptr && data[0] == '/') {
    *trash = std::string(data) + "/Trash";
    return true;
  }
  std::string home;
  if (!HomeFolder(&home)) return false;
  *trash = home + "/.local/share/Trash";
  return true;
}

// mkdir -p with mode 0700 for each folder it makes.
bool MakeFolders(const std::string& path) {
  for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string prefix = path.substr(0, slash);
    if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) break;
  }
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A trash folder on a shared filesystem must be the user's own real folder,
// or another user could read or replace what is thrown away.
bool IsOwnFolder(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid();
}

bool PrepareTrash(const std::string& trash, bool checkOwner) {
  for (const std::string& folder : {trash, trash + "/files", trash + "/info"}) {
    if (!MakeFolders(folder)) return false;
    if (checkOwner && !IsOwnFolder(folder)) return false;
  }
  return true;
}

// A path as the path of a URI: every byte but the unreserved ones and the
// slashes as %XX.
std::string PercentEncode(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char ch : path) {
    const auto c = static_cast<unsigned char>(ch);
    const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
    if (keep) {
      out.push_back(ch);
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0x0F]);
    }
  }
  return out;
}

bool InfoText(const std::string& originalPath, std::string* text) {
  const std::time_t now = std::time(nullptr);
  std::tm local;
  if (localtime_r(&now, &local) == nullptr) return false;
  char date[64];  // room for any int the fields could hold
  std::snprintf(date, sizeof date, "%04d-%02d-%02dT%02d:%02d:%02d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  *text = "[Trash Info]\nPath=" + PercentEncode(originalPath) + "\nDeletionDate=" + date + "\n";
  return true;
}

// Writes the info file under the first free name, then renames the file to
// files/<that name>; a name already taken in files/ (an orphan without its
// info file) is never replaced but skipped. On failure nothing of this
// attempt is left in the trash and *renameError holds the rename's errno
// (0 when the rename was not reached).
bool MoveIntoTrash(const std::string& trash, const std::string& native, const std::string& name,
                   const std::string& infoPath, int* renameError) {
  *renameError = 0;
  std::string text;
  if (!InfoText(infoPath, &text)) return false;
  for (int attempt = 1; attempt <= kMaxNameAttempts; ++attempt) {
    const std::string unique = attempt == 1 ? name : name + "." + std::to_string(attempt);
    const std::string info = trash + "/info/" + unique + ".trashinfo";
    posix::Descriptor fd(open(info.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (fd.Get() < 0) {
      if (errno == EEXIST) continue;
      return false;
    }
    const bool written = posix::WriteAll(fd.Get(), text.data(), text.size());
    if (!fd.Reset() || !written) {
      unlink(info.c_str());
      return false;
    }
    const std::string stored = trash + "/files/" + unique;
    const int error = posix::RenameNoReplace(native.c_str(), stored.c_str());
    if (error == 0) return true;
    unlink(info.c_str());
    if (error == EEXIST) continue;
    *renameError = error;
    return false;
  }
  return false;
}

// The folder at the top of the filesystem that holds `folder` (a canonical
// path): the last ancestor on the same device.
bool TopFolder(const std::string& folder, std::string* top) {
  struct stat st;
  if (stat(folder.c_str(), &st) != 0) return false;
  std::string current = folder;
  while (current != "/") {
    const std::size_t slash = current.rfind('/');
    const std::string parent = slash == 0 ? "/" : current.substr(0, slash);
    struct stat up;
    if (stat(parent.c_str(), &up) != 0) return false;
    if (up.st_dev != st.st_dev) break;
    current = parent;
  }
  *top = current;
  return true;
}

bool MoveIntoTopTrash(const std::string& native, const std::string& parent,
                      const std::string& name) {
  char* canonical = realpath(parent.c_str(), nullptr);
  if (canonical == nullptr) return false;
  const std::string folder = canonical;
  std::free(canonical);
  std::string top;
  if (!TopFolder(folder, &top)) return false;
  const std::string trash = (top == "/" ? "" : top) + "/.Trash-" + std::to_string(getuid());
  if (!PrepareTrash(trash, true)) return false;
  // The original path relative to the top folder.
  std::string relative = folder.size() > top.size() ? folder.substr(top.size()) : "";
  if (!relative.empty() && relative[0] == '/') relative.erase(0, 1);
  relative = relative.empty() ? name : relative + "/" + name;
  int renameError;
  return MoveIntoTrash(trash, native, name, relative, &renameError);
}

}  // namespace

bool FileRecycle(const std::wstring& path) {
  std::string native;
  if (!NativePathFromWindows(path, &native) || native.empty() || native[0] != '/') return false;
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  const std::size_t slash = native.rfind('/');
  const std::string name = native.substr(slash + 1);
  const std::string parent = slash == 0 ? "/" : native.substr(0, slash);
  if (name.empty() || name == "." || name == "..") return false;
  struct stat st;
  if (lstat(native.c_str(), &st) != 0) return false;

  std::string home;
  if (!HomeTrashFolder(&home) || !PrepareTrash(home, false)) return false;
  int renameError;
  if (MoveIntoTrash(home, native, name, native, &renameError)) return true;
  if (renameError != EXDEV) return false;
  return MoveIntoTopTrash(native, parent, name);
}

}  // namespace qvt::platform
