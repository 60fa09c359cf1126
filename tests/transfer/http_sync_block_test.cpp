// Ranged block reader: runs of adjacent blocks merged into one Range request,
// separate runs, answers that must not be taken for the requested bytes (200
// for a run after the file's start, lengths that differ, short bodies), range
// ends beyond 32 bits, argument checks and the failure log lines.
#include "tests/foundation/log_capture.h"
#include "tests/support/http_server.h"
#include "tests/support/temp_dir.h"
#include "tests/support/web_client_env.h"
#include "transfer/http_sync_block.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

const size_t s_uFileSize = 1000;

struct Block {
    uint32_t uOffset;
    uint32_t uSize;
};

class HttpSyncBlock : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (size_t i = 0; i < s_uFileSize; ++i)
            m_strData.push_back((char)(i * 7 + i / 251));
        Rv_TestWriteFile(m_Dir.File("www/index.bin"), m_strData);
        m_Server.Start();
    }

    // Reads the blocks (added in the given order) from strUrl into buffers
    // that start filled with '?'.
    static int Read(const std::string& strUrl, const std::vector<Block>& vecBlocks,
                    std::vector<std::string>* pvecRetBuffers)
    {
        Rv_HttpSyncBlock reader;
        pvecRetBuffers->clear();
        for (const Block& block : vecBlocks)
            pvecRetBuffers->push_back(std::string(block.uSize, '?'));
        if (!reader.Init(strUrl.c_str()))
            return -1;
        for (size_t i = 0; i < vecBlocks.size(); ++i)
            if (!reader.AddBlock(vecBlocks[i].uOffset, vecBlocks[i].uSize, (*pvecRetBuffers)[i].data()))
                return -1;
        return reader.Download();
    }

    static std::vector<std::string> Ranges(const Rv_TestHttpServer& server)
    {
        std::vector<std::string> vecRanges;
        for (const Rv_TestHttpRequest& request : server.RequestsFor("/index.bin"))
            vecRanges.push_back(request.Header("Range"));
        return vecRanges;
    }

    std::string Expected(const Block& block) const { return m_strData.substr(block.uOffset, block.uSize); }

    Rv_TestTempDir m_Dir;
    Rv_TestWebClientEnv m_Env{m_Dir};
    Rv_TestHttpServer m_Server{m_Dir.File("www")};
    std::string m_strData;
};

}  // namespace

TEST_F(HttpSyncBlock, AdjacentBlocksShareOneRequestOthersGetTheirOwn)
{
    struct Case {
        const char* cszName;
        std::vector<Block> vecBlocks;
        std::vector<std::string> vecRanges;
    } aCases[] = {
        {"three adjacent, added out of order", {{100, 50}, {0, 100}, {150, 10}}, {"bytes=0-159"}},
        {"gap between", {{0, 10}, {20, 10}}, {"bytes=0-9", "bytes=20-29"}},
        {"same offset twice", {{40, 10}, {40, 10}}, {"bytes=40-49", "bytes=40-49"}},
        {"same offset, then adjacent to the first", {{0, 10}, {0, 10}, {10, 5}}, {"bytes=0-9", "bytes=0-14"}},
        {"last byte of the file", {{999, 1}}, {"bytes=999-999"}},
        {"whole file", {{0, 1000}}, {"bytes=0-999"}},
    };
    for (const Case& c : aCases) {
        Rv_TestHttpServer server(m_Dir.File("www"));
        server.Start();
        std::vector<std::string> vecBuffers;
        EXPECT_EQ(1, Read(server.Url("/index.bin"), c.vecBlocks, &vecBuffers)) << c.cszName;
        for (size_t i = 0; i < c.vecBlocks.size(); ++i)
            EXPECT_EQ(Expected(c.vecBlocks[i]), vecBuffers[i]) << c.cszName << " block " << i;
        EXPECT_EQ(c.vecRanges, Ranges(server)) << c.cszName;
    }
    std::vector<Rv_TestHttpRequest> vecLog;
    std::vector<std::string> vecBuffers;
    ASSERT_EQ(1, Read(m_Server.Url("/index.bin"), {{5, 5}}, &vecBuffers));
    vecLog = m_Server.Requests();
    ASSERT_EQ(1u, vecLog.size());
    EXPECT_EQ("GET", vecLog[0].strMethod);
    EXPECT_EQ("Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)", vecLog[0].Header("User-Agent"));
    EXPECT_EQ("*/*", vecLog[0].Header("Accept"));
}

TEST_F(HttpSyncBlock, AnswersThatAreNotTheRequestedBytesFail)
{
    auto IgnoreRange = [](bool bNoLength, bool bChunked) {
        Rv_TestHttpFault f;
        f.bIgnoreRange = true;
        f.bNoContentLength = bNoLength;
        f.bChunked = bChunked;
        return f;
    };
    auto Status = [](int nStatus) {
        Rv_TestHttpFault f;
        f.nStatus = nStatus;
        f.strBody = std::string(10, 'x');
        return f;
    };
    auto Drop = [](long long llAfter, bool bReset) {
        Rv_TestHttpFault f;
        f.llDropAfter = llAfter;
        f.bReset = bReset;
        return f;
    };
    struct Case {
        const char* cszName;
        Rv_TestHttpFault fault;
        Block block;
        int nResult;
    } aCases[] = {
        {"200 with the whole file for a part", IgnoreRange(false, false), {0, 100}, 0},
        {"200 with the whole file for all of it", IgnoreRange(false, false), {0, 1000}, 1},
        {"200 without length, run at the start", IgnoreRange(true, false), {0, 100}, 1},
        {"200 without length, run further in", IgnoreRange(true, false), {100, 50}, 0},
        {"200 chunked, run at the start", IgnoreRange(false, true), {0, 100}, 1},
        {"200 chunked, run further in", IgnoreRange(false, true), {100, 50}, 0},
        {"206 chunked", [] { Rv_TestHttpFault f; f.bChunked = true; return f; }(), {100, 50}, 1},
        {"206 without length", [] { Rv_TestHttpFault f; f.bNoContentLength = true; return f; }(), {100, 50}, 1},
        {"404", Status(404), {0, 10}, 0},
        {"500", Status(500), {0, 10}, 0},
        {"204", Status(204), {0, 10}, 0},
        {"body cut short", Drop(20, false), {100, 50}, 0},
        {"body reset", Drop(20, true), {100, 50}, 0},
        {"range beyond the file (416)", {}, {990, 20}, 0},
    };
    for (const Case& c : aCases) {
        Rv_TestHttpServer server(m_Dir.File("www"));
        server.Start();
        server.SetFault("/index.bin", c.fault);
        std::vector<std::string> vecBuffers;
        EXPECT_EQ(c.nResult, Read(server.Url("/index.bin"), {c.block}, &vecBuffers)) << c.cszName;
        if (c.nResult) {
            EXPECT_EQ(Expected(c.block), vecBuffers[0]) << c.cszName;
        }
        EXPECT_EQ(1u, server.Requests().size()) << c.cszName << ": only opening the URL is retried";
    }
}

TEST_F(HttpSyncBlock, FirstFailureEndsTheReadAndEarlierBuffersKeepTheirData)
{
    // The server ignores Range and sends no length: the run at 0 is right,
    // the run at 500 would get the file's start and must fail.
    Rv_TestHttpFault fault;
    fault.bIgnoreRange = true;
    fault.bNoContentLength = true;
    m_Server.SetFault("/index.bin", fault);
    std::vector<std::string> vecBuffers;
    EXPECT_EQ(0, Read(m_Server.Url("/index.bin"), {{900, 10}, {0, 10}, {500, 10}}, &vecBuffers));
    EXPECT_EQ(std::string(10, '?'), vecBuffers[0]);
    EXPECT_EQ(Expected({0, 10}), vecBuffers[1]);
    EXPECT_EQ(std::string(10, '?'), vecBuffers[2]) << "no bytes of the file's start in a later block";
    EXPECT_EQ((std::vector<std::string>{"bytes=0-9", "bytes=500-509"}), Ranges(m_Server));
}

TEST_F(HttpSyncBlock, RangeEndBeyondThirtyTwoBitsIsRefusedBeforeAnyRequest)
{
    std::vector<std::string> vecBuffers;
    // The last byte 0xFFFFFFFF is still a valid end; the server answers 416.
    EXPECT_EQ(0, Read(m_Server.Url("/index.bin"), {{0xFFFFFF00u, 0x100}}, &vecBuffers));
    EXPECT_EQ((std::vector<std::string>{"bytes=4294967040-4294967295"}), Ranges(m_Server));

    struct Case {
        const char* cszName;
        std::vector<Block> vecBlocks;
    } aCases[] = {
        {"one block", {{0xFFFFFF00u, 0x101}}},
        {"largest offset and size", {{0xFFFFFFFFu, 0xFFFFFFFFu}}},
        {"adjacent run whose sum wraps", {{0xF0000000u, 0x08000000u}, {0xF8000000u, 0x08000001u}, {0, 1}}},
    };
    for (const Case& c : aCases) {
        Rv_TestHttpServer server(m_Dir.File("www"));
        server.Start();
        // The sizes are far beyond any buffer: the reader must refuse the
        // run before it reads, so one small buffer stands for every block.
        char szBuffer[16] = {};
        Rv_HttpSyncBlock reader;
        ASSERT_TRUE(reader.Init(server.Url("/index.bin").c_str()));
        for (const Block& block : c.vecBlocks)
            ASSERT_TRUE(reader.AddBlock(block.uOffset, block.uSize, szBuffer));
        EXPECT_EQ(0, reader.Download()) << c.cszName;
        std::vector<std::string> vecRanges = Ranges(server);
        for (const std::string& strRange : vecRanges)
            EXPECT_EQ("bytes=0-0", strRange) << c.cszName;
        EXPECT_LE(vecRanges.size(), 1u) << c.cszName;
    }
}

TEST_F(HttpSyncBlock, ArgumentsAndEmptyList)
{
    Rv_HttpSyncBlock reader;
    char szBuffer[4];
    EXPECT_FALSE(reader.Init(nullptr));
    EXPECT_FALSE(reader.Init(""));
    ASSERT_TRUE(reader.Init(m_Server.Url("/index.bin").c_str()));
    EXPECT_FALSE(reader.AddBlock(0, 0, szBuffer));
    EXPECT_FALSE(reader.AddBlock(0, 4, nullptr));
    EXPECT_TRUE(reader.Download());
    ASSERT_TRUE(reader.AddBlock(0, 4, szBuffer));
    ASSERT_TRUE(reader.Init(m_Server.Url("/index.bin").c_str()));     // empties the list
    EXPECT_TRUE(reader.Download());
    EXPECT_EQ(0u, m_Server.Requests().size());
}

TEST_F(HttpSyncBlock, FailuresAreLogged)
{
    Rv_TestLogCapture log(m_Dir);
    Rv_TestHttpFault fault;
    fault.nStatus = 404;
    m_Server.SetFault("/index.bin", fault);
    std::string strUrl = m_Server.Url("/index.bin");
    std::vector<std::string> vecBuffers;
    EXPECT_EQ(0, Read(strUrl, {{10, 10}}, &vecBuffers));

    // Nothing listens on a stopped server's port: every attempt to open fails.
    Rv_TestHttpServer gone(m_Dir.File("www"));
    gone.Start();
    std::string strGoneUrl = gone.Url("/index.bin");
    gone.Stop();
    EXPECT_EQ(0, Read(strGoneUrl, {{10, 10}}, &vecBuffers));

    std::string strText = log.Text();
    EXPECT_NE(std::string::npos, strText.find("Response status code : 404")) << strText;
    EXPECT_NE(std::string::npos, strText.find("Failed to download `" + strUrl + "`, GetLastError()=")) << strText;
    EXPECT_NE(std::string::npos,
              strText.find("RVLOG_PROCESS_ERROR(nRetryCount <= RV_HTTP_CONNECT_RETRY_MAX_COUNT && \"InternetOpenUrl()\")"))
        << strText;
    EXPECT_NE(std::string::npos, strText.find("in Rv_HttpSyncBlock::_DownloadContinuousBlock")) << strText;
    EXPECT_NE(std::string::npos, strText.find("RVLOG_PROCESS_ERROR(nRetCode && \"_DownloadContinuousBlock()\") at line"))
        << strText;
    EXPECT_NE(std::string::npos, strText.find("in Rv_HttpSyncBlock::Download")) << strText;
}
