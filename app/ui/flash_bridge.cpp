// The call bridge: requests to the movie queued under sequence numbers and
// delivered on the main thread; calls of the movie parsed and dispatched.
#include "app/ui/flash_window.h"

#include "foundation/log.h"

#include <strings.h>
#include <tinyxml.h>

static uint32_t s_uSequence = 0;    // guarded by the window's lock

uint32_t NyFlash_NextSequence(uint32_t uCounter)
{
    uint32_t uNext = uCounter + 1;
    return uNext == 0 ? 1 : uNext;
}

std::string NyFlash_BuildRequest(const std::string& strName, const std::vector<std::string>& vecArgs)
{
    std::string strRequest = "<invoke name=\"" + strName + "\" returntype=\"xml\"><arguments>";
    for (const std::string& strArg : vecArgs)
        strRequest += "<string>" + strArg + "</string>";
    strRequest += "</arguments></invoke>";
    return strRequest;
}

int NyFlash_ParseCall(const std::string& strXml, std::string* pstrRetName, std::vector<std::string>* pvecRetArgs)
{
    TiXmlDocument document;
    document.Parse(strXml.c_str(), nullptr, TIXML_DEFAULT_ENCODING);
    if (document.Error())
        return 0;
    const TiXmlElement* pRoot = document.FirstChildElement();
    if (!pRoot || !pRoot->FirstAttribute())
        return 0;
    *pstrRetName = pRoot->FirstAttribute()->Value();
    pvecRetArgs->clear();
    const TiXmlElement* pArguments = pRoot->FirstChildElement();
    if (!pArguments)
        return 1;
    for (const TiXmlElement* pArg = pArguments->FirstChildElement(); pArg; pArg = pArg->NextSiblingElement()) {
        const TiXmlNode* pText = pArg->FirstChild();
        pvecRetArgs->push_back(pText ? pText->Value() : std::string());
    }
    return 1;
}

int NyFlashWindow::SendCommandToFlash(const std::string& strName, const std::vector<std::string>& vecArgs)
{
    Pf_MutexGuard guard(m_Lock);
    s_uSequence = NyFlash_NextSequence(s_uSequence);
    int nSequence = (int)s_uSequence;
    m_CallMap[nSequence] = NyFlash_BuildRequest(strName, vecArgs);
    m_Window.Post(WM_FLASH_CALL, (uintptr_t)(uint32_t)nSequence, 0);
    return 1;
}

void NyFlashWindow::_DeliverCall(uintptr_t uSequence)
{
    Pf_MutexGuard guard(m_Lock);
    auto it = m_CallMap.find((int)(uint32_t)uSequence);
    if (it == m_CallMap.end())
        return;
    std::string strRequest = it->second;
    m_CallMap.erase(it);
    if (m_bPlayerCreated)
        m_Player.CallFunction(strRequest);
}

int NyFlashWindow::_ProcessFlashCall(const std::string& strXml)
{
    int nResult = 0;
    int nRetCode = 0;
    std::string strName;
    std::vector<std::string> vecArgs;

    nRetCode = NyFlash_ParseCall(strXml, &strName, &vecArgs);
    RVLOG_PROCESS_ERROR(nRetCode);
    nResult = _Dispatch(strName, vecArgs);
Exit0:
    return nResult;
}

int NyFlashWindow::_Dispatch(const std::string& strName, const std::vector<std::string>& vecArgs)
{
    if (m_piCallBack && m_piCallBack->FlashCallback(strName, vecArgs))
        return 1;
    if (strcasecmp(strName.c_str(), "CanMove") == 0)
        m_bCanMove = 1;
    else if (strcasecmp(strName.c_str(), "MinWindow") == 0)
        m_Window.Minimise();
    else if (strcasecmp(strName.c_str(), "CloseWindow") == 0)
        m_Window.Post(WM_FLASH_QUIT, 0, 0);
    else if (strcasecmp(strName.c_str(), "PrintFlashLog") == 0)
        RvLog_Write(RVLOG_INFO, "Flash Log: %s ", vecArgs.empty() ? "" : vecArgs[0].c_str());
    else
        RvLog_Write(RVLOG_INFO, "Do not Process. FlashCall = %s ", strName.c_str());
    return 1;
}
