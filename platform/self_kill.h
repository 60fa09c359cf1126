// Ends the calling process at once with SIGKILL, as a crash or a power cut
// would: no buffers flushed, no destructors run. For crash tests.
#pragma once

[[noreturn]] void Pf_KillSelf();
