#pragma once
#include <memory>
#include <string>
#include <vector>

#include "host/Module.h"

// Loads the plug-in modules from the install location beside the program
// (<prefix>/lib/quorvex next to <prefix>/bin), or only from `plugin_path`
// when one is given (a module file or a folder of modules). The current
// folder is never searched. In a folder, a file is loaded only if it is a
// regular ELF shared object exporting the module's entry symbol (checked
// before dlopen runs any of its code); others are skipped with a warning on
// standard error. Throws UsageError when nothing loads.
std::vector<std::unique_ptr<PluginModule>> LoadPlugins(const std::string& plugin_path);

// Empty when `path` is a regular 64-bit ELF shared object of this machine
// that exports HOST_MODULE_RESOURCE_SYMBOL; else why it is not.
std::string WhyNotAModule(const std::string& path);

// <prefix>/lib/quorvex for the running program.
std::string InstalledPluginFolder();
