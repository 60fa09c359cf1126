// The video-card probes and the reporter's video-card text, over PCI trees
// of simulated machines.
#include "telemetry/video_card.h"
#include "tests/telemetry/probes/probe_access.h"

#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

typedef NyClientReportTestAccess Access;

class VideoCardProbes : public ProbeMachine {
protected:
    // One PCI function; vram 0 leaves the memory size untold, an empty
    // driver leaves the device without one.
    void Device(const std::string& strAddress, const char* cszClass, const char* cszVendor, const char* cszDevice,
                unsigned long long ullVram, const std::string& strDriver)
    {
        std::string strFolder = "/sys/bus/pci/devices/" + strAddress + "/";
        MachineFile(strFolder + "class", std::string(cszClass) + "\n");
        MachineFile(strFolder + "vendor", std::string(cszVendor) + "\n");
        MachineFile(strFolder + "device", std::string(cszDevice) + "\n");
        MachineFile(strFolder + "subsystem_vendor", "0x1462\n");
        MachineFile(strFolder + "subsystem_device", "0x3892\n");
        MachineFile(strFolder + "revision", "0xa1\n");
        if (ullVram)
            MachineFile(strFolder + "mem_info_vram_total", std::to_string(ullVram) + "\n");
        if (!strDriver.empty()) {
            ASSERT_EQ(0, symlink(("../../../bus/pci/drivers/" + strDriver).c_str(),
                                 MachinePath(strFolder + "driver").c_str()));
        }
    }
    void NameList()
    {
        MachineFile("/usr/share/misc/pci.ids",
                    "# names\n"
                    "1002  Advanced Micro Devices, Inc. [AMD/ATI]\n"
                    "\t73bf  Navi 21 [Radeon RX 6800/6800 XT / 6900 XT]\n"
                    "\t\t1002 0e3a  Radeon RX 6900 XT\n"
                    "10de  NVIDIA Corporation\n"
                    "\t2206  GA102 [GeForce RTX 3080]\n"
                    "8086  Intel Corporation\n");
    }
    std::vector<VideoCardInfo> Cards()
    {
        std::list<VideoCardInfo> listInfo;
        EXPECT_TRUE(Rv_GetVideoCardInfo(&listInfo));
        return std::vector<VideoCardInfo>(listInfo.begin(), listInfo.end());
    }
};

TEST_F(VideoCardProbes, AdaptersGetNamesIdsDriversAndMemoryInOrder)
{
    NameList();
    MachineFile("/sys/module/amdgpu/version", "23.10.2\n");
    MachineFile("/proc/sys/kernel/osrelease", "6.1.0-18-amd64\n");
    // Two identical cards: each gets its own memory size, in bus order.
    Device("0000:03:00.0", "0x030000", "0x1002", "0x73bf", 8ull << 30, "amdgpu");
    Device("0000:0a:00.0", "0x030000", "0x1002", "0x73bf", 16ull << 30, "amdgpu");
    Device("0000:00:1f.3", "0x040300", "0x8086", "0x51c8", 0, "snd_hda_intel");    // audio, not shown
    Device("0000:01:00.0", "0x030200", "0x10de", "0x2206", 0, "nouveau");            // memory untold
    Device("0000:00:02.0", "0x030000", "0x8086", "0x46a6", 0, "");                    // unnamed, no driver

    std::vector<VideoCardInfo> vecCards = Cards();
    ASSERT_EQ(4u, vecCards.size());
    struct Expected {
        const char* cszDesc;
        const char* cszId;
        const char* cszDriver;
        const char* cszRam;
    } aExpected[] = {
        {"Video Controller", "PCI\\VEN_8086&DEV_46A6&SUBSYS_38921462&REV_A1", "", "0MB"},
        {"NVIDIA Corporation GA102 [GeForce RTX 3080]", "PCI\\VEN_10DE&DEV_2206&SUBSYS_38921462&REV_A1",
         "6.1.0.18\n", "0MB"},
        {"Advanced Micro Devices, Inc. [AMD/ATI] Navi 21 [Radeon RX 6800/6800 XT / 6900 XT]",
         "PCI\\VEN_1002&DEV_73BF&SUBSYS_38921462&REV_A1", "23.10.2.0\n", "8192MB"},
        {"Advanced Micro Devices, Inc. [AMD/ATI] Navi 21 [Radeon RX 6800/6800 XT / 6900 XT]",
         "PCI\\VEN_1002&DEV_73BF&SUBSYS_38921462&REV_A1", "23.10.2.0\n", "16384MB"},
    };
    for (size_t i = 0; i < vecCards.size(); ++i) {
        EXPECT_STREQ(aExpected[i].cszDesc, vecCards[i].szDeviceDesc) << i;
        EXPECT_STREQ(aExpected[i].cszId, vecCards[i].szHardwareID) << i;
        EXPECT_STREQ(aExpected[i].cszDriver, vecCards[i].szDriverVersion) << i;
        EXPECT_STREQ(aExpected[i].cszRam, vecCards[i].szVideoRAM) << i;
    }
}

TEST_F(VideoCardProbes, LongDescriptionsAreCutWholeAndStillGetTheirMemory)
{
    std::string strLong(120, 'x');
    MachineFile("/usr/share/misc/pci.ids", "1002  Vendor\n\t73bf  " + strLong + "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\n");
    Device("0000:03:00.0", "0x030000", "0x1002", "0x73bf", 2ull << 30, "");
    std::vector<VideoCardInfo> vecCards = Cards();
    ASSERT_EQ(1u, vecCards.size());
    // "Vendor " and 120 letters leave room for no whole two-byte letter.
    EXPECT_EQ("Vendor " + strLong, std::string(vecCards[0].szDeviceDesc));
    EXPECT_STREQ("2048MB", vecCards[0].szVideoRAM);
}

TEST_F(VideoCardProbes, ShaderLevelsFromTheDevice)
{
    struct Case {
        const char* cszVertex;
        const char* cszPixel;
        int nVertexLevel;
        int nPixelLevel;
    } aCases[] = {
        {"3.0", "2.0", 3, 2}, {"1.1", "1.4", 1, 1}, {"2.0", "3.0", 2, 3}, {"2.1", "2.255", 2, 2}, {"4.0", "5.1", 3, 3},
    };
    for (const Case& c : aCases) {
        Fact("vertex_shader_version", c.cszVertex);
        Fact("pixel_shader_version", c.cszPixel);
        int nVertexLevel = -1;
        int nPixelLevel = -1;
        EXPECT_TRUE(CheckVideoCardShaderVersion(&nVertexLevel, &nPixelLevel));
        EXPECT_EQ(c.nVertexLevel, nVertexLevel) << c.cszVertex;
        EXPECT_EQ(c.nPixelLevel, nPixelLevel) << c.cszPixel;
    }
    // No device: both levels 0, and the check itself still succeeds.
    Pf_DeleteFile(m_Dir.File("sim/pixel_shader_version"));
    int nVertexLevel = -1;
    int nPixelLevel = -1;
    EXPECT_TRUE(CheckVideoCardShaderVersion(&nVertexLevel, &nPixelLevel));
    EXPECT_EQ(0, nVertexLevel);
    EXPECT_EQ(0, nPixelLevel);
}

// The machine and the device report probe at the same time: neither sees
// the other's probe half done.
TEST_F(VideoCardProbes, ConcurrentProbesEachGetTheirLevels)
{
    NameList();
    Device("0000:01:00.0", "0x030000", "0x10de", "0x2206", 10ull << 30, "nvidia");
    Fact("vertex_shader_version", "3.0");
    Fact("pixel_shader_version", "2.0");
    std::string strExpected = Probe(Access::VideoCardInfo());
    ASSERT_EQ(" & 3 & 2", strExpected.substr(strExpected.size() - 8));
    std::atomic<int> nWrong{0};
    auto fnProbe = [&] {
        for (int i = 0; i < 50; ++i) {
            if (Probe(Access::VideoCardInfo()) != strExpected)
                ++nWrong;
        }
    };
    std::thread machine(fnProbe);
    std::thread device(fnProbe);
    machine.join();
    device.join();
    EXPECT_EQ(0, nWrong.load());
}

TEST_F(VideoCardProbes, ReportTextListsAdaptersThenShaderLevels)
{
    NameList();
    MachineFile("/sys/module/nvidia/version", "535.129.03\n");
    Device("0000:01:00.0", "0x030000", "0x10de", "0x2206", 10ull << 30, "nvidia");
    Fact("vertex_shader_version", "3.0");
    Fact("pixel_shader_version", "2.0");
    EXPECT_EQ("\"NVIDIA Corporation GA102 [GeForce RTX 3080]\" \"PCI\\VEN_10DE&DEV_2206&SUBSYS_38921462&REV_A1\" "
              "\"535.129.3.0\n\" \"10240MB\" & 3 & 2",
              Probe(Access::VideoCardInfo()));

    Pf_DeleteFile(m_Dir.File("sim/vertex_shader_version"));
    EXPECT_EQ("\"NVIDIA Corporation GA102 [GeForce RTX 3080]\" \"PCI\\VEN_10DE&DEV_2206&SUBSYS_38921462&REV_A1\" "
              "\"535.129.3.0\n\" \"10240MB\" & 0 & 0",
              Probe(Access::VideoCardInfo()));
}

TEST_F(VideoCardProbes, NoAdapterGivesAnEmptyTextWithoutTheShaderCheck)
{
    Fact("vertex_shader_version", "3.0");
    Fact("pixel_shader_version", "3.0");
    EXPECT_EQ("", Probe(Access::VideoCardInfo()));
    Device("0000:00:1f.3", "0x040300", "0x8086", "0x51c8", 0, "");
    EXPECT_EQ("", Probe(Access::VideoCardInfo()));
}

TEST_F(VideoCardProbes, ReportTextThatDoesNotFitFailsWhole)
{
    NameList();
    Device("0000:03:00.0", "0x030000", "0x1002", "0x73bf", 1ull << 30, "");
    Device("0000:04:00.0", "0x030000", "0x1002", "0x73bf", 1ull << 30, "");
    EXPECT_EQ("<failed>", Probe(Access::VideoCardInfo()));
    EXPECT_NE(std::string::npos, m_Log.Text().find("nRetCode > 0 && nRetCode < (int)uLeftSize"));
}
