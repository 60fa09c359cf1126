// A reporter's world for tests: a client folder with its "version.cfg", the
// updater ini, a loopback server that answers every path with 200 and
// stands for both the reporting and the channel-tracking service, a
// private registry and a log in the test's folder; and the fields of the
// form posts the server received.
#pragma once
#include "config/application_path.h"
#include "platform/file.h"
#include "tests/foundation/log_capture.h"
#include "tests/support/http_server.h"
#include "tests/support/temp_dir.h"
#include "tests/telemetry/client_report_access.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

typedef std::vector<std::pair<std::string, std::string>> Rv_TestFields;

// The fields of a form post body, in order; a body that is not made of
// whole parts gives a last field named "<bad body>".
inline Rv_TestFields Rv_TestFormFields(const std::string& strBody)
{
    const std::string strHead = "----MULTI-PARTS-FORM-DATA-BOUNDARY\r\nContent-Disposition: form-data; name=\"";
    Rv_TestFields fields;
    size_t uPos = 0;
    while (uPos < strBody.size()) {
        size_t uNameEnd = strBody.find("\"\r\n\r\n", uPos + strHead.size());
        size_t uValueEnd = uNameEnd == std::string::npos ? std::string::npos : strBody.find("\r\n" + strHead, uNameEnd + 5);
        if (strBody.compare(uPos, strHead.size(), strHead) != 0 || uNameEnd == std::string::npos) {
            fields.emplace_back("<bad body>", strBody.substr(uPos));
            break;
        }
        if (uValueEnd == std::string::npos) {
            uValueEnd = strBody.size() - 2;
            if (strBody.size() < uNameEnd + 7 || strBody.compare(uValueEnd, 2, "\r\n") != 0) {
                fields.emplace_back("<bad body>", strBody.substr(uPos));
                break;
            }
        }
        fields.emplace_back(strBody.substr(uPos + strHead.size(), uNameEnd - uPos - strHead.size()),
                            strBody.substr(uNameEnd + 5, uValueEnd - uNameEnd - 5));
        uPos = uValueEnd + 2;
    }
    return fields;
}

class ReportWorld : public ::testing::Test {
protected:
    void SetUp() override
    {
        unsetenv("http_proxy");
        unsetenv("HTTP_PROXY");
        setenv("RV_SIM_ROOT", m_Dir.File("sim").c_str(), 1);
        setenv("RV_REGISTRY_DIR", m_Dir.File("registry").c_str(), 1);
        Pf_CreateDirChain(m_Dir.File("sim"));
        Pf_CreateDirChain(m_Dir.File("registry"));
        Pf_CreateDirChain(Client("update"));
        Rv_SetApplicationNameForTest(Client("Refitter.exe"));
        Rv_TestWriteFile(Client("version.cfg"),
                         "[Version]\nTalon5.version=1.0-2,3\nTalon5.VersionLineName=zhcn\nTalon5.versionName=Demo\n");
        m_Server.Start();
        Rv_TestHttpFault ok;
        ok.nStatus = 200;
        ok.strBody = "ok";
        m_Server.SetFault("/*", ok);
        Rv_TestWriteFile(m_Dir.File("sim/report_service"), m_Server.HostPort());
        Rv_TestWriteFile(m_Dir.File("sim/channel_service"), m_Server.HostPort());
        // The machine identifier's file store.
        Rv_TestWriteFile(m_Dir.File("sim/common_app_data"), m_Dir.File("common"));
        Pf_CreateDirChain(m_Dir.File("common/Tervana/VSQ"));
    }
    void TearDown() override
    {
        m_Server.Stop();
        Rv_SetApplicationNameForTest("");
        unsetenv("RV_SIM_ROOT");
        unsetenv("RV_REGISTRY_DIR");
    }
    // A path in the client folder; Client("") is the folder with its final "/".
    std::string Client(const std::string& strName) const { return m_Dir.File("client/" + strName); }
    // A new reporting service answering 200 to every path, in place of the last one.
    std::unique_ptr<Rv_TestHttpServer> NewService()
    {
        auto pServer = std::make_unique<Rv_TestHttpServer>(m_Dir.File("www"));
        pServer->Start();
        Rv_TestHttpFault ok;
        ok.nStatus = 200;
        pServer->SetFault("/*", ok);
        Rv_TestWriteFile(m_Dir.File("sim/report_service"), pServer->HostPort());
        return pServer;
    }
    // Answers to requests of strPath wait until m_Server.ReleaseHeld().
    void HoldPath(const std::string& strPath, int nTimes = -1)
    {
        Rv_TestHttpFault hold;
        hold.nStatus = 200;
        hold.bHold = true;
        hold.nTimes = nTimes;
        m_Server.SetFault(strPath, hold);
    }
    // The fields of every form post to one path, in the order received.
    std::vector<Rv_TestFields> Posts(const std::string& strPath) const
    {
        std::vector<Rv_TestFields> vecPosts;
        for (const Rv_TestHttpRequest& request : m_Server.RequestsFor(strPath))
            vecPosts.push_back(Rv_TestFormFields(request.strBody));
        return vecPosts;
    }

    Rv_TestTempDir m_Dir;
    Rv_TestLogCapture m_Log{m_Dir};
    Rv_TestHttpServer m_Server{m_Dir.File("www")};
};

// A reporter in the state its set-up leaves, with fixed identifiers; its
// end waits for every report it started.
class PreparedReport : public ReportWorld {
protected:
    static constexpr const char* s_cszUUID = "0123456789abcdef0123456789abcdef";
    static constexpr const char* s_cszOwnUUID = "fedcba9876543210fedcba9876543210";
    void SetUp() override
    {
        ReportWorld::SetUp();
        Prepare(m_szClientType);
    }
    void TearDown() override
    {
        m_Report.UnInit();
        ReportWorld::TearDown();
    }
    void Prepare(const char* cszClientType)
    {
        NyClientReportTestAccess::Prepare(m_Report, Client(""), s_cszUUID, cszClientType, s_cszOwnUUID);
    }

    const char* m_szClientType = "QV7:zhcn";
    NyClientReport m_Report;
};
