// The top object of the process: the mode of the run from the command line,
// the application and "update\" folders, the named event shared with the
// security product, the optional log clean-up, and the run of the mode.
#pragma once
#include "platform/named_event.h"
#include "platform/process.h"
#include "platform/thread.h"

#include <string>

struct Rv_RefitterParameter {
    int nType;                          // 0 self-update, 1 -w, 2 -a, 3 -q, 4 manual, 5 /felnupdate
    Pf_Event hSuccessSelfUpdateEvent;   // mode 1 only
    Pf_Event hFailedSelfUpdateEvent;
    char szManualPatchFileName[260];    // mode 4 only
};

class Rv_Refitter {
public:
    int Init(const char* cszCommandLine);
    int Run();
    int UnInit();
    int GetType() const { return m_Parameter.nType; }
    const char* GetManualPatchFileName() const { return m_Parameter.szManualPatchFileName; }
    const std::string& GetApplicationPath() const { return m_strApplicationPath; }
    const std::string& GetUpdatePath() const { return m_strUpdatePath; }

private:
    int _AnalyzeCommandLine(const char* cszCommandLine);
    int _NotifyFelnEvent();
    int _RemoveAllUnnecessaryLogs();
    int _SelfUpdate();
    void _ReportStartUpdaterError();
    int _CreateNewApplicationProcess(const char* cszArguments, Pf_Event* const* ppInherit, int nInherit,
                                     Pf_Process* pRetProcess);
    int _PatchUpdate();
    int _WriteSwfFile(const std::string& strPath);
    int _FelnHelpUpdate();

    Rv_RefitterParameter m_Parameter{};
    std::string m_strApplicationPath;
    std::string m_strApplicationName;
    std::string m_strUpdatePath;
    Pf_NamedEvent m_hNotifyFelnEvent;
};
