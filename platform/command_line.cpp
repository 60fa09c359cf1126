// Splitting of Windows-style command lines.
#include "platform/command_line.h"

static bool _IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

void Pf_ParseCommandLine(const std::string& strCommandLine, std::vector<std::string>* pvecRetArgs)
{
    pvecRetArgs->clear();
    const size_t uLen = strCommandLine.size();
    size_t i = 0;
    while (i < uLen && _IsBlank(strCommandLine[i]))
        ++i;
    if (i >= uLen)
        return;

    // The program name.
    std::string strArg;
    if (strCommandLine[i] == '"') {
        ++i;
        while (i < uLen && strCommandLine[i] != '"')
            strArg += strCommandLine[i++];
        if (i < uLen)
            ++i;
    } else {
        while (i < uLen && !_IsBlank(strCommandLine[i]))
            strArg += strCommandLine[i++];
    }
    pvecRetArgs->push_back(strArg);

    for (;;) {
        while (i < uLen && _IsBlank(strCommandLine[i]))
            ++i;
        if (i >= uLen)
            return;
        strArg.clear();
        bool bQuoted = false;
        while (i < uLen) {
            char c = strCommandLine[i];
            if (c == '\\') {
                size_t uSlashes = 0;
                while (i < uLen && strCommandLine[i] == '\\') {
                    ++uSlashes;
                    ++i;
                }
                if (i < uLen && strCommandLine[i] == '"') {
                    strArg.append(uSlashes / 2, '\\');
                    if (uSlashes % 2) {
                        strArg += '"';
                        ++i;
                    }
                    // An even count leaves the quote to the next round.
                } else {
                    strArg.append(uSlashes, '\\');
                }
                continue;
            }
            if (c == '"') {
                if (bQuoted && i + 1 < uLen && strCommandLine[i + 1] == '"') {
                    strArg += '"';
                    i += 2;
                    continue;
                }
                bQuoted = !bQuoted;
                ++i;
                continue;
            }
            if (!bQuoted && _IsBlank(c))
                break;
            strArg += c;
            ++i;
        }
        pvecRetArgs->push_back(strArg);
    }
}

