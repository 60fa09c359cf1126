// The video-card probes of the machine report: the display adapters with
// their description, first hardware id, newest matching driver version and
// video memory; and the vertex and pixel shader levels of the primary
// adapter.
#pragma once
#include <cstdint>
#include <list>
#include <string>

struct VideoCardInfo {
    char szDeviceDesc[128];
    char szHardwareID[64];
    char szDriverVersion[64];    // "%u.%u.%u.%u\n", line feed included; "" when no driver matched
    char szVideoRAM[16];         // "%lluMB"; "0MB" until known
};

// Appends one record per display adapter, then fills their memory sizes.
int Rv_GetVideoCardInfo(std::list<VideoCardInfo>* plistVideoCardInfo);
// The vertex and pixel shader levels of the primary adapter's device: 0 not
// determined, 1 below shader model 2.0, 2 for 2.x, 3 for 3.0 and above. A
// device that cannot be created gives 0 for both (and still returns 1). One
// probe runs at a time; callers on several threads each get their own levels.
int CheckVideoCardShaderVersion(int* pnRetVertexLevel, int* pnRetPixelLevel);
// The level of a shader version: below 2.0 gives 1, 2.x gives 2, else 3.
int Rv_ShaderLevel(uint32_t uVersion, uint32_t uKind);
