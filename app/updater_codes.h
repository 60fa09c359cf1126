// The updater window's status and error codes, what each shows in the movie
// (state value and string id), and the string ids of the window's other texts.
#pragma once

enum UpdaterStatusCode {
    UPDATE_STATUS_PREPARING = 101,
    UPDATE_STATUS_DOWNLOADING = 102,
    UPDATE_STATUS_UPDATING = 103,
    UPDATE_STATUS_COMPLETE = 104,
    UPDATE_STATUS_LATEST = 105,
    UPDATE_STATUS_SYNCHRONISING = 106,
};

enum UpdaterErrorCode {
    UPDATE_ERROR_NONE = 200,
    UPDATE_ERROR_CONFIG_INCOMPLETE = 201,
    UPDATE_ERROR_CONNECT_TIMEOUT = 202,
    UPDATE_ERROR_NETWORK_BROKEN = 203,
    UPDATE_ERROR_FILE_NOT_FOUND = 204,
    UPDATE_ERROR_DISK_FULL = 205,
    UPDATE_ERROR_WRITE_FILE = 206,
    UPDATE_ERROR_NO_USABLE_PATCH = 207,
    UPDATE_ERROR_UPDATE_FAILED = 208,
    UPDATE_ERROR_PATCH_MISMATCH = 209,
    UPDATE_ERROR_SELF_UPDATE_FAILED = 210,
    UPDATE_ERROR_SYNC_FAILED = 211,
};

enum {
    RV_IDS_WINDOW_TITLE = 121,
    RV_IDS_CAPTION = 122,
    RV_IDS_ASK_STOP_DOWNLOAD = 130,
    RV_IDS_CANNOT_START = 131,
    RV_IDS_CLOSE_CLIENT = 136,
    RV_IDS_SELF_UPDATE_RUNNING = 137,
    RV_IDS_SELF_UPDATE_CAPTION = 142,
    RV_IDS_CURRENT = 158,
    RV_IDS_LATEST = 159,
    RV_IDS_UPDATING = 160,
    RV_IDS_ASK_STOP_SYNC = 169,
};

// The state value and the string id of a status; 0 for a status outside the table.
int Rv_GetStatusDisplay(int nStatus, const char** ppszRetState, unsigned* puRetStringId);
// The string id of an error's text; 0 for 200 and for codes outside the table.
unsigned Rv_GetErrorStringId(int nError);
