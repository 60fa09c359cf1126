// The tables of the updater window's status and error codes (see updater_codes.h).
#include "app/updater_codes.h"

namespace {

struct StatusDisplay {
    int nStatus;
    const char* cszState;
    unsigned uStringId;
};

const StatusDisplay s_aStatus[] = {
    {UPDATE_STATUS_PREPARING, "0", 153},   {UPDATE_STATUS_DOWNLOADING, "3", 154},
    {UPDATE_STATUS_UPDATING, "4", 155},    {UPDATE_STATUS_COMPLETE, "1", 156},
    {UPDATE_STATUS_LATEST, "1", 157},      {UPDATE_STATUS_SYNCHRONISING, "3", 167},
};

struct ErrorText {
    int nError;
    unsigned uStringId;
};

const ErrorText s_aError[] = {
    {UPDATE_ERROR_CONFIG_INCOMPLETE, 143}, {UPDATE_ERROR_CONNECT_TIMEOUT, 144}, {UPDATE_ERROR_NETWORK_BROKEN, 145},
    {UPDATE_ERROR_FILE_NOT_FOUND, 146},    {UPDATE_ERROR_DISK_FULL, 147},       {UPDATE_ERROR_WRITE_FILE, 148},
    {UPDATE_ERROR_NO_USABLE_PATCH, 149},   {UPDATE_ERROR_UPDATE_FAILED, 150},   {UPDATE_ERROR_PATCH_MISMATCH, 151},
    {UPDATE_ERROR_SELF_UPDATE_FAILED, 152}, {UPDATE_ERROR_SYNC_FAILED, 168},
};

} // namespace

int Rv_GetStatusDisplay(int nStatus, const char** ppszRetState, unsigned* puRetStringId)
{
    for (const StatusDisplay& display : s_aStatus) {
        if (display.nStatus == nStatus) {
            *ppszRetState = display.cszState;
            *puRetStringId = display.uStringId;
            return 1;
        }
    }
    return 0;
}

unsigned Rv_GetErrorStringId(int nError)
{
    for (const ErrorText& text : s_aError)
        if (text.nError == nError)
            return text.uStringId;
    return 0;
}
