// Replacing a whole file so that a failure leaves the last good one: the new
// bytes go to a temporary file beside it, which takes the file's name only
// once every byte is written. Used for the .qvt documents and QVT.DAT.
#ifndef QVT_DOCUMENT_FILEREPLACE_H
#define QVT_DOCUMENT_FILEREPLACE_H

#include <cstdint>
#include <string>

#include "PlatformFile.h"

namespace qvt {

// The file calls a replacement makes. This class makes them on the system;
// tests derive from it to fail a chosen call.
class CFileWriter {
 public:
  virtual ~CFileWriter() = default;
  virtual bool Create(const std::wstring& path, platform::NativeFile* file);
  virtual bool WriteAt(platform::NativeFile file, std::uint64_t offset, std::uint32_t length,
                       const void* data);
  virtual void Close(platform::NativeFile* file);
  virtual bool MoveReplacing(const std::wstring& from, const std::wstring& to);
  virtual bool Delete(const std::wstring& path);
};

// The bytes go out in pieces of this size: the platform's transfers take a
// 32-bit length.
inline constexpr std::uint32_t kReplaceChunkBytes = 64 * 1024;

// Where the new bytes wait until they replace `path`.
std::wstring ReplacementPath(const std::wstring& path);

// Writes `bytes` to ReplacementPath(path) and moves it over `path`. On any
// failure the temporary file is removed and `path` is left as it was.
bool ReplaceFileContents(const std::wstring& path, const std::string& bytes, CFileWriter& files);

}  // namespace qvt

#endif
