// The engine's file layer. Every name is NUL-terminated text in encoding 0
// (Shift_JIS, CP932); it is converted to the system's own name form below,
// so the engine and the program's own file calls reach the same files.
#ifndef QVT_ENGINE_FILELAYER_H
#define QVT_ENGINE_FILELAYER_H

#include <cstdint>

#include "FileStream.h"
#include "Progress.h"

namespace qvt {

// True when a search for exactly this name finds a file or folder.
bool FsExists(const char* path);
// An existing file; read-only opens share reading, read-write opens are exclusive.
bool FsOpen(const char* path, bool readOnly, FileStream* out);
// Creates or truncates; read-write, exclusive.
bool FsCreate(const char* path, FileStream* out);
// Creates the file with its end of file at `size`; nothing is left open on failure.
bool FsCreateSized(const char* path, std::uint64_t size, FileStream* out);
// Opens an existing file read-write with a logical end at `logicalSize`: size()
// reports the logical end, which moves to the end of the furthest write, and
// close() cuts the file there.
bool FsOpenPreallocated(const char* path, std::uint64_t logicalSize, FileStream* out);
bool FsSize(FileStream* stream, std::uint64_t* size);
// Sets the end of file at `size`, then closes (also when setting fails).
bool FsSetSizeAndClose(FileStream* stream, std::uint64_t size);

// Results of the copies: -1 failed, 0 done, 1 stopped by the callback.
constexpr int kFsCopyFailed = -1;
constexpr int kFsCopyDone = 0;
constexpr int kFsCopyStopped = 1;

// The system's copy over an existing target, reporting (percent, 100) after
// each chunk; a stopped or failed copy leaves no target.
int FsCopyWithProgress(const char* source, const char* target, ProgressFn progress,
                       void* context);
// Copies through a 64 KiB buffer. With `preallocate` the target is created at
// `size` (plus the source's size when `relative`) and only that much is
// copied; `copied` (may be null) gets the bytes copied.
int FsCopyChunked(const char* source, const char* target, bool preallocate, std::uint64_t size,
                  bool relative, ProgressFn progress, void* context, std::uint64_t* copied);

bool FsMoveReplacing(const char* from, const char* to);
// Fails when `to` exists.
bool FsMove(const char* from, const char* to);
bool FsDelete(const char* path);
// To the recycle bin, so that the user can still get the file back.
bool FsRecycle(const char* path);

// Test hook: the next `reads` reads and `writes` writes of streams this layer
// opened succeed and the ones after them fail (negative: no fault).
void InjectFileFaults(long reads, long writes);

}  // namespace qvt

#endif
