// Copying with progress (CopyFileExW), renaming and deleting. Like the POSIX
// side, a move never copies: MOVEFILE_COPY_ALLOWED is not given.
#include "PlatformFile.h"

#include <windows.h>

namespace qvt::platform {

namespace {

struct CopyState {
  CopyProgress progress;
  void* context;
  bool targetOpened;  // CopyFileExW has created or cut the target
  bool reported;      // a chunk has been reported
  bool stopped;
};

DWORD CALLBACK OnCopyProgress(LARGE_INTEGER totalSize, LARGE_INTEGER transferred,
                              LARGE_INTEGER /*streamSize*/, LARGE_INTEGER /*streamTransferred*/,
                              DWORD /*streamNumber*/, DWORD reason, HANDLE /*source*/,
                              HANDLE /*target*/, LPVOID data) {
  auto* state = static_cast<CopyState*>(data);
  // Every call, the first (CALLBACK_STREAM_SWITCH) included, comes once
  // the target is open.
  state->targetOpened = true;
  if (reason != CALLBACK_CHUNK_FINISHED || state->progress == nullptr) return PROGRESS_CONTINUE;
  state->reported = true;
  if (state->progress(static_cast<std::uint64_t>(transferred.QuadPart),
                      static_cast<std::uint64_t>(totalSize.QuadPart), state->context)) {
    return PROGRESS_CONTINUE;
  }
  state->stopped = true;
  return PROGRESS_CANCEL;
}

// Windows removes the target after PROGRESS_CANCEL, Wine may not; and a
// read-only attribute copied from the source would block the delete.
void RemoveTarget(const std::wstring& target) {
  SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileW(target.c_str());
}

}  // namespace

// A failure before the target was opened (a missing source, a target that is
// the source or is in use) leaves an existing target as it was; after that,
// a failure or a stop removes it.
CopyResult FileCopyWithProgress(const std::wstring& source, const std::wstring& target,
                                CopyProgress progress, void* context) {
  if (source.empty() || target.empty()) return kCopyFailed;
  CopyState state{progress, context, false, false, false};
  const BOOL copied =
      CopyFileExW(source.c_str(), target.c_str(), OnCopyProgress, &state, nullptr, 0);
  // Wine (8.0) copies without ever calling the progress routine. Then the
  // whole file is the one chunk, reported once it is copied, and a stop
  // there still removes the target.
  WIN32_FILE_ATTRIBUTE_DATA copiedData;
  if (copied && !state.reported && progress != nullptr &&
      GetFileAttributesExW(target.c_str(), GetFileExInfoStandard, &copiedData)) {
    const std::uint64_t size =
        (static_cast<std::uint64_t>(copiedData.nFileSizeHigh) << 32) | copiedData.nFileSizeLow;
    if (size > 0 && !progress(size, size, context)) state.stopped = true;
  }
  // A stop is a stop even when CopyFileExW reports it as a failure.
  if (state.stopped) {
    RemoveTarget(target);
    return kCopyStopped;
  }
  if (!copied) {
    if (state.targetOpened) RemoveTarget(target);
    return kCopyFailed;
  }
  return kCopyDone;
}

bool FileMoveReplacing(const std::wstring& from, const std::wstring& to) {
  return !from.empty() && !to.empty() &&
         MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING);
}

bool FileMove(const std::wstring& from, const std::wstring& to) {
  return !from.empty() && !to.empty() && MoveFileExW(from.c_str(), to.c_str(), 0);
}

bool FileDelete(const std::wstring& path) { return !path.empty() && DeleteFileW(path.c_str()); }

}  // namespace qvt::platform
