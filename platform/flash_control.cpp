// The Flash control answered by the movie player of this system.
#include "platform/flash_control.h"

#include "platform/movie_player.h"
#include "platform/sim.h"

int32_t Pf_CreateFlashControl(uint32_t* puRetFlashVersion)
{
    std::string strVersion;
    if (!puRetFlashVersion)
        return (int32_t)0x80004003u;    // E_POINTER
    if (Pf_SimRead("player_version", &strVersion) && strVersion == "none")
        return (int32_t)PF_REGDB_E_CLASSNOTREG;
    Pf_MoviePlayer player;
    *puRetFlashVersion = player.GetVersion();
    return 0;
}
