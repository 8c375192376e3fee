#pragma once
#include <string>

namespace rv {
// True when the file name's extension belongs to a registered picture format;
// the file itself is not opened.
bool RvIsKnownFormat(const std::string& fileName);
} // namespace rv
