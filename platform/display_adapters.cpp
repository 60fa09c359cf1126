// Display adapters from PCI sysfs, their names from the PCI name list, and
// the 3D facts of the simulated machine (see display_adapters.h).
#include "platform/display_adapters.h"

#include "platform/file.h"
#include "platform/sim.h"
#include "platform/system_probe.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

const char s_szPciDevices[] = "/sys/bus/pci/devices/";

struct PciDevice {
    std::string strFolder;
    unsigned uVendor = 0;
    unsigned uDevice = 0;
    unsigned uSubVendor = 0;
    unsigned uSubDevice = 0;
    unsigned uRevision = 0;
};

int _ReadHex(const std::string& strPath, unsigned* puRetValue)
{
    std::string strText;
    char* pszEnd = nullptr;
    if (!Pf_ReadWholeFileAtMost(strPath, 64, &strText))
        return 0;
    unsigned long ulValue = strtoul(strText.c_str(), &pszEnd, 16);
    if (pszEnd == strText.c_str() || ulValue > 0xFFFFFFul)
        return 0;
    *puRetValue = (unsigned)ulValue;
    return 1;
}

// The PCI devices of the display class, in address order.
int _ListDisplayDevices(std::vector<PciDevice>* pvecRetDevices)
{
    std::vector<Pf_DirEntry> vecEntries;
    std::string strRoot = Pf_ProbePath(s_szPciDevices);
    if (!Pf_DirExists(strRoot))
        return 1;    // no PCI bus: no adapters
    if (!Pf_ListDir(strRoot, &vecEntries))
        return 0;
    std::sort(vecEntries.begin(), vecEntries.end(),
              [](const Pf_DirEntry& a, const Pf_DirEntry& b) { return a.strName < b.strName; });
    for (const Pf_DirEntry& entry : vecEntries) {
        PciDevice device;
        unsigned uClass = 0;
        if (entry.strName == "." || entry.strName == "..")
            continue;
        device.strFolder = strRoot + entry.strName + "/";
        if (!_ReadHex(device.strFolder + "class", &uClass) || (uClass >> 16) != 0x03)
            continue;
        if (!_ReadHex(device.strFolder + "vendor", &device.uVendor) ||
            !_ReadHex(device.strFolder + "device", &device.uDevice))
            continue;
        _ReadHex(device.strFolder + "subsystem_vendor", &device.uSubVendor);
        _ReadHex(device.strFolder + "subsystem_device", &device.uSubDevice);
        _ReadHex(device.strFolder + "revision", &device.uRevision);
        pvecRetDevices->push_back(device);
    }
    return 1;
}

// "Vendor Device" from the PCI name list, read line by line.
std::string _PciName(unsigned uVendor, unsigned uDevice)
{
    static const char* const s_aszLists[] = {"/usr/share/misc/pci.ids", "/usr/share/hwdata/pci.ids"};
    char szLine[512];
    for (const char* cszList : s_aszLists) {
        FILE* pFile = fopen(Pf_ProbePath(cszList).c_str(), "re");
        std::string strVendor;
        if (!pFile)
            continue;
        while (fgets(szLine, sizeof(szLine), pFile)) {
            unsigned uId = 0;
            int nUsed = 0;
            if (szLine[0] == '#' || szLine[0] == '\n')
                continue;
            if (szLine[0] != '\t') {
                if (!strVendor.empty())
                    break;    // past the vendor's devices
                if (sscanf(szLine, "%4x %n", &uId, &nUsed) == 1 && nUsed > 0 && uId == uVendor)
                    strVendor = szLine + nUsed;
                continue;
            }
            if (strVendor.empty() || szLine[1] == '\t')
                continue;
            if (sscanf(szLine + 1, "%4x %n", &uId, &nUsed) == 1 && nUsed > 0 && uId == uDevice) {
                std::string strDevice = szLine + 1 + nUsed;
                while (!strDevice.empty() && isspace((unsigned char)strDevice.back()))
                    strDevice.pop_back();
                while (!strVendor.empty() && isspace((unsigned char)strVendor.back()))
                    strVendor.pop_back();
                fclose(pFile);
                return strVendor + " " + strDevice;
            }
        }
        fclose(pFile);
    }
    return std::string();
}

std::string _Description(const PciDevice& device)
{
    std::string strName = _PciName(device.uVendor, device.uDevice);
    return strName.empty() ? std::string("Video Controller") : strName;
}

// A version text ("535.129.03", "6.1.0-18-amd64": 6.1.0.18) as four 16-bit parts.
uint64_t _ParseDriverVersion(const std::string& strText)
{
    uint64_t ullVersion = 0;
    size_t uPos = 0;
    for (int nPart = 0; nPart < 4; ++nPart) {
        unsigned long ulPart = 0;
        if (uPos < strText.size() && isdigit((unsigned char)strText[uPos])) {
            while (uPos < strText.size() && isdigit((unsigned char)strText[uPos])) {
                ulPart = std::min<unsigned long>(ulPart * 10 + (unsigned long)(strText[uPos] - '0'), 0xFFFF);
                ++uPos;
            }
            if (uPos + 1 < strText.size() && (strText[uPos] == '.' || strText[uPos] == '-') &&
                isdigit((unsigned char)strText[uPos + 1]))
                ++uPos;
            else
                uPos = strText.size();
        }
        ullVersion = (ullVersion << 16) | ulPart;
    }
    return ullVersion;
}

// The driver bound to the device, with its module's version or else the kernel's.
void _BoundDrivers(const PciDevice& device, const std::string& strDescription, std::vector<Pf_DriverInfo>* pvecRetDrivers)
{
    char szLink[PATH_MAX];
    std::string strVersion;
    ssize_t nLength = readlink((device.strFolder + "driver").c_str(), szLink, sizeof(szLink) - 1);
    if (nLength <= 0)
        return;
    szLink[nLength] = '\0';
    std::string strModule = szLink;
    strModule = strModule.substr(strModule.find_last_of('/') + 1);
    if (strModule.empty())
        return;
    if (!Pf_ReadWholeFileAtMost(Pf_ProbePath("/sys/module/" + strModule + "/version"), 256, &strVersion) &&
        !Pf_ReadWholeFileAtMost(Pf_ProbePath("/proc/sys/kernel/osrelease"), 256, &strVersion))
        return;
    pvecRetDrivers->push_back({strDescription, _ParseDriverVersion(strVersion)});
}

int _ReadSimShaderVersion(const char* cszName, uint32_t uKind, uint32_t* puRetVersion)
{
    std::string strValue;
    unsigned uMajor = 0, uMinor = 0;
    char cEnd = 0;
    if (!Pf_SimRead(cszName, &strValue) || sscanf(strValue.c_str(), "%u.%u%c", &uMajor, &uMinor, &cEnd) != 2 ||
        uMajor > 255 || uMinor > 255)
        return 0;
    *puRetVersion = (uKind << 16) | (uMajor << 8) | uMinor;
    return 1;
}

}  // namespace

int Pf_GetDisplayAdapters(std::vector<Pf_DisplayAdapter>* pvecRetAdapters)
{
    std::vector<PciDevice> vecDevices;
    char szId[128];
    if (!pvecRetAdapters || !_ListDisplayDevices(&vecDevices))
        return 0;
    for (const PciDevice& device : vecDevices) {
        Pf_DisplayAdapter adapter;
        adapter.strDeviceDesc = _Description(device);
        snprintf(szId, sizeof(szId), "PCI\\VEN_%04X&DEV_%04X&SUBSYS_%04X%04X&REV_%02X", device.uVendor, device.uDevice,
                 device.uSubDevice, device.uSubVendor, device.uRevision & 0xFF);
        adapter.vecHardwareIds.push_back(szId);
        snprintf(szId, sizeof(szId), "PCI\\VEN_%04X&DEV_%04X&SUBSYS_%04X%04X", device.uVendor, device.uDevice,
                 device.uSubDevice, device.uSubVendor);
        adapter.vecHardwareIds.push_back(szId);
        snprintf(szId, sizeof(szId), "PCI\\VEN_%04X&DEV_%04X&REV_%02X", device.uVendor, device.uDevice,
                 device.uRevision & 0xFF);
        adapter.vecHardwareIds.push_back(szId);
        snprintf(szId, sizeof(szId), "PCI\\VEN_%04X&DEV_%04X", device.uVendor, device.uDevice);
        adapter.vecHardwareIds.push_back(szId);
        _BoundDrivers(device, adapter.strDeviceDesc, &adapter.vecDrivers);
        pvecRetAdapters->push_back(adapter);
    }
    return 1;
}

int Pf_GetVideoControllers(std::vector<Pf_VideoController>* pvecRetControllers)
{
    std::vector<PciDevice> vecDevices;
    if (!pvecRetControllers || !_ListDisplayDevices(&vecDevices))
        return 0;
    for (const PciDevice& device : vecDevices) {
        Pf_VideoController controller;
        std::string strText;
        controller.strDescription = _Description(device);
        if (Pf_ReadWholeFileAtMost(device.strFolder + "mem_info_vram_total", 64, &strText)) {
            char* pszEnd = nullptr;
            unsigned long long ullBytes = strtoull(strText.c_str(), &pszEnd, 10);
            if (pszEnd != strText.c_str()) {
                controller.bHasAdapterRAM = 1;
                controller.ullAdapterRAM = ullBytes;
            }
        }
        pvecRetControllers->push_back(controller);
    }
    return 1;
}

int Pf_GetShaderVersions(uint32_t* puRetVertexShaderVersion, uint32_t* puRetPixelShaderVersion)
{
    uint32_t uVertex = 0;
    uint32_t uPixel = 0;
    if (!_ReadSimShaderVersion("vertex_shader_version", 0xFFFE, &uVertex) ||
        !_ReadSimShaderVersion("pixel_shader_version", 0xFFFF, &uPixel))
        return 0;
    if (puRetVertexShaderVersion)
        *puRetVertexShaderVersion = uVertex;
    if (puRetPixelShaderVersion)
        *puRetPixelShaderVersion = uPixel;
    return 1;
}

int Pf_GetDxDiagDirectXVersion(std::string* pstrRetValue, int* pbRetFound)
{
    std::string strValue;
    if (!pstrRetValue || !pbRetFound || !Pf_SimRead("dxdiag_directx_version", &strValue))
        return 0;
    *pbRetFound = !strValue.empty();
    *pstrRetValue = strValue;
    return 1;
}
