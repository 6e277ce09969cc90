#pragma once

#include <string>
#include <vector>

namespace mel {

/// The folders of MAYA_SCRIPT_PATH (colon-separated, empty entries skipped).
std::vector<std::string> scriptFolders();
/// Where `source NAME` finds its script: NAME itself when it names a file from
/// the working directory, else the first `<folder>/NAME` (NAME with ".mel"
/// added when it has no extension) of MAYA_SCRIPT_PATH; NAME when none exists.
std::string findScript(const std::string& name);
/// The script `<folder>/NAME.mel` of the first MAYA_SCRIPT_PATH folder that
/// holds one, for calling a procedure not defined yet; empty when none does.
std::string autoLoadScript(const std::string& name);

}  // namespace mel
