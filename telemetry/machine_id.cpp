// The machine identifier's stores. For now no identifier can be had.
#include "telemetry/machine_id.h"

std::u16string g_wstrMachineUUID;

void GetUUIDEx(const char*, std::u16string* pwstrRetUUID) { pwstrRetUUID->clear(); }
int GetFelnUUIDEx(char*, unsigned) { return 0; }
int Rv_GetFelnUUIDEx(char*) { return 0; }
void LoadMachineUUID() {}
int GetMachineUUIDUtf8(int, char*) { return 0; }
