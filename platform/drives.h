// The machine's drives as the system names them: a letter per mounted file
// system ("C:\" first), its kind, and its free and total bytes.
//
// The mount table (/proc/mounts under the probe root, platform/system_probe.h)
// gives the drives: the root file system is "C:\", the others follow in the
// table's order. Only file systems that hold files get a letter: not those
// of the kernel's own (proc, sysfs, cgroup, ...), nor memory file systems in
// the kernel's and the running system's folders (/dev, /run, /sys, /proc),
// nor read-only images, nor a block device mounted a second time, nor a
// mount hidden by a later one on the same folder. Letters run from C to Z.
#pragma once
#include <cstdint>
#include <string>

enum Pf_DriveType {
    PF_DRIVE_UNKNOWN = 0,
    PF_DRIVE_NO_ROOT_DIR = 1,
    PF_DRIVE_REMOVABLE = 2,
    PF_DRIVE_FIXED = 3,
    PF_DRIVE_REMOTE = 4,
    PF_DRIVE_CDROM = 5,
    PF_DRIVE_RAMDISK = 6,
};

// The roots "C:\", "D:\", ... each followed by a zero, the list ending in a
// second zero, into the buffer. Returns the length without the final zero;
// when the buffer is too small, the size it needs (and writes nothing); 0 on
// error.
uint32_t Pf_GetLogicalDriveStrings(char* pszRetBuffer, uint32_t uBufferSize);
// The kind of the drive of a root ("C:\"); PF_DRIVE_NO_ROOT_DIR for no such drive.
int Pf_GetDriveType(const char* cszRoot);
// Bytes free to the caller and total bytes of the drive of a root.
int Pf_GetDiskFreeSpace(const char* cszRoot, uint64_t* pullRetFree, uint64_t* pullRetTotal);
