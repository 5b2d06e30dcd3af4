// The front panel page's files (sim/web/), built into the program by CMake (PanelFiles.cpp in the
// build folder), so that the panel serves exactly these and never reads the disk.
#pragma once

#include <cstddef>

namespace pelmux::sim {

struct PanelFile {
    const char* path;        // as requested: "/panel.js"; the page itself is "/index.html"
    const char* contentType; // "text/html; charset=utf-8", ...
    const unsigned char* data;
    std::size_t size;
};

extern const PanelFile panelFiles[];
extern const std::size_t panelFileCount;

} // namespace pelmux::sim
