// The start-up phases that the business programs (ledger, billing) share:
// their command levels and dictionary, the start-up connection, and the
// settings files named after the database.
#pragma once
#include "runtime/core/types.h"

namespace rt {

// The settings files, loaded in this order at the end of start-up; the
// fourth is required.
extern const std::string_view kBusinessSettingsFiles;

// What a business program's start-up hook does in phase (phase & 15) 1, 2
// and 3; other phases give 0. A program with no connection configured
// starts without one.
IER business_startup_phase(int phase);

}  // namespace rt
