// Result codes of every disk-engine operation. 0 and 1 are not errors.
#ifndef QVT_ENGINE_DISKRESULT_H
#define QVT_ENGINE_DISKRESULT_H

#include <cstdint>

namespace qvt {

using DiskResult = std::int32_t;

constexpr DiskResult DISK_OK = 0;
constexpr DiskResult DISK_CANCELLED = 1;         // the progress callback said stop
constexpr DiskResult DISK_E_OPEN = -201;         // an existing file could not be opened
constexpr DiskResult DISK_E_READ = -202;         // short or failed read; text that does not parse
constexpr DiskResult DISK_E_WRITE = -203;        // short or failed write
constexpr DiskResult DISK_E_SIZE = -204;         // a file's size could not be determined
constexpr DiskResult DISK_E_NOMEM = -205;        // a heap allocation failed
constexpr DiskResult DISK_E_FORMAT = -206;       // not the expected format, or inconsistent
constexpr DiskResult DISK_E_LIMIT = -207;        // fixed buffer overflow, range outside the image
constexpr DiskResult DISK_E_CREATE = -208;       // create, copy, move or delete failed
constexpr DiskResult DISK_E_VERSION = -210;      // image version not supported
constexpr DiskResult DISK_E_FS_UNKNOWN = -212;   // filesystem structure not recognised
constexpr DiskResult DISK_E_FS_BITMAP = -213;    // filesystem allocation bitmap not readable
constexpr DiskResult DISK_E_UNSUPPORTED = -216;  // format or operation not supported
constexpr DiskResult DISK_E_GRAIN_WRITE = -303;  // writing a grain, grain-table entry or block failed

inline bool DiskFailed(DiskResult r) { return r < 0; }

}  // namespace qvt

#endif
