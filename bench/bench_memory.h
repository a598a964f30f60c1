// The process's memory as /proc reports it, for the benchmarks' peak figures.
#pragma once

#include <cstring>
#include <fstream>
#include <string>

// A field of /proc/self/status in kB ("VmRSS", "VmHWM"); -1 when missing.
inline long status_kb(const char* field)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(field, 0) == 0 && line[strlen(field)] == ':')
            return std::stol(line.substr(strlen(field) + 1));
    }
    return -1;
}

// Starts the kernel's record of the peak (VmHWM) again from what the process
// holds now, and returns that, in kB.
inline long restart_peak_kb()
{
    std::ofstream("/proc/self/clear_refs") << "5";
    return status_kb("VmRSS");
}
