// Reading a settings folder the way the filter does at load: the settings
// and pages of "Config.ini", "Return.html" and "Code.html", then the module
// files of the "Action" folder in loading order. The filter, `sentrel lint`
// and `sentrel replay` all read a folder through this one function.
#pragma once

#include "filter/settings/filter_settings.h"
#include "filter/settings/module_registry.h"

namespace sentrel {

// Reads the settings of settings.FolderPath (normalized, ending in one
// backslash): Status, Dateline, LogMin and CacheMin, the Share section, the
// Return page, the picture-code settings and, when the picture code is
// enabled, the Code page; then scans its "Action" folder and puts the module paths in
// loading order. Returns false when the "Action" folder cannot be listed
// (its module paths are then empty).
bool ReadSettingsFolder(FilterSettings& settings, ModuleRegistry& registry);

}  // namespace sentrel
