// The running processes and the full paths of their images, from /proc.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct Pf_ProcessEntry {
    uint32_t uProcessId;
    std::string strImagePath;   // full path of the executable file
};

// Lists every process whose image can be read; processes that cannot be
// read (other users', ended ones) are skipped. Returns 0 only when the
// process list itself cannot be read.
int Pf_ListProcesses(std::vector<Pf_ProcessEntry>* pvecRetProcesses);
// The image path of one process; 0 when it has ended, is a zombie or cannot
// be read.
int Pf_GetProcessImagePath(uint32_t uProcessId, std::string* pstrRetImagePath);
// The path as a process's image path spells it: the system's spelling turned
// native, made absolute, and with links resolved when the file exists.
std::string Pf_ImagePathOf(const std::string& strPath);
