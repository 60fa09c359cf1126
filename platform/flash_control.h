// The Flash control as a component of the system: whether it can be created
// and the version it reports. The movie player stands in for it; the
// simulated machine's fact "player_version" "none" means it is not there.
#pragma once
#include <cstdint>

enum : uint32_t {
    PF_REGDB_E_CLASSNOTREG = 0x80040154u,   // the class is not registered
};

// Creates the control and reads its FlashVersion property (major version in
// bits 16 to 23). Returns 0 (S_OK) or the failure code of the creation.
int32_t Pf_CreateFlashControl(uint32_t* puRetFlashVersion);
