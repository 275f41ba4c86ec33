#pragma once
#include <string>
#include <vector>

// The plug-in module(s) the package renders with, loaded on first use and
// kept loaded for the life of the process (tools made from them may outlive
// any Python object). Looks, in order, at QUORVEX_PLUGIN_PATH, the build
// tree beside this extension and the install location. Throws QuorvexError
// naming every place looked at when none holds a module.
void EnsurePluginsLoaded();

// Files of the loaded modules.
std::vector<std::string> LoadedPluginFiles();
