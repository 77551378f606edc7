// The dialer of the system the program runs on: NetworkManager on Linux, RAS on Windows.
#pragma once

#include <memory>

#include "platform/dialup/dialer.h"

namespace remoteccm {

std::unique_ptr<Dialer> MakeSystemDialer();

}  // namespace remoteccm
