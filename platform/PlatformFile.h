// Files and folders of the host system. Every path is a Windows path in
// UTF-16 code units (one unit per wchar_t on every platform): drive letter,
// colon, backslashes. The POSIX implementation shows the POSIX root as drive
// Z: (Z:\home\u\a.vmdk is /home/u/a.vmdk), as Wine does; other drives and
// network paths do not exist there.
#ifndef QVT_PLATFORM_PLATFORMFILE_H
#define QVT_PLATFORM_PLATFORMFILE_H

#include <cstdint>
#include <string>

namespace qvt::platform {

// An open file: a Win32 HANDLE or a POSIX descriptor. Not owning: whoever
// opened it closes it with FileClose.
struct NativeFile {
  std::intptr_t value = -1;
  bool IsOpen() const { return value != -1; }
};

enum class FileAccess {
  kReadShared,      // read access; other readers may open the file too
  kReadWriteAlone,  // read and write access; nobody else may open the file
};

// Opens an existing file; fails for a missing file or a folder.
bool FileOpen(const std::wstring& path, FileAccess access, NativeFile* file);
// Creates the file, or truncates an existing one; read and write, no sharing.
bool FileCreate(const std::wstring& path, NativeFile* file);
// Positioned transfers that succeed only when the whole length moved.
bool FileReadAt(NativeFile file, std::uint64_t offset, std::uint32_t length, void* buffer);
bool FileWriteAt(NativeFile file, std::uint64_t offset, std::uint32_t length, const void* data);
bool FileGetSize(NativeFile file, std::uint64_t* size);
// Sets the end of file (extends with zeros or cuts).
bool FileSetSize(NativeFile file, std::uint64_t size);
// Closes an open file and marks it closed; nothing for a closed one.
void FileClose(NativeFile* file);

// Makes one folder (its parent must exist); fails when the name exists.
bool DirectoryCreate(const std::wstring& path);
// Removes an empty folder.
bool DirectoryRemove(const std::wstring& path);

// True when a search for exactly this name finds a file or folder.
bool PathExists(const std::wstring& path);
bool IsDirectory(const std::wstring& path);

// Called after each copied chunk with the bytes copied so far and the file's
// size; false stops the copy.
using CopyProgress = bool (*)(std::uint64_t done, std::uint64_t total, void* context);

enum CopyResult : int { kCopyFailed = -1, kCopyDone = 0, kCopyStopped = 1 };

// Copies a file over an existing target. A stopped or failed copy leaves no
// target behind. `progress` may be null.
CopyResult FileCopyWithProgress(const std::wstring& source, const std::wstring& target,
                                CopyProgress progress, void* context);
// Renames a file or folder, replacing an existing target file.
bool FileMoveReplacing(const std::wstring& from, const std::wstring& to);
// Renames a file or folder; fails when the target exists.
bool FileMove(const std::wstring& from, const std::wstring& to);
bool FileDelete(const std::wstring& path);
// Moves a file to the recycle bin (Win32: the shell's delete with undo; POSIX:
// the freedesktop Trash, with its info file, so the user can restore it).
bool FileRecycle(const std::wstring& path);

// Last write time as a Windows FILETIME: 100 ns units since 1601-01-01 UTC.
bool FileLastWriteTime(const std::wstring& path, std::uint64_t* fileTime);

// Windows path <-> this system's own name. On Win32 both are the Windows path
// (the native form is UTF-8 there); on POSIX Z:\a\b <-> /a/b, and a path
// without a drive stays relative with its backslashes turned into slashes.
// NativePathFromWindows fails for a drive other than Z: and network paths.
bool NativePathFromWindows(const std::wstring& windowsPath, std::string* nativeUtf8);
std::wstring WindowsPathFromNative(const std::string& nativeUtf8);

}  // namespace qvt::platform

#endif
