#include "filter/settings/settings_folder.h"

namespace sentrel {

bool ReadSettingsFolder(FilterSettings& settings, ModuleRegistry& registry) {
  ReadGeneralSettings(settings);
  ReadShareSettings(settings);
  settings.returnPage = ReadResponsePage(settings.FolderPath + "Return.html");
  ReadPictureCodeSettings(settings);
  if (settings.PictureCodeEnabled()) {
    settings.codePage = ReadResponsePage(settings.FolderPath + "Code.html");
  }
  const bool listed = ScanModuleFolder(settings.FolderPath + "Action", registry);
  registry.OrderScannedPaths();
  return listed;
}

}  // namespace sentrel
