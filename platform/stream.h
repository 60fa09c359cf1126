// Finishing written stdio streams: with buffering, a full disk shows up only
// when the buffer is flushed, so a written file is done only when flushing,
// syncing and closing all succeeded.
#pragma once
#include <cstdio>

// Flushes the stream's buffer and syncs its data to the disk.
int Pf_SyncStream(FILE* fp);
// Flushes, optionally syncs, and closes the stream; the stream is closed in
// every case. 1 only when every step succeeded.
int Pf_CloseWrittenStream(FILE* fp, int bSync);
