#pragma once
#include <memory>
#include <string>
#include <vector>

#include "host/Module.h"

// Loads the plug-in modules from the install location beside the program
// (<prefix>/lib/quorvex next to <prefix>/bin), or only from `plugin_path`
// when one is given (a module file or a folder of modules). The current
// folder is never searched. Throws UsageError when nothing loads.
std::vector<std::unique_ptr<PluginModule>> LoadPlugins(const std::string& plugin_path);

// <prefix>/lib/quorvex for the running program.
std::string InstalledPluginFolder();
