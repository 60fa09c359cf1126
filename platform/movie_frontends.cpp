// The movie player's front ends: scripted (tests), terminal (people) and
// headless (logs, and closes the window once the host's work has ended).
#include "platform/clock.h"
#include "platform/log_sink.h"
#include "platform/movie_player.h"
#include "platform/sim.h"
#include "platform/terminal_mode.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <poll.h>
#include <unistd.h>

namespace {

// Scripted: rules "on <command> [<first argument>] call <name> [<argument>...]
// [after <milliseconds>] [every <milliseconds>]", one per line ("every"
// repeats the call until the window closes); "on _load_ ..." fires when the
// movie is loaded. Every command received is appended to the transcript
// "movie_transcript" as its name and arguments separated by tabs.
class ScriptedFrontEnd : public IPf_MovieFrontEnd {
public:
    explicit ScriptedFrontEnd(const std::string& strScript)
    {
        size_t uPos = 0;
        while (uPos <= strScript.size()) {
            size_t uEnd = strScript.find('\n', uPos);
            if (uEnd == std::string::npos)
                uEnd = strScript.size();
            _AddRule(Pf_SplitMovieWords(strScript.substr(uPos, uEnd - uPos)));
            uPos = uEnd + 1;
        }
    }

    void OnLoad(const Pf_Movie&) override { _Fire(Pf_MovieCommand{"_load_", {}}); }

    void OnCommand(const Pf_MovieCommand& command) override
    {
        std::string strLine = command.strName;
        for (const std::string& strArg : command.vecArgs)
            strLine += "\t" + strArg;
        Pf_SimAppendLine("movie_transcript", strLine);
        _Fire(command);
    }

    void OnFrame() override {}

    void PollMessages(Pf_Window* pWindow) override
    {
        uint64_t ullNow = Pf_GetMonotonicMs();
        for (size_t i = 0; i < m_vecPending.size();) {
            if (m_vecPending[i].ullDue <= ullNow) {
                pWindow->Post(PF_WM_MOVIE_CALL, 0, 0, m_vecPending[i].strXml);
                if (m_vecPending[i].uPeriodMs) {
                    m_vecPending[i].ullDue = ullNow + m_vecPending[i].uPeriodMs;
                    ++i;
                    continue;
                }
                m_vecPending.erase(m_vecPending.begin() + (long)i);
            } else {
                ++i;
            }
        }
    }

private:
    struct Rule {
        std::string strCommand;
        int bMatchArg;
        std::string strArg;
        std::string strCall;
        std::vector<std::string> vecCallArgs;
        uint32_t uDelayMs;
        uint32_t uPeriodMs;
    };
    struct Pending {
        uint64_t ullDue;
        std::string strXml;
        uint32_t uPeriodMs;
    };

    void _AddRule(const std::vector<std::string>& vecWords)
    {
        if (vecWords.size() < 4 || vecWords[0] != "on")
            return;
        Rule rule{vecWords[1], 0, std::string(), std::string(), {}, 0, 0};
        size_t i = 2;
        if (vecWords[i] != "call") {
            rule.bMatchArg = 1;
            rule.strArg = vecWords[i++];
        }
        if (i + 1 >= vecWords.size() || vecWords[i] != "call")
            return;
        rule.strCall = vecWords[i + 1];
        for (i += 2; i < vecWords.size(); ++i) {
            if ((vecWords[i] == "after" || vecWords[i] == "every") && i + 1 < vecWords.size()) {
                uint32_t uMs = (uint32_t)strtoul(vecWords[i + 1].c_str(), nullptr, 10);
                if (vecWords[i] == "after")
                    rule.uDelayMs = uMs;
                else
                    rule.uPeriodMs = uMs ? uMs : 1;
                ++i;
                continue;
            }
            rule.vecCallArgs.push_back(vecWords[i]);
        }
        m_vecRules.push_back(rule);
    }

    void _Fire(const Pf_MovieCommand& command)
    {
        for (const Rule& rule : m_vecRules) {
            if (rule.strCommand != command.strName)
                continue;
            if (rule.bMatchArg && (command.vecArgs.empty() || command.vecArgs[0] != rule.strArg))
                continue;
            m_vecPending.push_back(Pending{Pf_GetMonotonicMs() + rule.uDelayMs, Pf_BuildMovieCall(rule.strCall, rule.vecCallArgs),
                                           rule.uPeriodMs});
        }
    }

    std::vector<Rule> m_vecRules;
    std::vector<Pending> m_vecPending;
};

// A text without its blanks: texts that differ only there (a moving arrow)
// say the same.
static std::string _WithoutBlanks(const std::string& strText)
{
    std::string strOut;
    for (char c : strText) {
        if (c != ' ' && c != '\t')
            strOut += c;
    }
    return strOut;
}

// Headless: logs what the movie is told, each command once while it repeats
// (texts that differ only in blanks, as a moving arrow, count as the same),
// and acts as a player who closes the window once the host's work has ended:
// a close that the host does not take is tried again every second.
class HeadlessFrontEnd : public IPf_MovieFrontEnd {
public:
    void OnLoad(const Pf_Movie& movie) override { Pf_Log(6, "Movie loaded: %s", movie.strTitle.c_str()); }
    void OnCommand(const Pf_MovieCommand& command) override
    {
        std::string strArgs;
        for (const std::string& strArg : command.vecArgs)
            strArgs += (strArgs.empty() ? "" : ", ") + strArg;
        const std::string strKey = _WithoutBlanks(strArgs);
        auto it = m_mapLastLogged.find(command.strName);
        if (it != m_mapLastLogged.end() && it->second == strKey)
            return;
        if (it == m_mapLastLogged.end() && m_mapLastLogged.size() >= 64)
            m_mapLastLogged.clear();   // ever new command names: forget rather than grow
        m_mapLastLogged[command.strName] = strKey;
        Pf_Log(6, "Movie command: %s(%s)", command.strName.c_str(), strArgs.c_str());
    }
    void OnFrame() override {}
    void OnWorkEnded() override
    {
        if (m_bEnded)
            return;
        m_bEnded = 1;
        m_ullNextClose = Pf_GetMonotonicMs();
        Pf_Log(6, "Movie: the work has ended; the window is closed");
    }
    void PollMessages(Pf_Window* pWindow) override
    {
        const uint64_t ullNow = Pf_GetMonotonicMs();
        if (!m_bEnded || ullNow < m_ullNextClose)
            return;
        m_ullNextClose = ullNow + 1000;
        pWindow->Post(PF_WM_MOVIE_CALL, 0, 0, Pf_BuildMovieCall("CloseWindow", {}));
    }

private:
    std::map<std::string, std::string> m_mapLastLogged;
    int m_bEnded = 0;
    uint64_t m_ullNextClose = 0;
};

// Terminal: a block of lines redrawn in place; keys of the movie make its
// calls. A message box that asks has the terminal to itself: no keys are
// read and nothing is drawn meanwhile, and the block starts again below it.
class TerminalFrontEnd : public IPf_MovieFrontEnd {
public:
    ~TerminalFrontEnd() override
    {
        Pf_TerminalLeaveKeyMode();
        if (m_nLinesDrawn > 0)
            fputs("\n", stdout);
        fflush(stdout);
    }

    void OnLoad(const Pf_Movie& movie) override
    {
        m_Movie = movie;
        Pf_TerminalEnterKeyMode();
        m_uPromptsSeen = Pf_TerminalPromptCount();
        m_bChanged = 1;
    }

    void OnCommand(const Pf_MovieCommand& command) override
    {
        const std::string strFirst = command.vecArgs.empty() ? std::string() : command.vecArgs[0];
        if (command.strName == "SetUpdateState") {
            // Each state brings its own status text; an error brings none.
            if (strFirst != m_strState)
                m_strStatus.clear();
            m_strState = strFirst;
        } else if (command.strName == "SetTxtM") {
            m_strStatus = strFirst;
        } else if (command.strName == "SetTxtVersion") {
            // Once the work has ended a moving arrow stays where it is; a
            // new text (the installed version's name) is still shown.
            if (m_bEnded && _WithoutBlanks(strFirst) == _WithoutBlanks(m_strVersion))
                return;
            m_strVersion = strFirst;
        } else if (command.strName == "ProgressPercent") {
            m_dPercent = atof(strFirst.c_str());
        } else if (command.strName == "SetStatusWarnning") {
            m_strWarnings = strFirst;
        } else if (command.strName == "ActivityState" && command.vecArgs.size() >= 3) {
            m_strActivity = _StripTags(command.vecArgs[2]);
        } else {
            return;
        }
        m_bChanged = 1;
    }

    void OnWorkEnded() override
    {
        m_bEnded = 1;
        m_bChanged = 1;
    }

    void OnFrame() override
    {
        if (Pf_TerminalPromptCount() != m_uPromptsSeen)
            m_bChanged = 1;
        if (!m_bChanged || !Pf_TerminalTryTake())
            return;
        m_bChanged = 0;
        // After a prompt the cursor stands below it: a new block starts
        // there. (No prompt ends while the terminal is taken.)
        const uint32_t uPrompts = Pf_TerminalPromptCount();
        if (uPrompts != m_uPromptsSeen) {
            m_uPromptsSeen = uPrompts;
            m_nLinesDrawn = 0;
        }
        std::vector<std::string> vecLines = _Lines();
        std::string strOut;
        if (m_nLinesDrawn > 1)
            strOut += "\r\033[" + std::to_string(m_nLinesDrawn - 1) + "A";
        for (size_t i = 0; i < vecLines.size(); ++i)
            strOut += "\r\033[K" + vecLines[i] + (i + 1 < vecLines.size() ? "\n" : "");
        fputs(strOut.c_str(), stdout);
        fflush(stdout);
        m_nLinesDrawn = (int)vecLines.size();
        Pf_TerminalGive();
    }

    void PollMessages(Pf_Window* pWindow) override
    {
        if (Pf_TerminalTryTake()) {
            struct pollfd fd = {STDIN_FILENO, POLLIN, 0};
            while (poll(&fd, 1, 0) > 0 && (fd.revents & POLLIN)) {
                char c;
                if (read(STDIN_FILENO, &c, 1) != 1)
                    break;
                for (const Pf_MovieKey& key : m_Movie.vecKeys) {
                    if (key.cKey == c)
                        pWindow->Post(PF_WM_MOVIE_CALL, 0, 0, Pf_BuildMovieCall(key.call.strName, key.call.vecArgs));
                }
            }
            Pf_TerminalGive();
        }
        uint64_t ullNow = Pf_GetMonotonicMs();
        if (ullNow - m_ullLastFrame >= 100) {
            m_ullLastFrame = ullNow;
            pWindow->Post(PF_WM_TIMER, 0, 0);
        }
    }

private:
    std::vector<std::string> _Lines() const
    {
        std::string strState = m_strState;
        for (const auto& state : m_Movie.vecStateNames) {
            if (state.first == m_strState)
                strState = state.second;
        }
        std::string strStatus = m_strStatus;
        if (m_bEnded) {
            // What the states "0", "3" and "4" said is over; "1" keeps its text.
            if (m_strState != "1")
                strStatus.clear();
            strState = m_Movie.strEndedText;
        }
        int nFilled = (int)(m_dPercent / 100.0 * 40.0 + 0.5);
        nFilled = nFilled < 0 ? 0 : (nFilled > 40 ? 40 : nFilled);
        char szBar[128];
        snprintf(szBar, sizeof(szBar), "[%s%s] %7.3f%%", std::string((size_t)nFilled, '#').c_str(),
                 std::string((size_t)(40 - nFilled), '-').c_str(), m_dPercent);
        std::string strKeys;
        for (const Pf_MovieKey& key : m_Movie.vecKeys) {
            if (_DoesNothing(key))
                continue;
            strKeys += std::string(strKeys.empty() ? "" : "   ") + key.cKey + " " + key.strLabel;
        }
        return {
            m_Movie.strTitle + "  [" + strState + "]  " + strStatus,
            m_strVersion,
            szBar,
            m_strWarnings.empty() ? std::string() : "! " + m_strWarnings,
            m_strActivity,
            strKeys,
        };
    }

    // A key whose call changes nothing now: a terminal is not minimised, and
    // the movie names the states in which a key waits for the work.
    bool _DoesNothing(const Pf_MovieKey& key) const
    {
        if (key.call.strName == "MinWindow")
            return true;
        if (m_bEnded)
            return false;
        for (const std::string& strState : key.vecInactiveStates) {
            if (strState == m_strState)
                return true;
        }
        return false;
    }

    static std::string _StripTags(const std::string& strHtml)
    {
        std::string strText;
        int bInTag = 0;
        for (char c : strHtml) {
            if (c == '<')
                bInTag = 1;
            else if (c == '>')
                bInTag = 0;
            else if (!bInTag && c != '\r' && c != '\n')
                strText += c;
        }
        return strText.size() > 200 ? strText.substr(0, 200) : strText;
    }

    Pf_Movie m_Movie;
    int m_bChanged = 0;
    int m_bEnded = 0;
    int m_nLinesDrawn = 0;
    uint32_t m_uPromptsSeen = 0;
    uint64_t m_ullLastFrame = 0;
    std::string m_strState, m_strStatus, m_strVersion, m_strWarnings, m_strActivity;
    double m_dPercent = 0;
};

} // namespace

std::unique_ptr<IPf_MovieFrontEnd> Pf_CreateScriptedFrontEnd(const std::string& strScript)
{
    return std::make_unique<ScriptedFrontEnd>(strScript);
}

std::unique_ptr<IPf_MovieFrontEnd> Pf_CreateTerminalFrontEnd()
{
    return std::make_unique<TerminalFrontEnd>();
}

std::unique_ptr<IPf_MovieFrontEnd> Pf_CreateHeadlessFrontEnd()
{
    return std::make_unique<HeadlessFrontEnd>();
}
