// The readers behind the handler table, one per filesystem file.
#ifndef QVT_FSMAP_FSHANDLERTABLE_H
#define QVT_FSMAP_FSHANDLERTABLE_H

#include "FsHandlers.h"

namespace qvt {

extern const FsHandler kNtfsHandler;
extern const FsHandler kExtHandler;
extern const FsHandler kFatHandler;
extern const FsHandler kXfsHandler;
extern const FsHandler kExfatHandler;
extern const FsHandler kVmfsHandler;
extern const FsHandler kHfsPlusHandler;
extern const FsHandler kBtrfsHandler;

}  // namespace qvt

#endif
