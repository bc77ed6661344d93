#pragma once

namespace zentrava::cli {

// This computer's serial ports on stdout, one a line.
void listPorts(bool json);

} // namespace zentrava::cli
