// The display adapters and what the graphics stack tells about them: each
// adapter's description, hardware ids and candidate drivers; the video
// controllers with their memory; the shader versions of the primary adapter's
// 3D device; and the DirectX version text of the diagnostics provider.
//
// Adapters are the PCI devices of the display class (/sys/bus/pci/devices
// under the probe root, platform/system_probe.h), in address order. Their
// descriptions come from the PCI name list (/usr/share/misc/pci.ids or
// /usr/share/hwdata/pci.ids) when it names them. There is no 3D device or
// diagnostics provider of that kind here: the simulated machine's facts
// "vertex_shader_version" and "pixel_shader_version" ("3.0") and
// "dxdiag_directx_version" (a text; an empty file means the provider has no
// such property) answer, and without them the calls fail.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// A driver that suits a device: its description and its version, four
// 16-bit parts, most significant first.
struct Pf_DriverInfo {
    std::string strDescription;
    uint64_t ullDriverVersion = 0;
};

struct Pf_DisplayAdapter {
    std::string strDeviceDesc;
    // Most specific first: "PCI\VEN_10DE&DEV_2206&SUBSYS_38921462&REV_A1", ...
    std::vector<std::string> vecHardwareIds;
    std::vector<Pf_DriverInfo> vecDrivers;
};
int Pf_GetDisplayAdapters(std::vector<Pf_DisplayAdapter>* pvecRetAdapters);

// One video controller of the management service: its description and its
// memory in bytes when the driver tells it ("mem_info_vram_total").
struct Pf_VideoController {
    std::string strDescription;
    int bHasAdapterRAM = 0;
    uint64_t ullAdapterRAM = 0;
};
int Pf_GetVideoControllers(std::vector<Pf_VideoController>* pvecRetControllers);

// The vertex and pixel shader versions of the primary adapter's device
// (0xFFFE0300 for vertex shader 3.0, 0xFFFF0200 for pixel shader 2.0).
// Fails when no device can be created.
int Pf_GetShaderVersions(uint32_t* puRetVertexShaderVersion, uint32_t* puRetPixelShaderVersion);

// The diagnostics provider's "szDirectXVersionLongEnglish" of its system
// information. Returns 0 when there is no provider; 1 otherwise, with
// *pbRetFound 0 when the property is missing.
int Pf_GetDxDiagDirectXVersion(std::string* pstrRetValue, int* pbRetFound);
