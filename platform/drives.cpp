// Drive letters over the mount table (see drives.h).
#include "platform/drives.h"

#include "platform/file.h"
#include "platform/system_probe.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>
#include <sstream>
#include <sys/statvfs.h>
#include <vector>

namespace {

struct Drive {
    char cLetter;
    int nType;
    std::string strMountPoint;
};

const char* const s_aszRemote[] = {"nfs", "nfs4", "cifs", "smb3", "smbfs", "ncpfs", "afs", "ceph",
                                   "glusterfs", "9p", "fuse.sshfs", "sshfs", "davfs", "fuse.rclone"};
const char* const s_aszFixedWithoutDevice[] = {"overlay", "zfs", "btrfs", "xfs", "ext4", "ext3", "ext2", "f2fs"};

bool _IsOneOf(const std::string& str, const char* const* ppszList, size_t uCount)
{
    for (size_t i = 0; i < uCount; ++i) {
        if (str == ppszList[i])
            return true;
    }
    return false;
}

// "\040" and the other octal escapes of the mount table.
std::string _Unescape(const std::string& str)
{
    std::string strResult;
    for (size_t i = 0; i < str.size(); ++i) {
        if (str[i] == '\\' && i + 3 < str.size() && isdigit((unsigned char)str[i + 1]) &&
            isdigit((unsigned char)str[i + 2]) && isdigit((unsigned char)str[i + 3])) {
            strResult += (char)(((str[i + 1] - '0') << 6) | ((str[i + 2] - '0') << 3) | (str[i + 3] - '0'));
            i += 3;
        } else {
            strResult += str[i];
        }
    }
    return strResult;
}

// The whole disk of a partition's name: "sdb1" -> "sdb", "nvme0n1p2" -> "nvme0n1".
std::string _DiskOfPartition(const std::string& strName)
{
    std::string strDisk = strName;
    while (!strDisk.empty() && isdigit((unsigned char)strDisk.back()))
        strDisk.pop_back();
    if (strDisk.size() > 1 && strDisk.back() == 'p' && isdigit((unsigned char)strDisk[strDisk.size() - 2]))
        strDisk.pop_back();
    return strDisk;
}

int _IsRemovableDevice(const std::string& strName)
{
    std::string strFlag;
    for (const std::string& strDisk : {strName, _DiskOfPartition(strName)}) {
        if (!strDisk.empty() && Pf_ReadWholeFileAtMost(Pf_ProbePath("/sys/block/" + strDisk + "/removable"), 64, &strFlag))
            return strFlag.compare(0, 1, "1") == 0;
    }
    return 0;
}

// The folders where the kernel and the running system keep their own
// objects (devices, shared memory, sockets, control groups): a file system
// mounted there holds none of the user's files.
int _IsKernelFolder(const std::string& strMountPoint)
{
    for (const char* cszFolder : {"/dev", "/run", "/sys", "/proc"}) {
        size_t uLen = strlen(cszFolder);
        if (strMountPoint.compare(0, uLen, cszFolder) == 0 &&
            (strMountPoint.size() == uLen || strMountPoint[uLen] == '/'))
            return 1;
    }
    return 0;
}

// The kind of one mount; PF_DRIVE_UNKNOWN for one that gets no letter.
int _MountType(const std::string& strSource, const std::string& strMountPoint, const std::string& strFsType)
{
    if (_IsOneOf(strFsType, s_aszRemote, sizeof(s_aszRemote) / sizeof(s_aszRemote[0])) ||
        strFsType.compare(0, 4, "nfs") == 0)
        return PF_DRIVE_REMOTE;
    if (strFsType == "tmpfs" || strFsType == "ramfs")
        return _IsKernelFolder(strMountPoint) ? PF_DRIVE_UNKNOWN : PF_DRIVE_RAMDISK;
    if (strFsType == "iso9660" || strFsType == "udf")
        return PF_DRIVE_CDROM;
    if (strFsType == "squashfs")
        return PF_DRIVE_UNKNOWN;
    if (strSource.compare(0, 5, "/dev/") == 0) {
        std::string strName = strSource.substr(strSource.find_last_of('/') + 1);
        if (strName.compare(0, 2, "sr") == 0)
            return PF_DRIVE_CDROM;
        return _IsRemovableDevice(strName) ? PF_DRIVE_REMOVABLE : PF_DRIVE_FIXED;
    }
    if (_IsOneOf(strFsType, s_aszFixedWithoutDevice, sizeof(s_aszFixedWithoutDevice) / sizeof(s_aszFixedWithoutDevice[0])))
        return PF_DRIVE_FIXED;
    return PF_DRIVE_UNKNOWN;
}

struct Mount {
    std::string strSource;
    std::string strMountPoint;
    std::string strFsType;
};

// The mounts that can be seen: a later mount on the same folder hides the
// earlier one. The root comes first, the others in the table's order.
int _VisibleMounts(std::vector<Mount>* pvecRetMounts)
{
    std::string strTable;
    std::string strLine;
    std::vector<Mount> vecMounts;
    if (!Pf_ReadWholeFileAtMost(Pf_ProbePath("/proc/mounts"), 4u << 20, &strTable))
        return 0;
    std::istringstream lines(strTable);
    while (std::getline(lines, strLine)) {
        std::istringstream fields(strLine);
        Mount mount;
        if (!(fields >> mount.strSource >> mount.strMountPoint >> mount.strFsType))
            continue;
        mount.strSource = _Unescape(mount.strSource);
        mount.strMountPoint = _Unescape(mount.strMountPoint);
        for (size_t i = 0; i < vecMounts.size(); ++i) {
            if (vecMounts[i].strMountPoint == mount.strMountPoint) {
                vecMounts.erase(vecMounts.begin() + (long)i);
                break;
            }
        }
        vecMounts.push_back(mount);
    }
    std::stable_partition(vecMounts.begin(), vecMounts.end(),
                          [](const Mount& mount) { return mount.strMountPoint == "/"; });
    pvecRetMounts->swap(vecMounts);
    return 1;
}

int _ListDrives(std::vector<Drive>* pvecRetDrives)
{
    std::vector<Mount> vecMounts;
    std::set<std::string> setDevices;
    char cNext = 'C';
    if (!_VisibleMounts(&vecMounts))
        return 0;
    for (const Mount& mount : vecMounts) {
        if (cNext > 'Z')
            break;
        int nType = _MountType(mount.strSource, mount.strMountPoint, mount.strFsType);
        if (nType == PF_DRIVE_UNKNOWN)
            continue;
        if (mount.strSource.compare(0, 5, "/dev/") == 0 && !setDevices.insert(mount.strSource).second)
            continue;
        pvecRetDrives->push_back({cNext++, nType, mount.strMountPoint});
    }
    return 1;
}

int _FindDrive(const char* cszRoot, Drive* pRetDrive)
{
    std::vector<Drive> vecDrives;
    if (!cszRoot || !isalpha((unsigned char)cszRoot[0]) || cszRoot[1] != ':')
        return 0;
    if (cszRoot[2] != '\0' && !((cszRoot[2] == '\\' || cszRoot[2] == '/') && cszRoot[3] == '\0'))
        return 0;
    if (!_ListDrives(&vecDrives))
        return 0;
    for (const Drive& drive : vecDrives) {
        if (drive.cLetter == toupper((unsigned char)cszRoot[0])) {
            *pRetDrive = drive;
            return 1;
        }
    }
    return 0;
}

}  // namespace

uint32_t Pf_GetLogicalDriveStrings(char* pszRetBuffer, uint32_t uBufferSize)
{
    std::vector<Drive> vecDrives;
    std::string strList;
    if (!_ListDrives(&vecDrives))
        return 0;
    for (const Drive& drive : vecDrives) {
        strList += drive.cLetter;
        strList += ":\\";
        strList += '\0';
    }
    if (!pszRetBuffer || strList.size() + 1 > uBufferSize)
        return (uint32_t)strList.size() + 1;
    memcpy(pszRetBuffer, strList.data(), strList.size());
    pszRetBuffer[strList.size()] = '\0';
    return (uint32_t)strList.size();
}

int Pf_GetDriveType(const char* cszRoot)
{
    Drive drive;
    if (!_FindDrive(cszRoot, &drive))
        return PF_DRIVE_NO_ROOT_DIR;
    return drive.nType;
}

int Pf_GetDiskFreeSpace(const char* cszRoot, uint64_t* pullRetFree, uint64_t* pullRetTotal)
{
    Drive drive;
    struct statvfs st;
    if (!_FindDrive(cszRoot, &drive))
        return 0;
    if (statvfs(Pf_ProbePath(drive.strMountPoint).c_str(), &st) != 0)
        return 0;
    if (pullRetFree)
        *pullRetFree = (uint64_t)st.f_bavail * (uint64_t)st.f_frsize;
    if (pullRetTotal)
        *pullRetTotal = (uint64_t)st.f_blocks * (uint64_t)st.f_frsize;
    return 1;
}
