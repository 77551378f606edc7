// This computer's time zone: the rule of the local zone and its present bias.
#pragma once

#include <ctime>

#include "timezone/zone_rule.h"

namespace remoteccm {

// The rule of the local zone: the TZ variable, else /etc/localtime; UTC when neither yields one.
ZoneRule ComputerZoneRule();

// Minutes, UTC = local + bias, at the moment `now`: Bias plus the standard or daylight bias of
// the period `now` falls in, Bias alone for a zone without daylight period.
int CurrentBias(const ZoneRule& rule, std::time_t now);

}  // namespace remoteccm
