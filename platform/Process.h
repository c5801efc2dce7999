#pragma once
// The running process: its program file, directory, environment and tracer.
#include <optional>
#include <string>
#include <string_view>

namespace platform {

std::string ProgramFile();       // absolute path of the executable
std::string ProgramDirectory();  // its directory, with a trailing separator
std::string ProgramFileName();   // file name only, e.g. "USt2020"

std::optional<std::string> GetEnv(std::string_view name);

// True while a debugger or tracer is attached (TracerPid in /proc/self/status).
bool TracerAttached();

}  // namespace platform
