#include "platform/dialup/system_dialer.h"

#include "platform/dialup/nm_dialer.h"

namespace remoteccm {

std::unique_ptr<Dialer> MakeSystemDialer() { return std::make_unique<NetworkManagerDialer>(); }

void RemoveDialLeftovers() { RemoveStalePasswordFiles(); }

}  // namespace remoteccm
