#include "FileReplace.h"

#include <algorithm>

namespace qvt {

bool CFileWriter::Create(const std::wstring& path, platform::NativeFile* file) {
  return platform::FileCreate(path, file);
}

bool CFileWriter::WriteAt(platform::NativeFile file, std::uint64_t offset, std::uint32_t length,
                          const void* data) {
  return platform::FileWriteAt(file, offset, length, data);
}

void CFileWriter::Close(platform::NativeFile* file) { platform::FileClose(file); }

bool CFileWriter::MoveReplacing(const std::wstring& from, const std::wstring& to) {
  return platform::FileMoveReplacing(from, to);
}

bool CFileWriter::Delete(const std::wstring& path) { return platform::FileDelete(path); }

std::wstring ReplacementPath(const std::wstring& path) { return path + L"_QVT_SAVE"; }

bool ReplaceFileContents(const std::wstring& path, const std::string& bytes, CFileWriter& files) {
  if (path.empty()) return false;
  const std::wstring temporary = ReplacementPath(path);
  platform::NativeFile file;
  if (!files.Create(temporary, &file)) return false;

  bool ok = true;
  for (std::size_t at = 0; ok && at < bytes.size(); at += kReplaceChunkBytes) {
    const std::size_t length = std::min<std::size_t>(kReplaceChunkBytes, bytes.size() - at);
    ok = files.WriteAt(file, at, static_cast<std::uint32_t>(length), bytes.data() + at);
  }
  files.Close(&file);
  if (ok) ok = files.MoveReplacing(temporary, path);
  if (!ok) files.Delete(temporary);
  return ok;
}

}  // namespace qvt
