// The movie player that stands in for the embedded player of the user
// interface. It loads the movie file (read whole at once), takes the host's
// requests as XML text, and delivers the movie's calls as XML on the main
// thread (a PF_WM_MOVIE_CALL message in the host window's queue).
//
// What the movie shows and which keys it offers come from the movie file;
// what a person sees depends on the front end: a terminal one for people, a
// scripted one for tests (under RV_SIM_ROOT, the fact "movie_script"), and a
// headless one that logs and, once the host's work has ended, closes the
// window as a player who only waits would.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/window.h"

// A decoded request of the host: the function's name and its string arguments.
struct Pf_MovieCommand {
    std::string strName;
    std::vector<std::string> vecArgs;
};

// Reads a request text ("<invoke name=..."><arguments><string>..</string>..").
// Lenient: a bare "&" is literal, the five entities and CDATA are decoded,
// unknown markup inside an argument is taken as text.
int Pf_ParseMovieRequest(const std::string& strRequest, Pf_MovieCommand* pCommand);
// Builds the XML text of a call of the movie to its host, escaped.
std::string Pf_BuildMovieCall(const std::string& strName, const std::vector<std::string>& vecArgs);

// Splits a line into blank-separated words; double quotes group a word.
std::vector<std::string> Pf_SplitMovieWords(const std::string& strLine);

// One key of the movie: the key, the call it makes, and the states in which
// it does nothing while the host's work runs.
struct Pf_MovieKey {
    char cKey;
    std::string strLabel;
    Pf_MovieCommand call;
    std::vector<std::string> vecInactiveStates;
};

// The movie file's content: lines "title <text>", "state <state> <name>",
// "ended <text>" (shown once the host's work has ended), "key <key> <label>
// <call> [<argument>...]" and "inactive <key> <state>...".
struct Pf_Movie {
    std::string strTitle;
    std::vector<std::pair<std::string, std::string>> vecStateNames;   // state -> name
    std::string strEndedText;
    std::vector<Pf_MovieKey> vecKeys;
};
// Parses a movie file's text. Returns 0 when it is no movie.
int Pf_ParseMovie(const std::string& strText, Pf_Movie* pMovie);

// A front end: shows what the movie shows and makes the movie's calls.
class IPf_MovieFrontEnd : public IPf_MessageSource {
public:
    virtual void OnLoad(const Pf_Movie& movie) = 0;
    virtual void OnCommand(const Pf_MovieCommand& command) = 0;
    virtual void OnFrame() = 0;
    // The host's work has ended (PF_WM_WORK_ENDED); only the player's own
    // calls change anything from now on.
    virtual void OnWorkEnded() {}
};

enum {
    PF_MOVIE_CREATED = 0,
    PF_MOVIE_NO_PLAYER = 1,
    PF_MOVIE_OLD_PLAYER = 2,
};

typedef void (*Pf_MovieInvalidate)(void* pvContext);

class Pf_MoviePlayer {
public:
    Pf_MoviePlayer() = default;
    ~Pf_MoviePlayer();
    Pf_MoviePlayer(const Pf_MoviePlayer&) = delete;
    Pf_MoviePlayer& operator=(const Pf_MoviePlayer&) = delete;

    // Creates the player for a window. Fails with PF_MOVIE_NO_PLAYER when the
    // machine has no player (the RV_SIM_ROOT fact "player_version" is "none").
    int Create(Pf_Window* pWindow, int* pnRetError);
    // The player's version: major version in bits 16 to 23 (the fact
    // "player_version" as "major.minor", 11.0 by default).
    uint32_t GetVersion() const;
    // The host draws when the player asks (after a change, and on a timer).
    void SetInvalidate(Pf_MovieInvalidate pfnInvalidate, void* pvContext);
    int LoadMovie(const std::string& strPath);
    int Play();
    // Main thread: the host's request.
    int CallFunction(const std::string& strRequest);
    // Main thread: one frame.
    int Draw();
    // Input forwarded by the host, and PF_WM_WORK_ENDED; 1 when the player used it.
    int OnWindowMessage(const Pf_Message& message);
    // Tests: use this front end instead of the one chosen for the machine.
    void SetFrontEnd(std::unique_ptr<IPf_MovieFrontEnd> pFrontEnd);

private:
    void _Invalidate();

    Pf_Window* m_pWindow = nullptr;
    std::unique_ptr<IPf_MovieFrontEnd> m_pFrontEnd;
    Pf_MovieInvalidate m_pfnInvalidate = nullptr;
    void* m_pvInvalidateContext = nullptr;
    Pf_Movie m_Movie;
    int m_bLoaded = 0;
    int m_bPlaying = 0;
};

// The front ends; chosen by Pf_MoviePlayer::Create for the machine.
std::unique_ptr<IPf_MovieFrontEnd> Pf_CreateScriptedFrontEnd(const std::string& strScript);
std::unique_ptr<IPf_MovieFrontEnd> Pf_CreateTerminalFrontEnd();
std::unique_ptr<IPf_MovieFrontEnd> Pf_CreateHeadlessFrontEnd();
