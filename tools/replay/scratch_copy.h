// The scratch copy of a settings folder that a replay's filter loads: the
// folder's files without its output folders, an empty "Log" folder (and an
// empty or copied "Cache" folder) for what the filter writes, and a bootstrap
// file that names the copy.
#pragma once

#include <string>

namespace sentrel::replay {

class ScratchCopy {
 public:
  ScratchCopy() = default;
  // Removes the scratch folder unless it is to be kept.
  ~ScratchCopy();
  ScratchCopy(const ScratchCopy&) = delete;
  ScratchCopy& operator=(const ScratchCopy&) = delete;

  // Copies `folder` below a new folder in `parent` (the system's temporary
  // folder when empty). The live "Cache" folder is copied only with
  // `withJournal`; the live "Log" folder never is. False with `problem` set
  // when something cannot be read or written.
  bool Make(const std::string& folder, const std::string& parent, bool withJournal,
            std::string& problem);

  void Keep() { keep_ = true; }
  // The scratch folder, the copy's settings folder and its bootstrap file.
  const std::string& Root() const { return root_; }
  std::string Settings() const { return root_ + "/site"; }
  std::string Bootstrap() const { return root_ + "/sh_Sentrel.ini"; }

 private:
  std::string root_;
  bool keep_ = false;
};

}  // namespace sentrel::replay
