// State kept in a file beside a namespace's backing file (zone states,
// key value pairs, reservations): written whole into PATH.tmp and renamed
// into place, so a crash leaves the old or the new state, never half of one.
#pragma once
#include <fstream>
#include <functional>
#include <string>

namespace nvmesim {

// Writes the file through fWrite; false when writing or the rename failed.
bool replaceSideFile(const std::string &szPath, const std::function<void(std::ofstream &)> &fWrite);

} // namespace nvmesim
