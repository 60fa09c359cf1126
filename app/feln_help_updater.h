// The security-product check mode: asks the patch server which patches lead
// from the installed version towards the latest one, with their sizes, and
// writes the answer into "felnupdate.ini" in the update folder, where the
// security product installed beside the client reads it. No window, no
// telemetry; one named event keeps the mode to one instance per version line.
#pragma once
#include "app/patch_list.h"
#include "config/ny_config.h"
#include "platform/named_event.h"

#include <string>

class NyFelnHelpUpdater {
public:
    NyFelnHelpUpdater() = default;
    ~NyFelnHelpUpdater();
    NyFelnHelpUpdater(const NyFelnHelpUpdater&) = delete;
    NyFelnHelpUpdater& operator=(const NyFelnHelpUpdater&) = delete;

    // Loads the configuration, takes the singleton event and removes an old
    // answer file. Fails when another instance holds the event; the answer
    // file is then left alone.
    int init();
    // Builds the pending chain and writes the answer file as a whole (a
    // temporary name, synced, renamed over). No answer file remains after a
    // failure.
    int run();

    const std::string& GetResultFileFullName() const { return m_strResultFileFullName; }

private:
    int _TakeSingletonEvent();
    int _RemoveResultFile();
    int _BuildPatchInfoList();
    int _WriteResultFile();

    NyConfig m_Config;
    std::string m_strServerVersion;
    Rv_PatchFileInfoList m_PatchInfoList;
    std::string m_strResultFileFullName;
    Pf_NamedEvent m_hSingletonEvent;
};
