#pragma once
#include <string>

// The path of a file that the page names (a comp, an image or an image
// sequence), inside `folder`. The name is relative and may hold subfolders;
// it is refused (ClientError 400) when it is empty, absolute, holds a ".."
// part or a control character, or resolves through links to a place outside
// the folder.
std::string PathInsideFolder(const std::string& folder, const std::string& name);
