// Process facts shared by the parts of the host layer.
#pragma once

#include <windows.h>

#include <string>

namespace w32host {

// The handle of the program's own module (its instance handle).
HMODULE ModuleHandle();

// The program's own absolute host path.
const std::string& OwnExecutablePath();

} // namespace w32host
