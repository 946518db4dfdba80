#include "Replacement.h"

#include "FileLayer.h"

namespace qvt::qvtdisk {
namespace {

constexpr char kBackupSuffix[] = "_QVT_DEL";

void AppendTemps(const ReplaceSet& set, std::vector<std::string>* paths) {
  if (set.created && !set.main.temp.IsEmpty()) paths->push_back(set.main.temp.CString());
  for (std::uint32_t i = 0; i < set.extentCount; ++i) {
    if (!set.extents[i].temp.IsEmpty()) paths->push_back(set.extents[i].temp.CString());
  }
}

// Frees the set without touching a file: with no temporary name left, the
// rollback deletes nothing.
void ForgetSet(ReplaceSet* set) {
  set->main.temp = PathBuffer();
  for (std::uint32_t i = 0; i < set->extentCount; ++i) set->extents[i].temp = PathBuffer();
  ReplaceSetRollback(set);
}

}  // namespace

std::vector<std::string> StillThere(const std::vector<std::string>& files) {
  std::vector<std::string> left;
  for (const std::string& f : files) {
    if (FsExists(f.c_str())) left.push_back(f);
  }
  return left;
}

Replacement::Replacement() {
  ReplaceSetInit(&set_);
  ReplaceSetListInit(&list_);
}

Replacement::~Replacement() { Rollback(); }

std::vector<ReplaceSet*> Replacement::Sets() {
  std::vector<ReplaceSet*> sets = {&set_};
  for (std::uint32_t i = 0; i < list_.count; ++i) sets.push_back(&list_.sets[i]);
  return sets;
}

std::vector<std::string> Replacement::Temps() const {
  std::vector<std::string> paths;
  AppendTemps(set_, &paths);
  for (std::uint32_t i = 0; i < list_.count; ++i) AppendTemps(list_.sets[i], &paths);
  return paths;
}

DiskResult Replacement::Commit(bool recycle, bool* changed) {
  *changed = false;
  // Set by set rather than through the list's own commit, which rolls back
  // the sets after a failure: once a live file is replaced, those copies
  // are what finishes the change.
  for (ReplaceSet* set : Sets()) {
    std::vector<std::string> temps;
    AppendTemps(*set, &temps);
    const DiskResult r = ReplaceSetCommit(set, kBackupSuffix, recycle);
    // A committed entry's temporary file has become the live file.
    if (StillThere(temps).size() != temps.size()) *changed = true;
    if (r != DISK_OK) return r;
  }
  ReplaceSetListRollback(&list_);  // every set is empty now; frees the list
  return DISK_OK;
}

DiskResult Replacement::Rollback() {
  const DiskResult a = ReplaceSetRollback(&set_);
  const DiskResult b = ReplaceSetListRollback(&list_);
  return a != DISK_OK ? a : b;
}

void Replacement::Forget() {
  for (ReplaceSet* set : Sets()) ForgetSet(set);
  ReplaceSetListRollback(&list_);
}

}  // namespace qvt::qvtdisk
