// Thin wrappers over the file system for the backends, on UTF-16 paths.
// Every one reports failure only through its result and shows nothing.
//
// They call the system's wide-character functions directly rather than going
// through the ANSI code page: that reaches the same file as the engine's
// Shift_JIS form on a Japanese system, and no name is bent by a code page
// that lacks one of its characters.
#ifndef QVT_VMWARE_TEXTPATH_FILESYSTEM_H
#define QVT_VMWARE_TEXTPATH_FILESYSTEM_H

#include <cstdint>
#include <string>

#include "FileStream.h"
#include "PlatformFile.h"

namespace qvt {

using FileHandle = platform::NativeFile;

// Fails when `newPath` exists.
bool MovePath(const std::wstring& existing, const std::wstring& newPath);
// Overwrites an existing target.
bool CopyPath(const std::wstring& existing, const std::wstring& newPath);
bool DeletePath(const std::wstring& path, bool toRecycleBin);
bool PathExists(const std::wstring& path);

// Read-only opens share reading; read-write opens share nothing. A handle
// that is not open on failure.
FileHandle OpenFile(const std::wstring& path, bool readOnly);
FileHandle CreateNewFile(const std::wstring& path);
bool ReadAt(FileHandle file, std::uint64_t offset, std::uint32_t size, void* buffer);
bool WriteAt(FileHandle file, std::uint64_t offset, std::uint32_t size, const void* data);
bool GetFileSize(FileHandle file, std::uint64_t* size);
// Closes an open handle and clears it; nothing for an empty one.
void CloseFile(FileHandle* file);

// An engine stream on the file, for reading disk descriptors.
bool OpenEngineStream(const std::wstring& path, bool readOnly, FileStream* stream);

}  // namespace qvt

#endif
