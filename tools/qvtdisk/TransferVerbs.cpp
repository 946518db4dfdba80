// qvtdisk export and write: whole-disk reads into a raw file, and raw bytes
// into a disk through the image's own writes.
#include <cstring>
#include <vector>

#include "FileLayer.h"
#include "ImageOpen.h"
#include "ToolText.h"
#include "Verbs.h"
#include "VmdkImage.h"

namespace qvt::qvtdisk {
namespace {

// 1 MiB at a time: sixteen grains, few enough calls and a prompt stop.
constexpr std::uint32_t kChunkSectors = 2048;
constexpr std::uint32_t kChunkBytes = kChunkSectors * kSectorSize;

bool AllZero(const std::uint8_t* p, std::size_t n) {
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, p + i, 8);
    if (word != 0) return false;
  }
  for (; i < n; ++i) {
    if (p[i] != 0) return false;
  }
  return true;
}

// Copies the whole disk into `out`; chunks that read as zeros are left as
// holes, which the final size fills.
DiskResult ExportInto(ImageHandle* image, std::uint32_t sectors, FileStream* out,
                      ProgressBar* bar) {
  std::vector<std::uint8_t> chunk(kChunkBytes);
  for (std::uint32_t done = 0; done < sectors;) {
    if (!ProgressBar::Report(done, sectors, bar)) return DISK_CANCELLED;
    const std::uint32_t n = sectors - done < kChunkSectors ? sectors - done : kChunkSectors;
    const std::uint64_t offset = static_cast<std::uint64_t>(done) * kSectorSize;
    const DiskResult r = ImageRead(image, offset, n * kSectorSize, chunk.data());
    if (r != DISK_OK) return r;
    if (!AllZero(chunk.data(), n * kSectorSize) &&
        !StreamWrite(out, offset, n * kSectorSize, chunk.data())) {
      return DISK_E_WRITE;
    }
    done += n;
  }
  if (!ProgressBar::Report(sectors, sectors, bar)) return DISK_CANCELLED;
  return DISK_OK;
}

}  // namespace

int ExportVerb(Console& console, const ToolPath& disk, const ToolPath& raw) {
  ImageHandle image = NoImage();
  DiskResult r = OpenDisk(console, disk, true, VMDK_PARENT_OPEN, &image);
  if (r != DISK_OK) return EngineFailure(console, "cannot open " + disk.native, r);
  ImageGeometry g{};
  r = ImageGetSize(&image, &g);
  FileStream out{};
  if (r == DISK_OK && !FsCreate(raw.engine.c_str(), &out)) r = DISK_E_CREATE;
  if (r == DISK_OK) {
    ProgressBar bar(console, console.ErrIsTerminal());
    r = ExportInto(&image, g.sectors, &out, &bar);
    bar.Finish();
    if (r == DISK_OK) {
      if (!FsSetSizeAndClose(&out, static_cast<std::uint64_t>(g.sectors) * kSectorSize)) {
        r = DISK_E_WRITE;
      }
      out = FileStream{};
    }
    StreamClose(&out);
    // A partial copy is no copy of the disk: it would read as one that ends
    // in zeros.
    if (r != DISK_OK) FsDelete(raw.engine.c_str());
  }
  ImageClose(&image);
  if (r != DISK_OK) return EngineFailure(console, "cannot export " + disk.native, r);
  return kExitOk;
}

int WriteVerb(Console& console, const ToolPath& disk, std::uint64_t offset, const ToolPath& raw) {
  FileStream in{};
  if (!FsOpen(raw.engine.c_str(), true, &in)) {
    return EngineFailure(console, "cannot open " + raw.native, DISK_E_OPEN);
  }
  StreamGuard closeIn(&in);
  std::uint64_t size = 0;
  if (!StreamSize(&in, &size)) return EngineFailure(console, "cannot size " + raw.native, DISK_E_SIZE);

  ImageHandle image = NoImage();
  DiskResult r = OpenDisk(console, disk, false, VMDK_PARENT_OPEN, &image);
  if (r != DISK_OK) return EngineFailure(console, "cannot open " + disk.native, r);
  ImageGeometry g{};
  r = ImageGetSize(&image, &g);
  const std::uint64_t capacity = static_cast<std::uint64_t>(g.sectors) * kSectorSize;
  if (r == DISK_OK && (offset > capacity || size > capacity - offset)) {
    console.Err("qvtdisk: " + std::to_string(size) + " bytes at " + std::to_string(offset) +
                " run past the disk's " + std::to_string(capacity) + " bytes\n");
    r = DISK_E_LIMIT;
  }
  if (r == DISK_OK) {
    std::vector<std::uint8_t> chunk(kChunkBytes);
    ProgressBar bar(console, console.ErrIsTerminal());
    // Progress in KiB, so that any file size fits the 32-bit counts.
    const auto total = static_cast<std::uint32_t>((size + 1023) / 1024);
    for (std::uint64_t done = 0; r == DISK_OK && done < size;) {
      if (!ProgressBar::Report(static_cast<std::uint32_t>(done / 1024), total, &bar)) {
        r = DISK_CANCELLED;
        break;
      }
      const auto n = static_cast<std::uint32_t>(size - done < kChunkBytes ? size - done : kChunkBytes);
      if (!StreamRead(&in, done, n, chunk.data())) {
        r = DISK_E_READ;
      } else {
        r = ImageWrite(&image, offset + done, n, chunk.data());
      }
      done += n;
    }
    if (r == DISK_OK && !ProgressBar::Report(total, total, &bar)) r = DISK_CANCELLED;
    bar.Finish();
  }
  ImageClose(&image);
  if (r != DISK_OK) return EngineFailure(console, "cannot write into " + disk.native, r);
  return kExitOk;
}

}  // namespace qvt::qvtdisk
