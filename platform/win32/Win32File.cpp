// Open files, positioned transfers, sizes, and questions about names, with
// the W functions. A read-only open shares reading; a read-write open and a
// create share nothing.
#include "PlatformFile.h"

#include <windows.h>

namespace qvt::platform {

namespace {

HANDLE Handle(NativeFile file) { return reinterpret_cast<HANDLE>(file.value); }

OVERLAPPED At(std::uint64_t offset) {
  OVERLAPPED position{};
  position.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  position.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return position;
}

constexpr std::uint64_t kMaxOffset = 0x7FFFFFFFFFFFFFFFull;

bool RangeFits(std::uint64_t offset, std::uint32_t length) {
  return offset <= kMaxOffset && length <= kMaxOffset - offset;
}

bool HasWildcard(const std::wstring& path) {
  return path.find_first_of(L"*?") != std::wstring::npos;
}

}  // namespace

bool FileOpen(const std::wstring& path, FileAccess access, NativeFile* file) {
  const bool write = access == FileAccess::kReadWriteAlone;
  const HANDLE h = CreateFileW(path.c_str(), write ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                               write ? 0 : FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  // Without FILE_FLAG_BACKUP_SEMANTICS Windows opens no folder, but Wine
  // may; so look.
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    CloseHandle(h);
    return false;
  }
  file->value = reinterpret_cast<std::intptr_t>(h);
  return true;
}

bool FileCreate(const std::wstring& path, NativeFile* file) {
  const HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  file->value = reinterpret_cast<std::intptr_t>(h);
  return true;
}

// On a synchronous handle an OVERLAPPED gives the position of one call;
// the file pointer is not used.
bool FileReadAt(NativeFile file, std::uint64_t offset, std::uint32_t length, void* buffer) {
  if (!file.IsOpen() || !RangeFits(offset, length)) return false;
  auto* p = static_cast<unsigned char*>(buffer);
  while (length > 0) {
    OVERLAPPED position = At(offset);
    DWORD got = 0;
    // A read at the end of file fails (ERROR_HANDLE_EOF) or reads nothing.
    if (!ReadFile(Handle(file), p, length, &got, &position) || got == 0) return false;
    p += got;
    offset += got;
    length -= got;
  }
  return true;
}

bool FileWriteAt(NativeFile file, std::uint64_t offset, std::uint32_t length, const void* data) {
  if (!file.IsOpen() || !RangeFits(offset, length)) return false;
  const auto* p = static_cast<const unsigned char*>(data);
  while (length > 0) {
    OVERLAPPED position = At(offset);
    DWORD put = 0;
    if (!WriteFile(Handle(file), p, length, &put, &position) || put == 0) return false;
    p += put;
    offset += put;
    length -= put;
  }
  return true;
}

bool FileGetSize(NativeFile file, std::uint64_t* size) {
  LARGE_INTEGER value;
  if (!file.IsOpen() || !GetFileSizeEx(Handle(file), &value) || value.QuadPart < 0) return false;
  *size = static_cast<std::uint64_t>(value.QuadPart);
  return true;
}

bool FileSetSize(NativeFile file, std::uint64_t size) {
  if (!file.IsOpen() || size > kMaxOffset) return false;
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(size);
  return SetFilePointerEx(Handle(file), position, nullptr, FILE_BEGIN) &&
         SetEndOfFile(Handle(file));
}

void FileClose(NativeFile* file) {
  if (!file->IsOpen()) return;
  CloseHandle(Handle(*file));
  file->value = -1;
}

bool DirectoryCreate(const std::wstring& path) {
  return !path.empty() && CreateDirectoryW(path.c_str(), nullptr);
}

bool DirectoryRemove(const std::wstring& path) {
  return !path.empty() && RemoveDirectoryW(path.c_str());
}

// A name with * or ? is a pattern to FindFirstFileW; it never "exists".
bool PathExists(const std::wstring& path) {
  if (path.empty() || HasWildcard(path)) return false;
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW(path.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return true;
}

bool IsDirectory(const std::wstring& path) {
  if (path.empty()) return false;
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool FileLastWriteTime(const std::wstring& path, std::uint64_t* fileTime) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (path.empty() || !GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
    return false;
  }
  *fileTime = (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
              data.ftLastWriteTime.dwLowDateTime;
  return true;
}

}  // namespace qvt::platform
