// The dialer of the system the program runs on: NetworkManager on Linux, RAS on Windows.
#pragma once

#include <memory>

#include "platform/dialup/dialer.h"

namespace remoteccm {

std::unique_ptr<Dialer> MakeSystemDialer();

// Removes what the dials of runs killed since left behind that must not wait for the next dial
// (a password handed to NetworkManager in a file); both programs call it as they start.
void RemoveDialLeftovers();

}  // namespace remoteccm
