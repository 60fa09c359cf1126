// Message boxes answered by a script, a terminal or fixed defaults.
#include "platform/message_box.h"

#include "platform/sim.h"
#include "platform/terminal_mode.h"
#include "platform/text.h"
#include "platform/thread.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

std::atomic<Pf_MessageBoxLogHook> s_pfnLogHook{nullptr};
Pf_Mutex s_BoxLock;

unsigned _Buttons(unsigned uType)
{
    return uType & 0x0F;
}

int _DefaultAnswer(unsigned uType)
{
    switch (_Buttons(uType)) {
    case PF_MB_YESNO:
        return PF_IDNO;
    case PF_MB_RETRYCANCEL:
        return PF_IDCANCEL;
    default:
        return PF_IDOK;
    }
}

const char* _AnswerName(int nAnswer)
{
    switch (nAnswer) {
    case PF_IDOK:
        return "OK";
    case PF_IDCANCEL:
        return "Cancel";
    case PF_IDRETRY:
        return "Retry";
    case PF_IDYES:
        return "Yes";
    case PF_IDNO:
        return "No";
    default:
        return "?";
    }
}

// The answer a word gives for the box's buttons, or 0 when it does not fit.
int _ParseAnswer(const std::string& strWord, unsigned uType)
{
    static const struct {
        const char* cszWord;
        int nAnswer;
        unsigned uButtons;
    } s_aAnswers[] = {
        {"ok", PF_IDOK, PF_MB_OK},         {"o", PF_IDOK, PF_MB_OK},
        {"yes", PF_IDYES, PF_MB_YESNO},    {"y", PF_IDYES, PF_MB_YESNO},
        {"no", PF_IDNO, PF_MB_YESNO},      {"n", PF_IDNO, PF_MB_YESNO},
        {"retry", PF_IDRETRY, PF_MB_RETRYCANCEL}, {"r", PF_IDRETRY, PF_MB_RETRYCANCEL},
        {"cancel", PF_IDCANCEL, PF_MB_RETRYCANCEL}, {"c", PF_IDCANCEL, PF_MB_RETRYCANCEL},
    };
    for (const auto& answer : s_aAnswers) {
        if (strcasecmp(strWord.c_str(), answer.cszWord) == 0 && answer.uButtons == _Buttons(uType))
            return answer.nAnswer;
    }
    return 0;
}

// Takes the first answer of the script; 0 when there is none left.
int _TakeScriptedAnswer(std::string* pstrRetWord)
{
    std::string strPath = Pf_SimPath("msgbox_answers");
    if (strPath.empty())
        return 0;
    int nFd = open(strPath.c_str(), O_RDWR | O_CLOEXEC);
    if (nFd < 0)
        return 0;
    while (flock(nFd, LOCK_EX) != 0 && errno == EINTR) {
    }
    std::string strText;
    char szBuf[4096];
    ssize_t nRead;
    while ((nRead = read(nFd, szBuf, sizeof(szBuf))) > 0 || (nRead < 0 && errno == EINTR)) {
        if (nRead > 0)
            strText.append(szBuf, (size_t)nRead);
    }
    int bTaken = 0;
    size_t uPos = 0;
    while (uPos < strText.size()) {
        size_t uEnd = strText.find('\n', uPos);
        if (uEnd == std::string::npos)
            uEnd = strText.size();
        std::string strLine = Pf_Trim(strText.substr(uPos, uEnd - uPos));
        uPos = uEnd + 1;
        if (!strLine.empty()) {
            *pstrRetWord = strLine;
            bTaken = 1;
            break;
        }
    }
    if (bTaken) {
        std::string strRest = uPos < strText.size() ? strText.substr(uPos) : std::string();
        if (ftruncate(nFd, 0) == 0 && lseek(nFd, 0, SEEK_SET) == 0) {
            ssize_t nDone = write(nFd, strRest.data(), strRest.size());
            (void)nDone;
        }
    }
    close(nFd);
    return bTaken;
}

// Asks at the terminal until an answer fits the buttons; the default at the
// end of the input.
int _AskTerminal(const std::string& strText, const std::string& strCaption, unsigned uType)
{
    const char* cszChoices = "[O]K";
    if (_Buttons(uType) == PF_MB_YESNO)
        cszChoices = "[Y]es / [N]o";
    else if (_Buttons(uType) == PF_MB_RETRYCANCEL)
        cszChoices = "[R]etry / [C]ancel";
    Pf_TerminalPrompt prompt;
    for (;;) {
        printf("\n== %s ==\n%s\n%s ? ", strCaption.c_str(), strText.c_str(), cszChoices);
        fflush(stdout);
        std::string strLine;
        if (!prompt.ReadLine(&strLine))
            return _DefaultAnswer(uType);
        std::string strWord = Pf_Trim(strLine);
        if (strWord.empty() && _Buttons(uType) == PF_MB_OK)
            return PF_IDOK;
        int nAnswer = _ParseAnswer(strWord, uType);
        if (nAnswer)
            return nAnswer;
    }
}

} // namespace

std::string Pf_MessageBoxLine(const std::string& strText, const std::string& strCaption, unsigned uType, int nAnswer)
{
    std::string strFlat;
    for (char c : strText) {
        if (c == '\n')
            strFlat += "\\n";
        else if (c != '\r')
            strFlat += c;
    }
    char szHead[64];
    snprintf(szHead, sizeof(szHead), "MessageBox type=0x%02X answer=%s", uType, _AnswerName(nAnswer));
    return std::string(szHead) + " caption=" + strCaption + " text=" + strFlat;
}

int Pf_MessageBox(const std::string& strText, const std::string& strCaption, unsigned uType)
{
    Pf_MutexGuard guard(s_BoxLock);
    int nAnswer = 0;
    std::string strWord;
    // A scripted answer wins; the person at a terminal answers the others.
    if (_TakeScriptedAnswer(&strWord))
        nAnswer = _ParseAnswer(strWord, uType);
    else if (Pf_IsTerminal())
        nAnswer = _AskTerminal(strText, strCaption, uType);
    if (!nAnswer)
        nAnswer = _DefaultAnswer(uType);

    std::string strLine = Pf_MessageBoxLine(strText, strCaption, uType, nAnswer);
    Pf_SimAppendLine("msgbox_transcript", strLine);
    Pf_MessageBoxLogHook pfnHook = s_pfnLogHook.load();
    if (pfnHook)
        pfnHook(strLine.c_str());
    return nAnswer;
}

void Pf_SetMessageBoxLogHook(Pf_MessageBoxLogHook pfnHook)
{
    s_pfnLogHook.store(pfnHook);
}
