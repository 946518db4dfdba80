// The temporary files one chain operation registered (one ReplaceSet, or
// the commit's list of them, one per parent extent), and what becomes of
// them: put in place, removed, or left for the user. Whatever is still
// registered when the record goes is removed, so that no path out of a verb
// leaves a temporary file unnamed.
#ifndef QVT_TOOLS_QVTDISK_REPLACEMENT_H
#define QVT_TOOLS_QVTDISK_REPLACEMENT_H

#include <string>
#include <vector>

#include "DiskResult.h"
#include "ReplaceSet.h"
#include "VmdkMerge.h"

namespace qvt::qvtdisk {

class Replacement {
 public:
  Replacement();
  ~Replacement();
  Replacement(const Replacement&) = delete;
  Replacement& operator=(const Replacement&) = delete;

  // Handed to the engine empty; only one of the two is ever used.
  ReplaceSet* Set() { return &set_; }
  ReplaceSetList* List() { return &list_; }

  // The registered temporary files (engine paths).
  std::vector<std::string> Temps() const;
  // Puts the files in place set by set (backups "_QVT_DEL", deleted or
  // recycled), stopping at the first failure; `changed` then tells whether
  // a live file had been replaced already. The sets after a failure stay
  // registered.
  DiskResult Commit(bool recycle, bool* changed);
  // Deletes every registered temporary file.
  DiskResult Rollback();
  // Drops the registration and leaves every file where it is.
  void Forget();

 private:
  std::vector<ReplaceSet*> Sets();

  ReplaceSet set_;
  ReplaceSetList list_;
};

// The paths of `files` that exist.
std::vector<std::string> StillThere(const std::vector<std::string>& files);

}  // namespace qvt::qvtdisk

#endif
