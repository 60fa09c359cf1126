// The movie's host window and the call bridge: request texts, call parsing,
// sequence numbers, delivery order, the message loop, pacing, dragging,
// creation errors, the scripted front end's transcript and rules, and the
// headless front end.
#include "app/ui/flash_window.h"
#include "foundation/log.h"
#include "platform/sim.h"
#include "tests/foundation/log_capture.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>

#include <atomic>
#include <cstdlib>
#include <thread>

namespace {

const char* const s_cszMovie = "REFITTER-MOVIE 1\ntitle T\nkey s Start StartGame\n";

// Records the calls the window hands to the application.
class RecordingCallBack : public IFlashCallBack {
public:
    int FlashCallback(const std::string& strName, const std::vector<std::string>& vecArgs) override
    {
        std::string strLine = strName;
        for (const std::string& strArg : vecArgs)
            strLine += "|" + strArg;
        vecCalls.push_back(strLine);
        if (strName == "CheckQuit" && pOnCheckQuit)
            pOnCheckQuit();
        else if (pOnCall)
            pOnCall(strName);
        return bHandle;
    }
    std::vector<std::string> vecCalls;
    int bHandle = 0;
    std::function<void()> pOnCheckQuit;
    std::function<void(const std::string&)> pOnCall;
};

// A front end that records what it receives.
class RecordingFrontEnd : public IPf_MovieFrontEnd {
public:
    explicit RecordingFrontEnd(std::vector<Pf_MovieCommand>* pvecCommands, int* pnFrames)
        : m_pvecCommands(pvecCommands), m_pnFrames(pnFrames) {}
    void OnLoad(const Pf_Movie&) override {}
    void OnCommand(const Pf_MovieCommand& command) override { m_pvecCommands->push_back(command); }
    void OnFrame() override { ++*m_pnFrames; }
    void PollMessages(Pf_Window*) override {}

private:
    std::vector<Pf_MovieCommand>* m_pvecCommands;
    int* m_pnFrames;
};

class FlashWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("RV_SIM_ROOT", m_Dir.File("sim").c_str(), 1);
        Rv_TestWriteFile(m_Dir.File("sim/player_version"), "11.2");
        Rv_TestWriteFile(m_Dir.File("movie.swf"), s_cszMovie);
        m_Log.emplace(m_Dir);
    }
    void TearDown() override
    {
        m_Log.reset();
        unsetenv("RV_SIM_ROOT");
    }
    // Creates the window with a recording front end in place of the machine's.
    void CreateWindow(NyFlashWindow* pWindow, IFlashCallBack* piCallBack)
    {
        Rv_TestWriteFile(m_Dir.File("sim/movie_script"), "");
        ASSERT_TRUE(pWindow->Create(m_Dir.File("movie.swf").c_str(), piCallBack, "c", "t", 0, 0, 0x333366));
        pWindow->GetPlayer()->SetFrontEnd(std::make_unique<RecordingFrontEnd>(&m_vecCommands, &m_nFrames));
        ASSERT_TRUE(pWindow->GetPlayer()->LoadMovie(m_Dir.File("movie.swf")));
    }
    std::string LogText() { return m_Log->Text(); }
    Rv_TestTempDir m_Dir;
    std::optional<Rv_TestLogCapture> m_Log;
    std::vector<Pf_MovieCommand> m_vecCommands;
    int m_nFrames = 0;
};

std::atomic<uint64_t> s_ullFakeNow{0};
uint64_t _FakeNow()
{
    return s_ullFakeNow.load();
}

} // namespace

TEST(FlashBridge, RequestTextIsVerbatim)
{
    EXPECT_EQ("<invoke name=\"SetTxtM\" returntype=\"xml\"><arguments><string>a&b<c</string><string></string>"
              "</arguments></invoke>",
              NyFlash_BuildRequest("SetTxtM", {"a&b<c", ""}));
    EXPECT_EQ("<invoke name=\"X\" returntype=\"xml\"><arguments></arguments></invoke>", NyFlash_BuildRequest("X", {}));
}

TEST(FlashBridge, ParsesCallsOfTheMovie)
{
    struct Case {
        const char* cszXml;
        int nResult;
        const char* cszName;
        std::vector<std::string> vecArgs;
    } aCases[] = {
        {"<invoke name=\"StartGame\" returntype=\"xml\"><arguments><string>1</string><string>x y</string></arguments></invoke>",
         1, "StartGame", {"1", "x y"}},
        {"<?xml version=\"1.0\"?><!-- c --><invoke name=\"A\"><arguments></arguments></invoke>", 1, "A", {}},
        {"<invoke name=\"A\"/>", 1, "A", {}},
        {"<invoke name=\"A\"><arguments><string/><string>b</string></arguments></invoke>", 1, "A", {"", "b"}},
        {"<invoke other=\"Z\" name=\"A\"><x><y>q</y></x></invoke>", 1, "Z", {"q"}},
        {"<invoke><arguments/></invoke>", 0, "", {}},
        {"<invoke name=\"A\"><arguments>", 0, "", {}},
        {"", 0, "", {}},
    };
    for (const Case& c : aCases) {
        std::string strName;
        std::vector<std::string> vecArgs;
        EXPECT_EQ(c.nResult, NyFlash_ParseCall(c.cszXml, &strName, &vecArgs)) << c.cszXml;
        if (c.nResult) {
            EXPECT_EQ(c.cszName, strName) << c.cszXml;
            EXPECT_EQ(c.vecArgs, vecArgs) << c.cszXml;
        }
    }
}

TEST(FlashBridge, SequenceNumbersSkipZero)
{
    EXPECT_EQ(1u, NyFlash_NextSequence(0));
    EXPECT_EQ(0x80000000u, NyFlash_NextSequence(0x7FFFFFFF));
    EXPECT_EQ(1u, NyFlash_NextSequence(0xFFFFFFFF));
}

TEST(MovieRequestReader, IsLenient)
{
    struct Case {
        const char* cszRequest;
        std::vector<std::string> vecArgs;
    } aCases[] = {
        {"<invoke name=\"W\" returntype=\"xml\"><arguments><string>1|a&2|b</string></arguments></invoke>", {"1|a&2|b"}},
        {"<invoke name=\"V\" returntype=\"xml\"><arguments><string>v: 1&gt;&gt;&gt; 2 &lt;&amp;&quot;&apos;</string></arguments></invoke>",
         {"v: 1>>> 2 <&\"'"}},
        {"<invoke name=\"A\" returntype=\"xml\"><arguments><string>2</string><string><![CDATA[<b>x</string></b>]]></string><string>q?a=1&b=2</string></arguments></invoke>",
         {"2", "<b>x</string></b>", "q?a=1&b=2"}},
        {"<invoke name=\"A\" returntype=\"xml\"><arguments><string><i>t</i></string><string/></arguments></invoke>", {"<i>t</i>", ""}},
    };
    for (const Case& c : aCases) {
        Pf_MovieCommand command;
        ASSERT_TRUE(Pf_ParseMovieRequest(c.cszRequest, &command)) << c.cszRequest;
        EXPECT_EQ(c.vecArgs, command.vecArgs) << c.cszRequest;
    }
    Pf_MovieCommand command;
    EXPECT_FALSE(Pf_ParseMovieRequest("<nothing/>", &command));
}

TEST_F(FlashWindowTest, CreationErrors)
{
    {
        NyFlashWindow window;
        EXPECT_EQ(4, window.GetErrorCode());
        EXPECT_FALSE(window.Create(m_Dir.File("missing.swf").c_str(), nullptr, "c", "t", 0, 0, 0));
        EXPECT_EQ(3, window.GetErrorCode());
    }
    {
        Rv_TestWriteFile(m_Dir.File("sim/player_version"), "8.0");
        NyFlashWindow window;
        EXPECT_FALSE(window.Create(m_Dir.File("movie.swf").c_str(), nullptr, "c", "t", 0, 0, 0));
        EXPECT_EQ(2, window.GetErrorCode());
    }
    {
        Rv_TestWriteFile(m_Dir.File("sim/player_version"), "none");
        NyFlashWindow window;
        EXPECT_FALSE(window.Create(m_Dir.File("movie.swf").c_str(), nullptr, "c", "t", 0, 0, 0));
        EXPECT_EQ(1, window.GetErrorCode());
    }
    EXPECT_NE(std::string::npos, LogText().find("create window. err = 3"));
    EXPECT_NE(std::string::npos, LogText().find("create window. err = 1"));
}

TEST_F(FlashWindowTest, CommandsFromThreadsArriveInPostingOrder)
{
    NyFlashWindow window;
    RecordingCallBack callBack;
    CreateWindow(&window, &callBack);
    std::vector<std::thread> vecThreads;
    for (int t = 0; t < 4; ++t) {
        vecThreads.emplace_back([&window, t] {
            for (int i = 0; i < 50; ++i)
                window.SendCommandToFlash("SetTxtM", {std::to_string(t), std::to_string(i)});
        });
    }
    for (std::thread& thread : vecThreads)
        thread.join();
    window.SendCommandToFlash("CloseAfter", {});
    window.GetWindow()->Post(WM_FLASH_QUIT, 0, 0);
    window.RunMessageLoop();
    ASSERT_EQ(201u, m_vecCommands.size());
    int anNext[4] = {0, 0, 0, 0};
    for (size_t i = 0; i < 200; ++i) {
        int t = atoi(m_vecCommands[i].vecArgs[0].c_str());
        EXPECT_EQ(anNext[t]++, atoi(m_vecCommands[i].vecArgs[1].c_str()));
    }
    EXPECT_EQ("CloseAfter", m_vecCommands[200].strName);
}

TEST_F(FlashWindowTest, LoopCallsReadyOnceAndCheckQuitEveryPass)
{
    NyFlashWindow window;
    RecordingCallBack callBack;
    CreateWindow(&window, &callBack);
    Pf_Window* pWindow = window.GetWindow();
    int nPass = 0;
    callBack.pOnCheckQuit = [&] {
        if (++nPass == 2) {
            pWindow->Post(PF_WM_MOVIE_CALL, 0, 0, Pf_BuildMovieCall("First", {}));
            pWindow->Post(WM_FLASH_QUIT, 0, 0);
            pWindow->Post(PF_WM_MOVIE_CALL, 0, 0, Pf_BuildMovieCall("Behind", {}));
        }
    };
    window.RunMessageLoop();
    EXPECT_EQ((std::vector<std::string>{"_FlashWindowReady_", "CheckQuit", "CheckQuit", "First", "CheckQuit"}),
              callBack.vecCalls);
    Pf_Message message;
    ASSERT_TRUE(pWindow->Peek(&message)) << "messages behind the quit stay queued";
    EXPECT_EQ("Behind", message.strText.substr(14, 6));
}

TEST_F(FlashWindowTest, BuiltInCallsWhenTheCallbackDeclines)
{
    NyFlashWindow window;
    RecordingCallBack callBack;
    CreateWindow(&window, &callBack);
    window.WindowProc(Pf_Message{PF_WM_MOVIE_CALL, 0, 0, Pf_BuildMovieCall("canmove", {})});
    EXPECT_TRUE(window.CanMove());
    window.WindowProc(Pf_Message{PF_WM_MOVIE_CALL, 0, 0, Pf_BuildMovieCall("MinWindow", {})});
    EXPECT_TRUE(window.GetWindow()->IsMinimised());
    window.WindowProc(Pf_Message{PF_WM_MOVIE_CALL, 0, 0, Pf_BuildMovieCall("PrintFlashLog", {"hi"})});
    window.WindowProc(Pf_Message{PF_WM_MOVIE_CALL, 0, 0, Pf_BuildMovieCall("Nope", {})});
    window.WindowProc(Pf_Message{PF_WM_MOVIE_CALL, 0, 0, "<invoke><arguments/></invoke>"});
    window.WindowProc(Pf_Message{PF_WM_MOVIE_CALL, 0, 0, Pf_BuildMovieCall("CloseWindow", {})});
    Pf_Message message;
    ASSERT_TRUE(window.GetWindow()->Peek(&message));
    EXPECT_EQ((uint32_t)WM_FLASH_QUIT, message.uMessage);
    std::string strLog = LogText();
    EXPECT_NE(std::string::npos, strLog.find("Flash Log: hi "));
    EXPECT_NE(std::string::npos, strLog.find("Do not Process. FlashCall = Nope "));
    EXPECT_NE(std::string::npos, strLog.find("RVLOG_PROCESS_ERROR(nRetCode) at line"));

    callBack.bHandle = 1;
    window.WindowProc(Pf_Message{PF_WM_MOVIE_CALL, 0, 0, Pf_BuildMovieCall("CloseWindow", {})});
    EXPECT_FALSE(window.GetWindow()->Peek(&message)) << "a handled call does not reach the built-ins";
}

TEST_F(FlashWindowTest, PacingAllows24FramesPerSecondWithoutCatchUp)
{
    NyFlashWindow window;
    CreateWindow(&window, nullptr);
    s_ullFakeNow = 1000;
    window.SetClockForTest(_FakeNow);
    m_nFrames = 0;
    for (int nMs = 1; nMs <= 1000; ++nMs) {
        s_ullFakeNow = 1000 + (uint64_t)nMs;
        window.Draw();
    }
    EXPECT_EQ(24, m_nFrames);
    // A pause of ten seconds, then one invalidation: one frame, no burst.
    s_ullFakeNow += 10000;
    window.Draw();
    window.Draw();
    EXPECT_EQ(26, m_nFrames) << "the count the elapsed time allows is far ahead; each invalidation draws once";
    // Past 49.7 hours the pacing still draws.
    s_ullFakeNow = 1000 + 180000000ULL;
    int nBefore = m_nFrames;
    window.Draw();
    EXPECT_EQ(nBefore + 1, m_nFrames);
}

TEST_F(FlashWindowTest, OversizedRectangleUsesLastAcceptedOne)
{
    NyFlashWindow window;
    CreateWindow(&window, nullptr);
    s_ullFakeNow = 0;
    window.SetClockForTest(_FakeNow);
    s_ullFakeNow = 1000;
    window.GetWindow()->ReportRectOnce(Pf_Rect{0, 0, 2000, 900});
    window.Draw();
    EXPECT_NE(std::string::npos, LogText().find("GetWindowRect Error, Top=0, left=0, right=2000, bottom=900"));
}

TEST_F(FlashWindowTest, DragOnlyAfterCanMoveWithLeftButton)
{
    NyFlashWindow window;
    CreateWindow(&window, nullptr);
    Pf_Window* pWindow = window.GetWindow();
    auto Move = [&](int nX, int nY, uintptr_t uFlags) {
        Pf_SetCursorPos(nX, nY);
        window.WindowProc(Pf_Message{PF_WM_MOUSEMOVE, uFlags, 0, ""});
    };
    Move(100, 100, 0);
    window.WindowProc(Pf_Message{PF_WM_LBUTTONDOWN, PF_MK_LBUTTON, 0, ""});
    Move(110, 105, PF_MK_LBUTTON);
    Pf_Rect rect;
    pWindow->GetRect(&rect);
    EXPECT_EQ(0, rect.nLeft) << "a press the movie did not accept as a drag moves nothing";
    window.WindowProc(Pf_Message{PF_WM_MOVIE_CALL, 0, 0, Pf_BuildMovieCall("CanMove", {})});
    Move(120, 125, PF_MK_LBUTTON);
    pWindow->GetRect(&rect);
    EXPECT_EQ(10, rect.nLeft);
    EXPECT_EQ(20, rect.nTop);
    Move(130, 130, PF_MK_LBUTTON | PF_MK_RBUTTON);
    pWindow->GetRect(&rect);
    EXPECT_EQ(10, rect.nLeft) << "only the left button alone drags";
    window.WindowProc(Pf_Message{PF_WM_LBUTTONUP, 0, 0, ""});
    EXPECT_FALSE(window.CanMove());
}

TEST_F(FlashWindowTest, ScriptedFrontEndKeepsTranscriptAndMakesCalls)
{
    Rv_TestWriteFile(m_Dir.File("sim/movie_script"),
                     "# rules\n"
                     "on _load_ call Hello\n"
                     "on SetUpdateState 1 call StartGame \"a b\" after 20\n"
                     "on SetUpdateState call Seen\n");
    NyFlashWindow window;
    RecordingCallBack callBack;
    ASSERT_TRUE(window.Create(m_Dir.File("movie.swf").c_str(), &callBack, "c", "t", 0, 0, 0));
    window.SendCommandToFlash("SetUpdateState", {"0"});
    window.SendCommandToFlash("SetTxtVersion", {"v: 1&gt;&gt;&gt; 2"});
    window.SendCommandToFlash("SetUpdateState", {"1"});
    int nPass = 0;
    callBack.pOnCheckQuit = [&] {
        ++nPass;
        for (const std::string& strCall : callBack.vecCalls) {
            if (strCall == "StartGame|a b" || nPass > 500)
                window.GetWindow()->Post(WM_FLASH_QUIT, 0, 0);
        }
    };
    window.RunMessageLoop();
    ASSERT_GE(callBack.vecCalls.size(), 5u);
    EXPECT_EQ("Hello", callBack.vecCalls[0]) << "queued while loading, dispatched before the loop";
    EXPECT_EQ("_FlashWindowReady_", callBack.vecCalls[1]);
    EXPECT_NE(callBack.vecCalls.end(), std::find(callBack.vecCalls.begin(), callBack.vecCalls.end(), "Seen"));
    EXPECT_NE(callBack.vecCalls.end(), std::find(callBack.vecCalls.begin(), callBack.vecCalls.end(), "StartGame|a b"));
    EXPECT_EQ("SetUpdateState\t0\nSetTxtVersion\tv: 1>>> 2\nSetUpdateState\t1\n",
              Rv_TestReadFile(m_Dir.File("sim/movie_transcript")));
}

// Without a terminal or a script the player only waits: it closes the window
// once the work has ended, and logs each command once while it repeats (a
// moving arrow changes only blanks).
TEST_F(FlashWindowTest, HeadlessPlayerClosesOnceTheWorkEndedAndLogsRepeatsOnce)
{
    NyFlashWindow window;
    RecordingCallBack callBack;
    ASSERT_TRUE(window.Create(m_Dir.File("movie.swf").c_str(), &callBack, "c", "t", 0, 0, 0));
    window.GetPlayer()->SetFrontEnd(Pf_CreateHeadlessFrontEnd());
    ASSERT_TRUE(window.GetPlayer()->LoadMovie(m_Dir.File("movie.swf")));
    for (const char* cszText : {"v: 1&gt;&gt;&gt;   2", "v: 1 &gt;&gt;&gt;  2", "v: 1&gt;&gt;&gt;   2", "v: 2"})
        window.SendCommandToFlash("SetTxtVersion", {cszText});
    window.SendCommandToFlash("SetUpdateState", {"4"});
    window.SendCommandToFlash("SetUpdateState", {"4"});
    int nPass = 0;
    int nCloses = 0;
    callBack.pOnCheckQuit = [&] {
        ++nPass;
        if (nPass == 20)
            window.PostWorkEnded();
        if (nPass > 1000)
            window.GetWindow()->Post(WM_FLASH_QUIT, 0, 0);
    };
    callBack.bHandle = 1;
    callBack.pOnCall = [&](const std::string& strName) {
        if (strName == "CloseWindow" && ++nCloses == 2)
            window.GetWindow()->Post(WM_FLASH_QUIT, 0, 0);
    };
    window.RunMessageLoop();
    EXPECT_EQ(2, nCloses) << "a close the host does not take is tried again";
    EXPECT_LT(nPass, 1000);
    EXPECT_EQ(std::count(callBack.vecCalls.begin(), callBack.vecCalls.begin() + 20, "CloseWindow"), 0)
        << "nothing is closed while the work runs";
    const std::string strLog = LogText();
    EXPECT_NE(std::string::npos, strLog.find("Movie command: SetTxtVersion(v: 1>>>   2)")) << strLog;
    EXPECT_EQ(std::string::npos, strLog.find("Movie command: SetTxtVersion(v: 1 >>>  2)")) << strLog;
    EXPECT_NE(std::string::npos, strLog.find("Movie command: SetTxtVersion(v: 2)")) << strLog;
    size_t uState = strLog.find("Movie command: SetUpdateState(4)");
    ASSERT_NE(std::string::npos, uState) << strLog;
    EXPECT_EQ(std::string::npos, strLog.find("Movie command: SetUpdateState(4)", uState + 1)) << strLog;
}

// The movie file: states, the text once the work has ended, keys with their
// calls, and the states in which a key waits for the work.
TEST(MovieFile, ReadsStatesKeysAndWhenAKeyWaits)
{
    Pf_Movie movie;
    ASSERT_TRUE(Pf_ParseMovie("REFITTER-MOVIE 1\n# c\ntitle \"A B\"\nstate 1 \"x y\"\nended E\n"
                              "key q Close CloseWindow\ninactive q 0 4\nkey n News Click 1 \"\"\n",
                              &movie));
    EXPECT_EQ("A B", movie.strTitle);
    ASSERT_EQ(1u, movie.vecStateNames.size());
    EXPECT_EQ("x y", movie.vecStateNames[0].second);
    EXPECT_EQ("E", movie.strEndedText);
    ASSERT_EQ(2u, movie.vecKeys.size());
    EXPECT_EQ((std::vector<std::string>{"0", "4"}), movie.vecKeys[0].vecInactiveStates);
    EXPECT_TRUE(movie.vecKeys[1].vecInactiveStates.empty());
    EXPECT_EQ((std::vector<std::string>{"1", ""}), movie.vecKeys[1].call.vecArgs);
    EXPECT_FALSE(Pf_ParseMovie("REFITTER-MOVIE 1\nended\n", &movie));
    EXPECT_FALSE(Pf_ParseMovie("title T\n", &movie));
}

// On a terminal, once the work has ended a version line that only moves its
// arrow stays where it stands, while a new text (the installed client's
// name, which the refresher shows in the final states) is still drawn.
TEST(TerminalScreen, AfterTheEndOnlyANewVersionTextIsDrawn)
{
    Pf_Movie movie;
    ASSERT_TRUE(Pf_ParseMovie("REFITTER-MOVIE 1\ntitle T\nstate 4 U\nended E\nkey q Close CloseWindow\n", &movie));
    std::unique_ptr<IPf_MovieFrontEnd> pScreen = Pf_CreateTerminalFrontEnd();
    testing::internal::CaptureStdout();
    pScreen->OnLoad(movie);
    pScreen->OnCommand(Pf_MovieCommand{"SetUpdateState", {"4"}});
    pScreen->OnCommand(Pf_MovieCommand{"SetTxtVersion", {"v: 1>>>   2"}});
    pScreen->OnFrame();
    pScreen->OnWorkEnded();
    pScreen->OnCommand(Pf_MovieCommand{"SetTxtVersion", {"v: 1   >>>2"}});
    pScreen->OnFrame();
    const std::string strEnded = testing::internal::GetCapturedStdout();
    testing::internal::CaptureStdout();
    pScreen->OnCommand(Pf_MovieCommand{"SetTxtVersion", {"name  2"}});
    pScreen->OnFrame();
    const std::string strNamed = testing::internal::GetCapturedStdout();
    pScreen.reset();
    EXPECT_NE(std::string::npos, strEnded.find("[E]")) << strEnded;
    EXPECT_EQ(std::string::npos, strEnded.find("v: 1   >>>2")) << strEnded;
    EXPECT_NE(std::string::npos, strNamed.find("name  2")) << strNamed;
}
