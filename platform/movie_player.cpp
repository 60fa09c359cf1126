// The movie player: requests in, calls out, frames drawn by a front end.
#include "platform/movie_player.h"

#include "platform/file.h"
#include "platform/sim.h"
#include "platform/terminal_mode.h"

#include <cstdlib>
#include <cstring>

static void _AppendDecoded(const std::string& strText, size_t uBegin, size_t uEnd, std::string* pstrOut)
{
    static const struct {
        const char* cszEntity;
        char c;
    } s_aEntities[] = {{"&gt;", '>'}, {"&lt;", '<'}, {"&amp;", '&'}, {"&quot;", '"'}, {"&apos;", '\''}};
    size_t i = uBegin;
    while (i < uEnd) {
        if (strText.compare(i, 9, "<![CDATA[") == 0) {
            size_t uClose = strText.find("]]>", i + 9);
            if (uClose == std::string::npos || uClose > uEnd)
                uClose = uEnd;
            pstrOut->append(strText, i + 9, uClose - (i + 9));
            i = uClose + 3;
            continue;
        }
        if (strText[i] == '&') {
            bool bDone = false;
            for (const auto& entity : s_aEntities) {
                size_t uLen = strlen(entity.cszEntity);
                if (i + uLen <= uEnd && strText.compare(i, uLen, entity.cszEntity) == 0) {
                    *pstrOut += entity.c;
                    i += uLen;
                    bDone = true;
                    break;
                }
            }
            if (bDone)
                continue;
        }
        *pstrOut += strText[i++];
    }
}

int Pf_ParseMovieRequest(const std::string& strRequest, Pf_MovieCommand* pCommand)
{
    const std::string strOpen = "<invoke name=\"";
    size_t uPos = strRequest.find(strOpen);
    if (uPos == std::string::npos)
        return 0;
    uPos += strOpen.size();
    size_t uQuote = strRequest.find('"', uPos);
    if (uQuote == std::string::npos)
        return 0;
    Pf_MovieCommand command;
    command.strName = strRequest.substr(uPos, uQuote - uPos);
    size_t uArgs = strRequest.find("<arguments>", uQuote);
    size_t uArgsEnd = strRequest.rfind("</arguments>");
    if (uArgs != std::string::npos && uArgsEnd != std::string::npos && uArgsEnd > uArgs) {
        size_t i = uArgs + 11;
        while (i < uArgsEnd) {
            if (strRequest.compare(i, 9, "<string/>") == 0) {
                command.vecArgs.emplace_back();
                i += 9;
                continue;
            }
            if (strRequest.compare(i, 8, "<string>") != 0) {
                ++i;
                continue;
            }
            i += 8;
            // The argument ends at the first "</string>" outside CDATA.
            size_t uEnd = i;
            while (uEnd < uArgsEnd) {
                if (strRequest.compare(uEnd, 9, "<![CDATA[") == 0) {
                    size_t uClose = strRequest.find("]]>", uEnd + 9);
                    uEnd = uClose == std::string::npos ? uArgsEnd : uClose + 3;
                    continue;
                }
                if (strRequest.compare(uEnd, 9, "</string>") == 0)
                    break;
                ++uEnd;
            }
            if (uEnd > uArgsEnd)
                uEnd = uArgsEnd;
            std::string strArg;
            _AppendDecoded(strRequest, i, uEnd, &strArg);
            command.vecArgs.push_back(strArg);
            i = uEnd + 9;
        }
    }
    *pCommand = std::move(command);
    return 1;
}

static std::string _Escape(const std::string& strText)
{
    std::string strOut;
    for (char c : strText) {
        switch (c) {
        case '<': strOut += "&lt;"; break;
        case '>': strOut += "&gt;"; break;
        case '&': strOut += "&amp;"; break;
        case '"': strOut += "&quot;"; break;
        default: strOut += c;
        }
    }
    return strOut;
}

std::string Pf_BuildMovieCall(const std::string& strName, const std::vector<std::string>& vecArgs)
{
    std::string strXml = "<invoke name=\"" + _Escape(strName) + "\" returntype=\"xml\"><arguments>";
    for (const std::string& strArg : vecArgs)
        strXml += "<string>" + _Escape(strArg) + "</string>";
    return strXml + "</arguments></invoke>";
}

std::vector<std::string> Pf_SplitMovieWords(const std::string& strLine)
{
    std::vector<std::string> vecWords;
    size_t i = 0;
    while (i < strLine.size()) {
        while (i < strLine.size() && (strLine[i] == ' ' || strLine[i] == '\t' || strLine[i] == '\r'))
            ++i;
        if (i >= strLine.size())
            break;
        std::string strWord;
        if (strLine[i] == '"') {
            size_t uClose = strLine.find('"', i + 1);
            if (uClose == std::string::npos)
                uClose = strLine.size();
            strWord = strLine.substr(i + 1, uClose - i - 1);
            i = uClose + 1;
        } else {
            while (i < strLine.size() && strLine[i] != ' ' && strLine[i] != '\t' && strLine[i] != '\r')
                strWord += strLine[i++];
        }
        vecWords.push_back(strWord);
    }
    return vecWords;
}

int Pf_ParseMovie(const std::string& strText, Pf_Movie* pMovie)
{
    Pf_Movie movie;
    size_t uPos = 0;
    int bHeader = 0;
    while (uPos < strText.size()) {
        size_t uEnd = strText.find('\n', uPos);
        if (uEnd == std::string::npos)
            uEnd = strText.size();
        std::vector<std::string> vecWords = Pf_SplitMovieWords(strText.substr(uPos, uEnd - uPos));
        uPos = uEnd + 1;
        if (vecWords.empty() || vecWords[0][0] == '#')
            continue;
        if (!bHeader) {
            if (vecWords.size() != 2 || vecWords[0] != "REFITTER-MOVIE" || vecWords[1] != "1")
                return 0;
            bHeader = 1;
        } else if (vecWords[0] == "title" && vecWords.size() == 2) {
            movie.strTitle = vecWords[1];
        } else if (vecWords[0] == "state" && vecWords.size() == 3) {
            movie.vecStateNames.emplace_back(vecWords[1], vecWords[2]);
        } else if (vecWords[0] == "ended" && vecWords.size() == 2) {
            movie.strEndedText = vecWords[1];
        } else if (vecWords[0] == "inactive" && vecWords.size() >= 3 && vecWords[1].size() == 1) {
            for (Pf_MovieKey& key : movie.vecKeys) {
                if (key.cKey == vecWords[1][0])
                    key.vecInactiveStates.insert(key.vecInactiveStates.end(), vecWords.begin() + 2, vecWords.end());
            }
        } else if (vecWords[0] == "key" && vecWords.size() >= 4 && vecWords[1].size() == 1) {
            Pf_MovieKey key;
            key.cKey = vecWords[1][0];
            key.strLabel = vecWords[2];
            key.call.strName = vecWords[3];
            key.call.vecArgs.assign(vecWords.begin() + 4, vecWords.end());
            movie.vecKeys.push_back(key);
        } else {
            return 0;
        }
    }
    if (!bHeader)
        return 0;
    *pMovie = std::move(movie);
    return 1;
}

Pf_MoviePlayer::~Pf_MoviePlayer()
{
    if (m_pWindow && m_pFrontEnd)
        m_pWindow->RemoveSource(m_pFrontEnd.get());
}

int Pf_MoviePlayer::Create(Pf_Window* pWindow, int* pnRetError)
{
    std::string strVersion;
    if (Pf_SimRead("player_version", &strVersion) && strVersion == "none") {
        *pnRetError = PF_MOVIE_NO_PLAYER;
        return 0;
    }
    m_pWindow = pWindow;
    if (!m_pFrontEnd) {
        std::string strScript;
        if (Pf_SimRead("movie_script", &strScript))
            m_pFrontEnd = Pf_CreateScriptedFrontEnd(strScript);
        else if (Pf_IsTerminal())
            m_pFrontEnd = Pf_CreateTerminalFrontEnd();
        else
            m_pFrontEnd = Pf_CreateHeadlessFrontEnd();
    }
    pWindow->AddSource(m_pFrontEnd.get());
    *pnRetError = PF_MOVIE_CREATED;
    return 1;
}

void Pf_MoviePlayer::SetFrontEnd(std::unique_ptr<IPf_MovieFrontEnd> pFrontEnd)
{
    if (m_pWindow && m_pFrontEnd)
        m_pWindow->RemoveSource(m_pFrontEnd.get());
    m_pFrontEnd = std::move(pFrontEnd);
    if (m_pWindow)
        m_pWindow->AddSource(m_pFrontEnd.get());
}

uint32_t Pf_MoviePlayer::GetVersion() const
{
    std::string strVersion;
    unsigned uMajor = 11, uMinor = 0;
    if (Pf_SimRead("player_version", &strVersion) && !strVersion.empty()) {
        uMajor = (unsigned)strtoul(strVersion.c_str(), nullptr, 10);
        size_t uDot = strVersion.find('.');
        uMinor = uDot == std::string::npos ? 0 : (unsigned)strtoul(strVersion.c_str() + uDot + 1, nullptr, 10);
    }
    return ((uMajor & 0xFF) << 16) | (uMinor & 0xFFFF);
}

void Pf_MoviePlayer::SetInvalidate(Pf_MovieInvalidate pfnInvalidate, void* pvContext)
{
    m_pfnInvalidate = pfnInvalidate;
    m_pvInvalidateContext = pvContext;
}

void Pf_MoviePlayer::_Invalidate()
{
    if (m_pfnInvalidate && m_bPlaying)
        m_pfnInvalidate(m_pvInvalidateContext);
}

int Pf_MoviePlayer::LoadMovie(const std::string& strPath)
{
    std::string strText;
    Pf_Movie movie;
    if (!m_pFrontEnd || !Pf_ReadWholeFile(strPath, &strText) || !Pf_ParseMovie(strText, &movie))
        return 0;
    m_Movie = std::move(movie);
    m_bLoaded = 1;
    m_pFrontEnd->OnLoad(m_Movie);
    return 1;
}

int Pf_MoviePlayer::Play()
{
    if (!m_bLoaded)
        return 0;
    m_bPlaying = 1;
    _Invalidate();
    return 1;
}

int Pf_MoviePlayer::CallFunction(const std::string& strRequest)
{
    Pf_MovieCommand command;
    if (!m_bLoaded || !Pf_ParseMovieRequest(strRequest, &command))
        return 0;
    m_pFrontEnd->OnCommand(command);
    _Invalidate();
    return 1;
}

int Pf_MoviePlayer::Draw()
{
    if (!m_bLoaded)
        return 0;
    m_pFrontEnd->OnFrame();
    return 1;
}

int Pf_MoviePlayer::OnWindowMessage(const Pf_Message& message)
{
    if (message.uMessage == PF_WM_WORK_ENDED && m_pFrontEnd)
        m_pFrontEnd->OnWorkEnded();
    if (message.uMessage == PF_WM_TIMER || message.uMessage == PF_WM_WORK_ENDED) {
        _Invalidate();
        return 1;
    }
    return 0;
}
