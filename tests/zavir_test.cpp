// The driver contract: how the device is opened (and the stand-in reached,
// starting the loader when nothing serves it) and what each request
// carries, over the device and over the stand-in's pipe.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/mman.h>

#include "hostfake.h"
#include "standin_pipe.h"
#include "zavir.h"
#include "zavir_wire.h"

using ::testing::ElementsAre;

namespace {

class ZavirTest : public ::testing::Test {
   protected:
    void SetUp() override { fake::Reset(); }
};

const char kLoader[] = "C:\\WINDOWS\\SYSTEM\\STARTVXD.EXE";

// The loader in the system directory, as setup leaves it.
void InstallLoader(fake::ProgramBehaviour behaviour, const std::string& path = kLoader) {
    fake::PutFile(path, "MZ");
    fake::SetProgram(path, behaviour);
}

struct Expected {
    DWORD code;
    DWORD inSize, outSize;
    std::vector<DWORD> words;
};

void ExpectRequests(const std::vector<Expected>& expected) {
    const auto& got = fake::DeviceRequests();
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(got[i].code, expected[i].code);
        EXPECT_EQ(got[i].inSize, expected[i].inSize);
        EXPECT_EQ(got[i].outSize, expected[i].outSize);
        std::vector<DWORD> words = got[i].InWords();
        words.resize(expected[i].words.size());  // later words are not significant
        EXPECT_EQ(words, expected[i].words);
    }
}

TEST_F(ZavirTest, OpensTheDeviceAsADynamicWindows9xDriver) {
    fake::SetDriverPresent(true);
    InstallLoader({0, -1});
    ZavirDriver d;
    ASSERT_TRUE(OpenZavirDriver(&d));
    EXPECT_FALSE(d.viaStandIn);
    EXPECT_THAT(fake::ArgsOf("CreateFileA"),
                ElementsAre("\"\\\\.\\ZAVIR.VXD\", access=0x0, share=0, sa=NULL, disposition=1, "
                            "flags=0x4000000, template=NULL"));
    EXPECT_EQ(fake::CountOf("WaitNamedPipeA"), 0u);
    EXPECT_EQ(fake::CountOf("CreateProcessA"), 0u);
    CloseZavirDriver(&d);
    EXPECT_EQ(fake::OpenDriverHandles(), 0);
    EXPECT_FALSE(IsZavirDriverOpen(&d));
}

TEST_F(ZavirTest, FallsBackToTheStandInOnlyWhenTheDeviceFails) {
    fake::SetStandInPresent(true);
    InstallLoader({0, -1});
    ZavirDriver d;
    ASSERT_TRUE(OpenZavirDriver(&d));
    EXPECT_TRUE(d.viaStandIn);
    std::vector<std::string> opens = fake::ArgsOf("CreateFileA");
    ASSERT_EQ(opens.size(), 2u);
    EXPECT_THAT(opens[0], ::testing::StartsWith("\"\\\\.\\ZAVIR.VXD\""));
    // Anonymous, and overlapped so that every request is bounded.
    EXPECT_EQ(opens[1], "\"" + fake::StandInPipeName() +
                            "\", access=0xc0000000, share=0, sa=NULL, disposition=3, "
                            "flags=0x40100000, template=NULL");
    EXPECT_EQ(fake::CountOf("CreateProcessA"), 0u);
    CloseZavirDriver(&d);
}

// Only a name of this session's form, as a whole string value, is
// looked for: anything else in the user's key is no stand-in.
TEST_F(ZavirTest, OnlyAPublishedNameOfTheSessionIsLookedFor) {
    const std::string key = "HKCU\\Software\\corvale\\zavir\\standin";
    const std::string good = "\\\\.\\pipe\\ZAVIREMU.1.0123456789abcdef0123456789abcdef";
    const std::string longest = "\\\\.\\pipe\\ZAVIREMU.4294967295.0123456789abcdef0123456789abcdef";
    struct {
        DWORD session;
        DWORD type;
        std::string data;
        bool terminated;
        bool found;
    } rows[] = {
        {1, REG_SZ, good, true, true},
        {1, REG_SZ, good, false, true},  // stored without its terminator
        {4294967295u, REG_SZ, longest, true, true},  // 61 bytes: the longest there is
        {4294967295u, REG_SZ, longest + "0", true, false},
        {1, REG_SZ, good.substr(0, good.size() - 1), true, false},  // a digit short
        {1, REG_SZ, good + "a", true, false},                       // a digit over
        {1, REG_SZ, good + std::string(40, 'a'), false, false},     // past the buffer
        {1, REG_SZ, "\\\\.\\pipe\\ZAVIREMU.2.0123456789abcdef0123456789abcdef", true, false},
        {1, REG_SZ, "\\\\.\\pipe\\ZAVIREMU.1.0123456789ABCDEF0123456789abcdef", true, false},
        {1, REG_SZ, "\\\\.\\pipe\\ZAVIREMU.1.0123456789abcdeg0123456789abcdef", true, false},
        {1, REG_EXPAND_SZ, good, true, false},
        {1, REG_BINARY, good, true, false},
        {1, REG_SZ, "", true, false},
    };
    for (const auto& row : rows) {
        fake::Reset();
        fake::SetSessionId(row.session);
        std::vector<uint8_t> data(row.data.begin(), row.data.end());
        if (row.terminated) data.push_back(0);
        fake::RegPut(key, std::to_string(row.session), row.type, data);
        char name[ZAVIR_PIPE_NAME_SIZE];
        memset(name, 0xff, sizeof name);
        EXPECT_EQ(PublishedStandInName(name), (BOOL)row.found) << row.data;
        EXPECT_STREQ(name, row.found ? row.data.c_str() : "");
    }
}

TEST_F(ZavirTest, AServingStandInPublishesItsNameForItsSessionOnly) {
    fake::SetSessionId(3);
    const BYTE random[ZAVIR_PIPE_RANDOM_BYTES] = {0x00, 0xff, 0x10};
    char name[ZAVIR_PIPE_NAME_SIZE];
    FormatStandInPipeName(name, 3, random);
    EXPECT_STREQ(name, "\\\\.\\pipe\\ZAVIREMU.3.00ff1000000000000000000000000000");
    ASSERT_TRUE(PublishStandInName(name));
    // Volatile: the name goes with the log-off.
    EXPECT_THAT(fake::ArgsOf("RegCreateKeyExA"),
                ElementsAre("HKCU\\Software\\corvale\\zavir\\standin, class=NULL, options=1, "
                            "0x2, sa=NULL"));
    char found[ZAVIR_PIPE_NAME_SIZE];
    ASSERT_TRUE(PublishedStandInName(found));
    EXPECT_STREQ(found, name);
    // A stand-in that ends takes back only its own name: a later one's stays.
    char later[ZAVIR_PIPE_NAME_SIZE];
    FormatStandInPipeName(later, 3, (const BYTE*)"0123456789abcdef");
    PublishStandInName(later);
    WithdrawStandInName(name);
    ASSERT_TRUE(PublishedStandInName(found));
    EXPECT_STREQ(found, later);
    WithdrawStandInName(later);
    EXPECT_FALSE(PublishedStandInName(found));
    fake::SetSessionId(4);
    PublishStandInName(later);  // another session's name is no name here
    EXPECT_FALSE(PublishedStandInName(found));
}

TEST_F(ZavirTest, BusyPipeIsWaitedForWithoutStartingTheLoader) {
    fake::SetStandInPresent(true);
    fake::SetStandInBusyUntil(1500);
    InstallLoader({0, -1});
    ZavirDriver d;
    ZavirOpening opening;
    EXPECT_EQ(BeginZavirOpen(&d, &opening), kZavirOpenWaiting);
    EXPECT_EQ(fake::Now(), 0u);  // the caller's window goes on meanwhile
    fake::PassTime(1500);
    EXPECT_EQ(ContinueZavirOpen(&d, &opening), kZavirOpened);
    EXPECT_TRUE(d.viaStandIn);
    EXPECT_EQ(fake::CountOf("CreateProcessA"), 0u);
    CloseZavirDriver(&d);
}

TEST_F(ZavirTest, OnlyAStandInOfTheProgramsOwnSessionUserAndLevelIsAccepted) {
    const DWORD kNoLevels = 0, kLow = 0x1000, kMedium = 0x2000, kHigh = 0x3000;
    struct {
        DWORD serverSession;
        int owner;  // 0 the user, 1 another user, 2 another whose access list bars the user
        const char* hidden;  // a query this system lacks
        DWORD ownLevel;      // kNoLevels: a system before Vista
        DWORD pipeLabel;     // 0: none, which is medium
        bool accepted;
    } rows[] = {{1, false, "", kNoLevels, 0, true},
                {2, false, "", kNoLevels, 0, false},
                {2, false, "GetNamedPipeServerSessionId", kNoLevels, 0, true},
                {fake::kUnknownSession, false, "", kNoLevels, 0, false},
                {1, true, "", kNoLevels, 0, false},
                {1, 2, "", kNoLevels, 0, false},
                // An owner that can't be learnt refuses the server.
                {1, false, "GetSecurityInfo", kNoLevels, 0, false},
                {1, true, "GetSecurityInfo", kNoLevels, 0, false},
                {1, false, "GetTokenInformation", kNoLevels, 0, false},
                // A poser of lower integrity than ours is refused.
                {1, false, "", kMedium, 0, true},
                {1, false, "", kMedium, kMedium, true},
                {1, false, "", kMedium, kMedium - 1, false},
                {1, false, "", kMedium, kLow, false},
                {1, false, "", kLow, kLow, true},
                {1, false, "", kLow, kLow - 1, false},
                // Run as administrator: the stand-in serves at its user's level.
                {1, false, "", kHigh, 0, true},
                {1, false, "", kHigh, kLow, false},
                // A level that can't be learnt refuses the server.
                {1, false, "", fake::kUnknownLevel, 0, false},
                {1, false, "", kMedium, fake::kUnreadableLabel, false}};
    for (const auto& row : rows) {
        fake::Reset();
        fake::SetStandInPresent(true);
        fake::SetStandInSession(row.serverSession);
        fake::SetStandInOwnedByOtherUser(row.owner != 0);
        fake::SetStandInBarsUs(row.owner == 2);
        fake::SetStandInLabel(row.pipeLabel);
        fake::TokenStanding standing;
        standing.known = row.ownLevel != kNoLevels;
        standing.level = row.ownLevel;
        fake::SetTokenStanding(standing);
        fake::HideExport(row.hidden);
        InstallLoader({0, -1});
        ZavirDriver d;
        ZavirOpening opening;
        ZavirOpenStep step = BeginZavirOpen(&d, &opening);
        SCOPED_TRACE(testing::Message() << row.serverSession << row.hidden << " level "
                                        << row.ownLevel << " label " << row.pipeLabel);
        EXPECT_EQ(step, row.accepted ? kZavirOpened : kZavirOpenFailed);
        EXPECT_EQ(fake::OpenDriverHandles(), row.accepted ? 1 : 0);
        // A refusal is said as such, and starts no loader of our own.
        EXPECT_EQ(ZavirRefusal(&opening) != NULL, !row.accepted);
        EXPECT_EQ(fake::CountOf("CreateProcessA"), 0u);
        CloseZavirDriver(&d);
    }
}

TEST_F(ZavirTest, AnAdministratorsSearchFindsOnlyTheStandInOfTheHivesOwnUser) {
    const std::string other = "S-1-5-21-1-2-3-1001";  // the pipe's other owner
    struct {
        bool search;      // the calibration tool searches; the user's programs don't
        std::string hive;
        const char* value;
        bool pipeOfOther;
        const char* hidden;
        bool ownToo;      // our own hive names it as well
        DWORD error;
    } rows[] = {
        {true, other, "1", true, "", false, ERROR_SUCCESS},
        {false, other, "1", true, "", false, ERROR_FILE_NOT_FOUND},
        {true, other, "1", false, "", false, ERROR_ACCESS_DENIED},  // not the hive's user's
        {true, other + "_Classes", "1", true, "", false, ERROR_FILE_NOT_FOUND},
        {true, ".DEFAULT", "1", true, "", false, ERROR_FILE_NOT_FOUND},
        {true, other, "2", true, "", false, ERROR_FILE_NOT_FOUND},  // another session's
        {true, other, "1", true, "ConvertStringSidToSidA", false, ERROR_FILE_NOT_FOUND},
        {true, other, "1", true, "GetNamedPipeServerSessionId", false, ERROR_ACCESS_DENIED},
        {true, other, "1", false, "", true, ERROR_SUCCESS},  // our own comes first
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.search << " " << row.hive << " " << row.value
                                        << row.hidden << row.ownToo);
        fake::Reset();
        fake::SetStandInPresent(true);
        if (!row.ownToo) WithdrawStandInName(fake::StandInPipeName().c_str());
        fake::RegPutString("HKU\\" + row.hive + "\\" STANDIN_NAME_KEY, row.value,
                           fake::StandInPipeName());
        fake::SetStandInOwnedByOtherUser(row.pipeOfOther);
        fake::HideExport(row.hidden);
        DWORD error = 0xffffffff;
        HANDLE pipe = OpenStandInPipe(&error, row.search ? OtherUsersStandInName : NULL);
        EXPECT_EQ(error, row.error);
        EXPECT_EQ(pipe != INVALID_HANDLE_VALUE, row.error == ERROR_SUCCESS);
        if (pipe != INVALID_HANDLE_VALUE) CloseHandle(pipe);
    }
    // The open keeps searching when it opens the pipe again.
    fake::Reset();
    fake::SetStandInPresent(true);
    WithdrawStandInName(fake::StandInPipeName().c_str());
    fake::RegPutString("HKU\\" + other + "\\" STANDIN_NAME_KEY, "1", fake::StandInPipeName());
    fake::SetStandInOwnedByOtherUser(true);
    ZavirDriver d;
    const char* refusal = "";
    ASSERT_TRUE(OpenZavirDriverWith(&d, OtherUsersStandInName, &refusal));
    EXPECT_EQ(refusal, nullptr);
    fake::EndStandIn();
    SendHandOver(&d);  // the pipe broke
    fake::SetStandInPresent(true);
    WithdrawStandInName(fake::StandInPipeName().c_str());
    fake::PassTime(1000);
    SendHandOver(&d);
    EXPECT_EQ(fake::DeviceRequests().size(), 1u);
    CloseZavirDriver(&d);
}

TEST_F(ZavirTest, ALoaderIsAskedToEndThroughItsOwnUsersEvent) {
    // Setup's own user's loader, or one of another user of the session,
    // listening under the user's name or under one it published (someone
    // else took the first); a published value that is no such name is
    // passed over, and the user's name is asked as well.
    char mine[LOADER_END_EVENT_SIZE];
    ASSERT_TRUE(LoaderEndEventName(mine));
    const std::string own = mine + sizeof LOADER_END_PREFIX, other = "S-1-5-21-1-2-3-1001";
    const struct {
        bool own;
        const char* published;
        bool listensThere;
    } rows[] = {
        {true, nullptr, false},
        {false, nullptr, false},
        {true, LOADER_END_PREFIX ".S-1-5-21-7.0123456789ABCDEF", true},
        {false, LOADER_END_PREFIX ".", true},  // the shortest such name
        {true, LOADER_END_PREFIX ".ended", false},
        {true, LOADER_END_PREFIX, false},      // one short
        {false, "Global\\" LOADER_END_PREFIX ".x", false},
    };
    for (const auto& row : rows) {
        fake::Reset();
        fake::RegMakeKey("HKU\\.DEFAULT");
        fake::RegMakeKey("HKU\\S-1-5-21-0" + std::string(229, '9'));  // the longest that fits
        fake::RegMakeKey("HKU\\S-1-5-21-0" + std::string(230, '9'));
        fake::RegMakeKey("HKU\\" + own);
        fake::RegMakeKey("HKU\\" + other);
        const std::string user = row.own ? own : other;
        if (row.published)
            fake::RegPutString("HKU\\" + user + "\\" STANDIN_NAME_KEY, "1.end", row.published);
        bool asked = row.published && std::string(row.published).find(LOADER_END_PREFIX ".") == 0;
        std::string name = row.listensThere ? row.published : LOADER_END_PREFIX "." + user;
        HANDLE event = CreateEventA(NULL, TRUE, FALSE, name.c_str());
        // An ended loader's published name, made since by someone else.
        HANDLE stale = asked && !row.listensThere ? CreateEventA(NULL, TRUE, FALSE, row.published)
                                                  : NULL;
        EXPECT_TRUE(AskLoaderToEnd()) << name;
        EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0) << name;
        CloseHandle(event);
        if (stale) CloseHandle(stale);
        // Each hive's user's name, and a published one only if it is such a name.
        EXPECT_EQ(fake::CountOf("OpenEventA"), asked ? 5u : 4u) << name;
    }
    // Both loaders of a session are asked: each holds the file setup replaces.
    HANDLE events[2];
    for (int i = 0; i < 2; ++i)
        events[i] = CreateEventA(NULL, TRUE, FALSE, (LOADER_END_PREFIX "." + (i ? own : other)).c_str());
    EXPECT_TRUE(AskLoaderToEnd());
    for (HANDLE event : events) {
        EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
        CloseHandle(event);
    }
    fake::Reset();
    EXPECT_FALSE(AskLoaderToEnd());  // none listens: setup falls back to WM_CLOSE
}

TEST_F(ZavirTest, OnlyATokenAtItsUsersUsualLevelServesOrStartsTheLoader) {
    const DWORD kDefault = 1, kFull = 2, kLimited = 3;
    struct {
        BOOL typeKnown;
        DWORD typeError;
        DWORD type;
        BOOL levelsKnown;
        DWORD own, linked;
        BOOL serves;
    } rows[] = {
        {FALSE, ERROR_INVALID_PARAMETER, 0, FALSE, 0, 0, TRUE},  // before Vista
        {FALSE, ERROR_ACCESS_DENIED, 0, FALSE, 0, 0, FALSE},
        {TRUE, 0, kDefault, FALSE, 0, 0, TRUE},   // no user account control, or a plain user
        {TRUE, 0, kLimited, FALSE, 0, 0, TRUE},   // an administrator, not elevated
        {TRUE, 0, kFull, TRUE, 0x3000, 0x2000, FALSE},  // run as administrator
        {TRUE, 0, kFull, TRUE, 0x3000, 0x2FFF, FALSE},
        {TRUE, 0, kFull, TRUE, 0x3000, 0x3000, TRUE},   // Wine: both tokens alike
        {TRUE, 0, kFull, FALSE, 0, 0, FALSE},
    };
    for (const auto& row : rows) {
        TokenFacts facts = {row.typeKnown, row.typeError, row.type, row.levelsKnown, row.own,
                            row.linked};
        EXPECT_EQ(StandInMayServe(&facts), row.serves) << row.type << " " << row.linked;
    }
    // As learnt from the token: run as administrator with nothing serving,
    // the loader isn't started, and the user is told why.
    InstallLoader({0, -1});
    fake::TokenStanding standing;
    standing.known = true;
    standing.type = kFull;
    standing.level = 0x3000;
    fake::SetTokenStanding(standing);
    TokenFacts facts;
    LearnTokenFacts(&facts);
    EXPECT_FALSE(StandInMayServe(&facts));
    ZavirDriver d;
    ZavirOpening opening;
    EXPECT_EQ(BeginZavirOpen(&d, &opening), kZavirOpenFailed);
    EXPECT_EQ(fake::CountOf("CreateProcessA"), 0u);
    ASSERT_NE(ZavirRefusal(&opening), nullptr);
    EXPECT_THAT(ZavirRefusal(&opening), ::testing::HasSubstr("administrator"));
    EXPECT_EQ(fake::OpenProcessHandles(), 0);
    const char* refusal = NULL;
    EXPECT_FALSE(OpenZavirDriverWith(&d, OtherUsersStandInName, &refusal));
    EXPECT_EQ(refusal, ZavirRefusal(&opening));
    standing.linkedLevel = 0x3000;
    fake::SetTokenStanding(standing);
    EXPECT_EQ(BeginZavirOpen(&d, &opening), kZavirOpenWaiting);
    EXPECT_EQ(fake::CountOf("CreateProcessA"), 1u);
    AbandonZavirOpen(&opening);
}

TEST_F(ZavirTest, AStalledStandInCostsASecondThenIsLeftAloneForAWhile) {
    fake::SetStandInPresent(true);
    ZavirDriver d;
    ASSERT_TRUE(OpenZavirDriver(&d));
    fake::StallStandIn(true);
    SendHandOver(&d);
    EXPECT_EQ(fake::Now(), 1000u);
    EXPECT_EQ(fake::CountOf("CancelIo"), 1u);
    EXPECT_EQ(fake::OpenDriverHandles(), 0);  // pipe and event let go of
    fake::StallStandIn(false);
    fake::ClearCalls();
    fake::PassTime(10000);
    SendHandOver(&d);  // too soon to try again
    EXPECT_EQ(fake::CountOf("CreateFileA"), 0u);
    fake::PassTime(5000);
    SendHandOver(&d);
    EXPECT_EQ(fake::CountOf("CreateFileA"), 1u);
    EXPECT_EQ(fake::DeviceRequests().size(), 1u);  // the stalled one never got through
    // So is a new stand-in that stalls when told again of calibration mode.
    fake::StallStandIn(false);
    SetCalibrationMode(&d, 1, 0);
    fake::EndStandIn();
    SendHandOver(&d);
    fake::SetStandInPresent(true);
    fake::StallStandIn(true);
    fake::PassTime(1000);
    DWORD before = fake::Now();
    SendHandOver(&d);  // reopened; the resume costs its second
    EXPECT_EQ(fake::Now(), before + 1000);
    fake::ClearCalls();
    fake::PassTime(10000);
    SendHandOver(&d);
    EXPECT_EQ(fake::CountOf("CreateFileA"), 0u);
    CloseZavirDriver(&d);
}

// A reopened pipe is told again that we collect corners: the stand-in ended
// that mode with the old connection.
TEST_F(ZavirTest, AStandInThatEndedIsFoundAgainStartingTheLoaderIfNeeded) {
    fake::SetStandInPresent(true);
    ZavirDriver d;
    ASSERT_TRUE(OpenZavirDriver(&d));
    SetCalibrationMode(&d, 1, 0);
    fake::EndStandIn();
    InstallLoader({300, -1});
    LONG x = 0, y = 0;
    EXPECT_FALSE(ReadRawPosition(&d, &x, &y));  // fails at once
    EXPECT_EQ(fake::Now(), 0u);
    SendHandOver(&d);  // within the pause: nothing tried
    EXPECT_EQ(fake::StartedProcesses().size(), 0u);
    fake::PassTime(1000);
    SendHandOver(&d);  // no pipe: the loader is started, the request lost
    ASSERT_EQ(fake::StartedProcesses().size(), 1u);
    EXPECT_EQ(fake::OpenProcessHandles(), 0);
    fake::PassTime(1000);
    SendHandOver(&d);
    ExpectRequests({{0x22201B, 12, 12, {1, 0}}, {0x22201B, 12, 12, {1, 0}}, {0x222027, 12, 12, {0}}});
    SetCalibrationMode(&d, 0, 0);
    fake::PassTime(1000);
    fake::EndStandIn();
    SendHandOver(&d);
    fake::PassTime(1000);
    SendHandOver(&d);  // the loader is not started again this soon
    EXPECT_EQ(fake::StartedProcesses().size(), 1u);
    EXPECT_EQ(fake::DeviceRequests().size(), 4u);  // nothing given again out of calibration
    CloseZavirDriver(&d);
}

TEST_F(ZavirTest, LoaderStartsHiddenFromTheSystemDirectoryInheritingNothing) {
    InstallLoader({0, -1});
    ZavirDriver d;
    ASSERT_TRUE(OpenZavirDriver(&d));
    ASSERT_EQ(fake::StartedProcesses().size(), 1u);
    const fake::StartedProcess& p = fake::StartedProcesses()[0];
    EXPECT_EQ(p.application, kLoader);
    EXPECT_EQ(p.commandLine, "NULL");
    // Not the current directory: that may be the programs' folder, which
    // a loader running on would keep from being removed.
    EXPECT_EQ(p.currentDir, "\"C:\\WINDOWS\\SYSTEM\"");
    EXPECT_FALSE(p.inheritHandles);
    EXPECT_EQ(p.startupFlags, (DWORD)STARTF_USESHOWWINDOW);
    EXPECT_EQ(p.showWindow, SW_HIDE);
    EXPECT_EQ(fake::OpenProcessHandles(), 0);
    CloseZavirDriver(&d);
}

// Nothing serves the pipe: what the started loader does decides the open.
struct LoaderCase {
    const char* name;
    bool installed;
    fake::ProgramBehaviour behaviour;
    bool opens;
    DWORD minMs, maxMs;  // the clock when the open returns
};

void PrintTo(const LoaderCase& c, std::ostream* os) { *os << c.name; }

class LoaderStartTest : public ZavirTest, public ::testing::WithParamInterface<LoaderCase> {};

TEST_P(LoaderStartTest, StartsTheLoaderOnceAndWaitsForItsPipeWithinTheLimit) {
    const LoaderCase& c = GetParam();
    if (c.installed) InstallLoader(c.behaviour);
    ZavirDriver d;
    EXPECT_EQ(OpenZavirDriver(&d), (BOOL)c.opens);
    EXPECT_EQ(IsZavirDriverOpen(&d), (BOOL)c.opens);
    EXPECT_EQ(d.viaStandIn, (BOOL)c.opens);
    EXPECT_GE(fake::Now(), c.minMs);
    EXPECT_LE(fake::Now(), c.maxMs);
    EXPECT_EQ(fake::StartedProcesses().size(), c.installed ? 1u : 0u);
    EXPECT_EQ(fake::OpenProcessHandles(), 0);
    EXPECT_EQ(fake::OpenDriverHandles(), c.opens ? 1 : 0);
    if (c.opens) {
        SendHandOver(&d);
        ASSERT_EQ(fake::DeviceRequests().size(), 1u);
        EXPECT_TRUE(fake::DeviceRequests()[0].viaPipe);
    }
    CloseZavirDriver(&d);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, LoaderStartTest,
    ::testing::Values(LoaderCase{"ServesAtOnce", true, {0, -1}, true, 0, 100},
                      LoaderCase{"ServesAfterItsStart", true, {700, -1}, true, 700, 800},
                      LoaderCase{"ServesJustInTime", true, {4900, -1}, true, 4900, 5000},
                      LoaderCase{"EndsAtOnce", true, {-1, 0}, false, 0, 0},
                      LoaderCase{"EndsAfterAWhile", true, {-1, 1200}, false, 1200, 1200},
                      LoaderCase{"ServesTooLate", true, {6000, -1}, false, 5000, 5100},
                      LoaderCase{"NeverServes", true, {-1, -1}, false, 5000, 5100},
                      LoaderCase{"Missing", false, {}, false, 0, 0}),
    [](const ::testing::TestParamInfo<LoaderCase>& info) { return info.param.name; });

TEST_F(ZavirTest, OverLongSystemDirectoryMeansNoLoader) {
    // The loader's path is the directory, "\\STARTVXD.EXE" and a terminator in
    // MAX_PATH: 246 characters fit exactly, 247 leave no room.
    for (size_t length : {246u, 247u, 250u, 300u}) {
        fake::Reset();
        std::string directory = "C:\\" + std::string(length - 3, 'w');
        fake::SetSystemDir(directory);
        InstallLoader({0, -1}, directory + "\\STARTVXD.EXE");
        ZavirDriver d;
        EXPECT_EQ(OpenZavirDriver(&d), length == 246) << length;
        EXPECT_EQ(fake::CountOf("CreateProcessA"), length == 246 ? 1u : 0u) << length;
        CloseZavirDriver(&d);
    }
}

TEST_F(ZavirTest, NeitherDeviceNorStandInFailsTheOpen) {
    ZavirDriver d;
    EXPECT_FALSE(OpenZavirDriver(&d));
    EXPECT_FALSE(IsZavirDriverOpen(&d));
    EXPECT_FALSE(ZavirRequest(&d, kHandOverRequest, nullptr, 0, nullptr, 0));
}

TEST_F(ZavirTest, OnWindows9xTheDeviceIsAllThereIs) {
    fake::SetVersion(0xC0000A04);
    fake::SetStandInPresent(true);
    InstallLoader({0, -1});
    ZavirDriver d;
    ZavirOpening opening;
    EXPECT_EQ(BeginZavirOpen(&d, &opening), kZavirOpenFailed);
    EXPECT_EQ(fake::CountOf("CreateFileA"), 1u);  // the device alone
    EXPECT_EQ(fake::CountOf("CreateProcessA"), 0u);
    fake::SetDriverPresent(true);
    EXPECT_EQ(BeginZavirOpen(&d, &opening), kZavirOpened);
    EXPECT_FALSE(d.viaStandIn);
    CloseZavirDriver(&d);
}

// Each request's code, buffer sizes and significant input words, the same
// whichever way the driver is reached.
class ZavirRequestTest : public ZavirTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ZavirRequestTest, EachRequestCarriesItsCodeSizesAndWords) {
    bool viaPipe = GetParam();
    fake::SetDriverPresent(!viaPipe);
    fake::SetStandInPresent(viaPipe);
    fake::SetRawPosition(321, -45);
    ZavirDriver d;
    ASSERT_TRUE(OpenZavirDriver(&d));

    SendHandOver(&d);
    PacketRecord packet = {{0x12, 0x34, 0x56, 0x78}};
    SendPacket(&d, &packet);
    CornerSet corners = {1, 2, 3, 4, 5, 6, 7, 8};
    SendCorners(&d, &corners);
    SetCalibrationMode(&d, 1, 0);
    SetCalibrationMode(&d, 1, 1);
    LONG x = 0, y = 0;
    EXPECT_TRUE(ReadRawPosition(&d, &x, &y));
    EXPECT_EQ(x, 321);
    EXPECT_EQ(y, -45);

    ExpectRequests({
        {0x222027, 12, 12, {0}},
        {0x222043, 16, 16, {0x12, 0x34, 0x56, 0x78}},
        {0x22200B, 12, 12, {1, 2}},
        {0x22200F, 12, 12, {3, 4}},
        {0x222017, 12, 12, {7, 8}},
        {0x222013, 12, 12, {5, 6}},
        {0x22201B, 12, 12, {1, 0}},
        {0x22201B, 12, 12, {1, 1}},
        {0x222007, 12, 12, {}},
    });
    for (const auto& r : fake::DeviceRequests()) EXPECT_EQ(r.viaPipe, viaPipe);
    CloseZavirDriver(&d);
}

INSTANTIATE_TEST_SUITE_P(DeviceAndPipe, ZavirRequestTest, ::testing::Bool());

TEST_F(ZavirTest, AFailingRawPositionRequestTakesNoReading) {
    for (bool viaPipe : {false, true}) {
        fake::Reset();
        fake::SetDriverPresent(!viaPipe);
        fake::SetStandInPresent(viaPipe);
        fake::SetRawPosition(500, 600);
        fake::FailRequests(kReadRawPositionRequest);
        ZavirDriver d;
        ASSERT_TRUE(OpenZavirDriver(&d));
        LONG x = -1, y = -2;
        EXPECT_FALSE(ReadRawPosition(&d, &x, &y));
        EXPECT_EQ(x, -1);
        EXPECT_EQ(y, -2);
        CloseZavirDriver(&d);
    }
}

TEST_F(ZavirTest, AddressAnswerIsReadThroughBothAddresses) {
    // A 32-bit driver answers with addresses below 4 GB; map such memory so
    // the 64-bit test can follow them.
    void* page = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT,
                      -1, 0);
    ASSERT_NE(page, MAP_FAILED);
    LONG* counters = static_cast<LONG*>(page);
    counters[0] = 777;
    counters[1] = -9;
    DWORD answer[3] = {(DWORD)(uintptr_t)&counters[0], (DWORD)(uintptr_t)&counters[1], 0};
    LONG x = 0, y = 0;
    EXPECT_TRUE(RawPositionFromAnswer(answer, TRUE, &x, &y));
    EXPECT_EQ(x, 777);
    EXPECT_EQ(y, -9);
    munmap(page, 4096);
}

TEST_F(ZavirTest, AddressAnswerWithoutAddressesTakesNoReading) {
    const DWORD none[3] = {0, 0, 0};
    LONG x = 5, y = 6;
    EXPECT_FALSE(RawPositionFromAnswer(none, TRUE, &x, &y));
    const DWORD onlyX[3] = {0x1000, 0, 0}, onlyY[3] = {0, 0x1000, 0};  // never followed
    EXPECT_FALSE(RawPositionFromAnswer(onlyX, TRUE, &x, &y));
    EXPECT_FALSE(RawPositionFromAnswer(onlyY, TRUE, &x, &y));
    EXPECT_EQ(x, 5);
    EXPECT_EQ(y, 6);
    const DWORD values[3] = {0, 0, 0};
    EXPECT_TRUE(RawPositionFromAnswer(values, FALSE, &x, &y));  // (0, 0) is a position
    EXPECT_EQ(x, 0);
}

TEST_F(ZavirTest, OversizedBuffersAreRefused) {
    fake::SetDriverPresent(true);
    ZavirDriver d;
    ASSERT_TRUE(OpenZavirDriver(&d));
    DWORD big[8] = {};
    EXPECT_FALSE(ZavirRequest(&d, kPacketRequest, big, sizeof big, big, sizeof big));
    EXPECT_FALSE(ZavirRequest(&d, kPacketRequest, big, 17, big, 16));  // one byte past a frame
    EXPECT_FALSE(ZavirRequest(&d, kPacketRequest, big, 16, big, 17));
    EXPECT_TRUE(fake::DeviceRequests().empty());
    EXPECT_TRUE(ZavirRequest(&d, kPacketRequest, big, 16, big, 16));  // a whole frame
    EXPECT_EQ(fake::DeviceRequests().size(), 1u);
    CloseZavirDriver(&d);
}

TEST(TouchPacketCoding, SevenBitBytesCarryFourteenBitCoordinates) {
    DWORD words[4] = {0x7F, 0x7F, 0x00, 0x01};
    LONG x, y;
    ASSERT_TRUE(DecodeTouchPacket(words, &x, &y));
    EXPECT_EQ(x, ZAVIR_RAW_MAX);
    EXPECT_EQ(y, 1);
    DWORD release[4] = {0xFE, 0xFE, 0, 0};
    EXPECT_FALSE(DecodeTouchPacket(release, &x, &y));
    EXPECT_TRUE(IsReleasePacket(release));
    DWORD notRelease[4] = {0xFE, 0x10, 0, 0};
    EXPECT_FALSE(IsReleasePacket(notRelease));
    DWORD eighthBit[4] = {0, 0, 0, 0x80};
    EXPECT_FALSE(DecodeTouchPacket(eighthBit, &x, &y));
}

}  // namespace
