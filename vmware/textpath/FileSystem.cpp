#include "FileSystem.h"

#include "FileLayer.h"
#include "TextForms.h"

namespace qvt {

bool MovePath(const std::wstring& existing, const std::wstring& newPath) {
  return platform::FileMove(existing, newPath);
}

bool CopyPath(const std::wstring& existing, const std::wstring& newPath) {
  return platform::FileCopyWithProgress(existing, newPath, nullptr, nullptr) == platform::kCopyDone;
}

bool DeletePath(const std::wstring& path, bool toRecycleBin) {
  return toRecycleBin ? platform::FileRecycle(path) : platform::FileDelete(path);
}

bool PathExists(const std::wstring& path) { return platform::PathExists(path); }

FileHandle OpenFile(const std::wstring& path, bool readOnly) {
  FileHandle file;
  const auto access =
      readOnly ? platform::FileAccess::kReadShared : platform::FileAccess::kReadWriteAlone;
  if (!platform::FileOpen(path, access, &file)) return FileHandle{};
  return file;
}

FileHandle CreateNewFile(const std::wstring& path) {
  FileHandle file;
  if (!platform::FileCreate(path, &file)) return FileHandle{};
  return file;
}

bool ReadAt(FileHandle file, std::uint64_t offset, std::uint32_t size, void* buffer) {
  return file.IsOpen() && platform::FileReadAt(file, offset, size, buffer);
}

bool WriteAt(FileHandle file, std::uint64_t offset, std::uint32_t size, const void* data) {
  return file.IsOpen() && platform::FileWriteAt(file, offset, size, data);
}

bool GetFileSize(FileHandle file, std::uint64_t* size) {
  return file.IsOpen() && platform::FileGetSize(file, size);
}

void CloseFile(FileHandle* file) { platform::FileClose(file); }

bool OpenEngineStream(const std::wstring& path, bool readOnly, FileStream* stream) {
  return FsOpen(ToEnginePath(path).c_str(), readOnly, stream);
}

}  // namespace qvt
