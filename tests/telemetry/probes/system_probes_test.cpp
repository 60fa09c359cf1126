// The reporter's probes of the operating system, processors, memory, drives
// and screen, over simulated machines.
#include "tests/telemetry/probes/probe_access.h"

#include "platform/drives.h"

#include <sys/statvfs.h>

#include <regex>

typedef NyClientReportTestAccess Access;

class SystemProbes : public ProbeMachine {};

TEST_F(SystemProbes, OsNameFollowsVersionAndProductType)
{
    struct Case {
        const char* cszVersion;
        const char* cszProductType;
        const char* cszServerR2;
        const char* cszServicePack;
        const char* cszHost64;
        const char* cszExpected;
    } aCases[] = {
        {"5.0.2195", "1", "0", "", "0", "Windows 2000 (Build 2195), x86 Edition"},
        {"5.1.2600", "1", "0", "Service Pack 3", "0", "Windows XP Service Pack 3 (Build 2600), x86 Edition"},
        {"5.2.3790", "3", "0", "", "1", "Windows Server 2003 (Build 3790), x64 Edition"},
        {"5.2.3790", "3", "1", "", "1", "Windows Server 2003 RC2 (Build 3790), x64 Edition"},
        {"5.3.1", "1", "0", "", "0", "Windows NT (Build 1), x86 Edition"},
        {"6.0.6002", "1", "0", "", "0", "Windows Vista (Build 6002), x86 Edition"},
        {"6.0.6002", "3", "0", "", "1", "Windows Sever 2008 (Build 6002), x64 Edition"},
        {"6.1.7601", "1", "0", "Service Pack 1", "1", "Windows 7 Service Pack 1 (Build 7601), x64 Edition"},
        {"6.1.7601", "2", "0", "", "1", "Windows Sever 2008 R2 (Build 7601), x64 Edition"},
        {"6.2.9200", "1", "0", "", "1", "Windows 8 (Build 9200), x64 Edition"},
        {"6.2.9200", "3", "0", "", "1", "Windows Sever 2012 (Build 9200), x64 Edition"},
        {"6.3.9600", "1", "0", "", "1", "Windows NT (Build 9600), x64 Edition"},
        {"10.0.19045", "3", "0", "", "1", "Windows NT (Build 19045), x64 Edition"},
    };
    for (const Case& c : aCases) {
        Fact("os_version", c.cszVersion);
        Fact("os_product_type", c.cszProductType);
        Fact("os_server_r2", c.cszServerR2);
        Fact("os_service_pack", c.cszServicePack);
        Fact("host_64bit", c.cszHost64);
        std::string strText = "overwritten";
        ASSERT_TRUE((m_Report.*Access::OSInfo())(&strText)) << c.cszVersion;
        EXPECT_EQ(c.cszExpected, strText) << c.cszVersion << " type " << c.cszProductType;
    }
}

// Without a simulated Windows version the text names the machine's own
// system and build, as the device report's text does.
TEST_F(SystemProbes, OsNameOfTheRealSystem)
{
    Fact("host_64bit", "1");
    MachineFile("/etc/os-release", "NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n");
    MachineFile("/proc/sys/kernel/osrelease", "6.1.0-18-amd64\n");
    EXPECT_EQ("Debian GNU/Linux 12 (bookworm) (Build 6.1.0-18-amd64), x64 Edition", Probe(Access::OSInfo()));

    // Without a description: the kernel's own name and release.
    Pf_DeleteFile(MachinePath("/etc/os-release"));
    Fact("host_64bit", "0");
    const std::string strKernel = Rv_TestRun("uname -s | tr -d '\\n'");
    const std::string strRelease = Rv_TestRun("uname -r | tr -d '\\n'");
    EXPECT_EQ(strKernel + " (Build " + strRelease + "), x86 Edition", Probe(Access::OSInfo()));
}

TEST_F(SystemProbes, OsNameRefusesOldOrNonNtSystems)
{
    struct Case {
        const char* cszVersion;
        const char* cszPlatform;
        const char* cszCheck;
    } aCases[] = {
        {"4.0.1381", "2", "RVLOG_PROCESS_ERROR(osvi.dwMajorVersion >= 5)"},
        {"4.10.1998", "1", "RVLOG_PROCESS_ERROR(osvi.dwPlatformId == VER_PLATFORM_WIN32_NT)"},
        {"garbage", "2", "RVLOG_PROCESS_ERROR(nRetCode && \"GetVersionEx()\")"},
    };
    for (const Case& c : aCases) {
        Fact("os_version", c.cszVersion);
        Fact("os_platform_id", c.cszPlatform);
        std::string strText = "kept";
        EXPECT_FALSE((m_Report.*Access::OSInfo())(&strText)) << c.cszVersion;
        EXPECT_EQ("kept", strText);
        EXPECT_NE(std::string::npos, m_Log.Text().find(c.cszCheck)) << c.cszCheck;
    }
}

TEST_F(SystemProbes, Wow64FollowsTheHostUnlessTheCallIsMissing)
{
    Fact("host_64bit", "1");
    EXPECT_EQ(1, Access::IsWow64(m_Report));
    Fact("host_64bit", "0");
    EXPECT_EQ(0, Access::IsWow64(m_Report));
    Fact("host_64bit", "1");
    Fact("missing_calls", "GetFileSizeEx\nIsWow64Process\n");
    EXPECT_EQ(0, Access::IsWow64(m_Report));
}

TEST_F(SystemProbes, OsInfoExJoinsTheManagementProperties)
{
    Fact("host_64bit", "1");
    MachineFile("/etc/os-release", "NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n");
    MachineFile("/proc/sys/kernel/osrelease", "6.1.0-18-amd64\n");
    EXPECT_EQ("Debian GNU/Linux 12 (bookworm)(Build 6.1.0-18-amd64), 64-bit", Probe(Access::OSInfoEx()));

    MachineFile("/etc/os-release", "NAME=Plain\n");
    Pf_DeleteFile(MachinePath("/proc/sys/kernel/osrelease"));
    Fact("host_64bit", "0");
    EXPECT_EQ("Plain, 32-bit", Probe(Access::OSInfoEx()));

    // Without a description the device report falls back to the version record.
    Pf_DeleteFile(MachinePath("/etc/os-release"));
    EXPECT_EQ("<failed>", Probe(Access::OSInfoEx()));
}

TEST_F(SystemProbes, CpuInfoNamesEveryProcessor)
{
    struct Case {
        const char* cszCpuInfo;
        const char* cszExpected;
    } aCases[] = {
        {"processor\t: 0\nmodel name\t: Core X\n\nprocessor\t: 1\nmodel name\t: Core X\n",
         "NumberOfProcessors:2;Core X & Core X"},
        {"processor\t: 0\nmodel name\t: A\n\nprocessor\t: 1\nmodel name\t: B\n\nprocessor\t: 2\nmodel name\t: C\n",
         "NumberOfProcessors:3;A & B & C"},
        // Processors without names: the count alone.
        {"processor\t: 0\nBogoMIPS\t: 50.00\n\nprocessor\t: 1\nBogoMIPS\t: 50.00\n", "NumberOfProcessors:2;"},
        // The first processor without a name ends the list.
        {"processor\t: 0\nmodel name\t: A\n\nprocessor\t: 1\n\nprocessor\t: 2\nmodel name\t: C\n",
         "NumberOfProcessors:3;A"},
    };
    for (const Case& c : aCases) {
        MachineFile("/proc/cpuinfo", c.cszCpuInfo);
        EXPECT_EQ(c.cszExpected, Probe(Access::CPUInfo()));
    }
}

TEST_F(SystemProbes, MemorySizeIsTheTotalInBytes)
{
    MachineFile("/proc/meminfo", "MemTotal:       16318480 kB\nMemFree:         1000 kB\nMemAvailable:    8000000 kB\n");
    EXPECT_EQ("16710123520", Probe(Access::MemorySize()));
    MachineFile("/proc/meminfo", "MemFree: 1000 kB\n");
    EXPECT_EQ("<failed>", Probe(Access::MemorySize()));
    EXPECT_NE(std::string::npos, m_Log.Text().find("nRetCode && \"GlobalMemoryStatusEx()\""));
}

TEST_F(SystemProbes, HardDiskInfoListsOnlyFixedDrives)
{
    // C: the root, D: a USB stick, E: /home, then network, optical, memory
    // and kernel file systems, a read-only image and /home's device again.
    MachineFile("/proc/mounts",
                "/dev/sda1 / ext4 rw 0 0\n"
                "proc /proc proc rw 0 0\n"
                "/dev/sdb1 /media/usb\\040stick vfat rw 0 0\n"
                "/dev/nvme0n1p2 /home ext4 rw 0 0\n"
                "server:/export /mnt/nfs nfs4 rw 0 0\n"
                "/dev/sr0 /media/cd iso9660 ro 0 0\n"
                "tmpfs /run tmpfs rw 0 0\n"
                "/dev/loop3 /snap/core/1 squashfs ro 0 0\n"
                "/dev/nvme0n1p2 /var/lib/docker ext4 rw 0 0\n"
                "sysfs /sys sysfs rw 0 0\n");
    MachineFile("/sys/block/sda/removable", "0\n");
    MachineFile("/sys/block/sdb/removable", "1\n");
    MachineFile("/sys/block/nvme0n1/removable", "0\n");
    for (const char* cszFolder : {"/media/usb stick", "/home", "/mnt/nfs", "/media/cd", "/run"})
        Pf_CreateDirChain(MachinePath(cszFolder));

    std::string strText = Probe(Access::HardDiskInfo());
    std::smatch match;
    ASSERT_TRUE(std::regex_match(strText, match, std::regex("C:(\\d+)/(\\d+); E:(\\d+)/(\\d+)"))) << strText;
    struct statvfs st;
    ASSERT_EQ(0, statvfs(MachinePath("/home").c_str(), &st));
    EXPECT_EQ(std::to_string((unsigned long long)st.f_blocks * st.f_frsize), match[4].str());
    EXPECT_LE(std::stoull(match[3].str()), std::stoull(match[4].str()));

    // A fixed drive whose free space cannot be read is left out.
    Pf_RemoveDir(MachinePath("/home"));
    EXPECT_TRUE(std::regex_match(Probe(Access::HardDiskInfo()), std::regex("C:\\d+/\\d+")));

    // No fixed drive at all: an empty text.
    MachineFile("/proc/mounts", "server:/export /mnt/nfs nfs rw 0 0\n");
    EXPECT_EQ("", Probe(Access::HardDiskInfo()));
}

// The root is "C:" wherever the table lists it; memory file systems in the
// kernel's folders and a mount hidden by a later one take no letter.
TEST_F(SystemProbes, HardDiskInfoGivesTheRootC)
{
    MachineFile("/proc/mounts",
                "proc /proc proc rw 0 0\n"
                "devtmpfs /dev devtmpfs rw 0 0\n"
                "tmpfs /dev/shm tmpfs rw 0 0\n"
                "tmpfs /run/user/1000 tmpfs rw 0 0\n"
                "tmpfs /sys/fs/cgroup tmpfs rw 0 0\n"
                "cgroup /sys/fs/cgroup/cpu cgroup rw 0 0\n"
                "/dev/sdc1 /data ext4 rw 0 0\n"
                "/dev/sdd1 /data ext4 rw 0 0\n"
                "rootfs / rootfs rw 0 0\n"
                "/dev/vda / ext4 rw 0 0\n"
                "tmpfs /tmp tmpfs rw 0 0\n");
    for (const char* cszDisk : {"vda", "sdc", "sdd"})
        MachineFile(std::string("/sys/block/") + cszDisk + "/removable", "0\n");
    Pf_CreateDirChain(MachinePath("/data"));
    Pf_CreateDirChain(MachinePath("/tmp"));

    std::string strText = Probe(Access::HardDiskInfo());
    EXPECT_TRUE(std::regex_match(strText, std::regex("C:\\d+/\\d+; D:\\d+/\\d+"))) << strText;
    char szDrives[128];
    uint32_t uLength = Pf_GetLogicalDriveStrings(szDrives, sizeof(szDrives));
    EXPECT_EQ(std::string("C:\\\0D:\\\0E:\\\0", 12), std::string(szDrives, uLength));
    EXPECT_EQ(PF_DRIVE_FIXED, Pf_GetDriveType("C:\\"));
    EXPECT_EQ(PF_DRIVE_FIXED, Pf_GetDriveType("D:\\"));
    EXPECT_EQ(PF_DRIVE_RAMDISK, Pf_GetDriveType("E:\\"));
    EXPECT_EQ(PF_DRIVE_NO_ROOT_DIR, Pf_GetDriveType("F:\\"));
}

// The size of the first connected display; none connected: no size at all.
TEST_F(SystemProbes, MetricsInfoIsWidthTimesHeight)
{
    EXPECT_EQ("<failed>", Probe(Access::MetricsInfo()));
    EXPECT_NE(std::string::npos, m_Log.Text().find("nRetCode && \"GetSystemMetrics()\""));

    MachineFile("/sys/class/drm/version", "drm 1.1.0\n");
    MachineFile("/sys/class/drm/card0/dev", "226:0\n");
    MachineFile("/sys/class/drm/card0-DP-1/status", "disconnected\n");
    MachineFile("/sys/class/drm/card0-DP-1/modes", "");
    MachineFile("/sys/class/drm/card0-HDMI-A-1/status", "connected\n");
    MachineFile("/sys/class/drm/card0-HDMI-A-1/modes", "");
    EXPECT_EQ("<failed>", Probe(Access::MetricsInfo()));

    MachineFile("/sys/class/drm/card0-eDP-1/status", "connected\n");
    MachineFile("/sys/class/drm/card0-eDP-1/modes", "2560x1440\n1920x1080\n1280x720\n");
    MachineFile("/sys/class/drm/card1-HDMI-A-2/status", "connected\n");
    MachineFile("/sys/class/drm/card1-HDMI-A-2/modes", "1366x768\n");
    EXPECT_EQ("2560*1440", Probe(Access::MetricsInfo()));

    Fact("screen_size", "1366x768");
    EXPECT_EQ("1366*768", Probe(Access::MetricsInfo()));
}

TEST_F(SystemProbes, ProbesNeedAnEmptyTarget)
{
    MachineFile("/proc/cpuinfo", "processor\t: 0\nmodel name\t: A\n");
    MachineFile("/proc/meminfo", "MemTotal: 1 kB\nMemAvailable: 1 kB\n");
    MachineFile("/proc/mounts", "/dev/sda1 / ext4 rw 0 0\n");
    Rv_TestProbe apfnProbes[] = {Access::CPUInfo(),          Access::VideoCardInfo(),    Access::MemorySize(),
                                 Access::DirectXVersionInfo(), Access::DirectXVersionInfoEx(),
                                 Access::DxDiagVersionInfo(), Access::DxVersionInfoInRegister(),
                                 Access::HardDiskInfo(),      Access::MetricsInfo()};
    for (Rv_TestProbe pfnProbe : apfnProbes) {
        std::string strText = "already";
        EXPECT_FALSE((m_Report.*pfnProbe)(&strText));
        EXPECT_EQ("already", strText);
    }
    EXPECT_NE(std::string::npos, m_Log.Text().find("RVLOG_PROCESS_ERROR(pstrRetInfo->empty())"));
}
