// What a test of the web-client paths runs in: no proxy taken from the
// environment, and a simulated machine in the test's folder whose sleeps are
// shortened, so that retry pauses pass quickly. Undone when it goes.
#pragma once
#include "tests/support/temp_dir.h"

#include <cstdlib>

class Rv_TestWebClientEnv {
public:
    explicit Rv_TestWebClientEnv(const Rv_TestTempDir& dir)
    {
        unsetenv("http_proxy");
        unsetenv("HTTP_PROXY");
        setenv("RV_SIM_ROOT", dir.File("sim").c_str(), 1);
        Rv_TestWriteFile(dir.File("sim/sleep_divisor"), "10");
    }
    ~Rv_TestWebClientEnv() { unsetenv("RV_SIM_ROOT"); }
    Rv_TestWebClientEnv(const Rv_TestWebClientEnv&) = delete;
    Rv_TestWebClientEnv& operator=(const Rv_TestWebClientEnv&) = delete;
};
