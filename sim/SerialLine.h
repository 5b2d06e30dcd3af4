// The unit's serial line: a pseudo-terminal whose slave side is PELMUX_ROOT/COM1, and behind its
// master side the STM32 bootloader of the micro-controller that "firmware.link" selects
// (0 nothing answers, 1 system supervisor, 2 front micro-controller). A thread moves the bytes,
// gives them the time they take at the port's baud rate (11 bits each) plus the device's own
// times, and injects the line faults the state asks for. See docs/board-protocol.md.
#pragma once

#include "Unit.h"

#include <memory>
#include <string>

namespace pelmux::sim {

class SerialLine {
public:
    // Creates the pseudo-terminal, links `root`/COM1 to it and starts the line thread. Where no
    // pseudo-terminal can be had the unit runs without a line ("serial.available" false).
    SerialLine(Unit& unit, const std::string& root);
    // Stops and joins the thread, removes the link and closes the pseudo-terminal.
    ~SerialLine();
    SerialLine(const SerialLine&) = delete;
    SerialLine& operator=(const SerialLine&) = delete;

    bool available() const;
    // The slave side's device path ("/dev/pts/7"); empty without a line.
    std::string devicePath() const;

    // A copy of a micro-controller's whole flash (link value 1 supervisor, 2 front); empty for
    // another value.
    Bytes flash(int link) const;
    // Replaces the start of a micro-controller's flash (the rest erased), e.g. to give it old contents.
    void loadFlash(int link, const Bytes& contents);

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace pelmux::sim
