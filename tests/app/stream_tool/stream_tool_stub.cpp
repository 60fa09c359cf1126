// A stand-in for the streaming downloader tool in the app tests.
//
// Every start appends its arguments as one line to "<own path>.args".
// "-q" asks the running copies to quit by leaving "<own path>.quit"; any
// other start runs until that file appears (and removes it), unless
// "<own path>.stubborn" exists, and ends by itself after ten minutes at most.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <thread>

int main(int argc, char** argv)
{
    std::error_code ec;
    const std::string strSelf = std::filesystem::read_symlink("/proc/self/exe", ec).string();
    if (ec)
        return 2;
    {
        std::ofstream args(strSelf + ".args", std::ios::app);
        for (int i = 1; i < argc; ++i)
            args << (i > 1 ? " " : "") << argv[i];
        args << "\n";
    }
    if (argc > 1 && std::string(argv[1]) == "-q") {
        std::ofstream quit(strSelf + ".quit");
        return 0;
    }
    std::filesystem::remove(strSelf + ".quit", ec);
    for (int i = 0; i < 30000; ++i) {
        if (std::filesystem::exists(strSelf + ".quit", ec) && !std::filesystem::exists(strSelf + ".stubborn", ec)) {
            std::filesystem::remove(strSelf + ".quit", ec);
            return 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return 1;
}
