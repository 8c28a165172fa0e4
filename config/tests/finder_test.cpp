// The controller finder: the packet count at the edges of a listening
// window, the table and its verdict, and the page driven over fake ports.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "finder.h"
#include "hostfake.h"
#include "pages.h"
#include "resource.h"

using ::testing::HasSubstr;

namespace {

typedef std::vector<uint8_t> Bytes;

const char* kKey = "HKLM\\software\\corvale\\zavir";
const Bytes kTouch = {0xFF, 0x04, 0x2C, 0x05, 0x3C};
const Bytes kRelease = {0xFF, 0xFE, 0xFE};

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

PacketTally Count(const Bytes& stream, size_t split) {
    PacketCounter c;
    StartCounting(&c);
    CountBytes(&c, stream.data(), (DWORD)split);
    CountBytes(&c, stream.data() + split, (DWORD)(stream.size() - split));
    FinishCounting(&c);
    return c.tally;
}

struct CountCase {
    const char* what;
    Bytes stream;
    PacketTally want;  // touches, releases, stray, cut
    SettingVerdict verdict;
};

TEST(PacketCounter, CountsAtTheWindowsEdgesWhereverTheStreamIsSplit) {
    const CountCase cases[] = {
        {"nothing", {}, {0, 0, 0, 0}, kSilent},
        {"a touch and its release", Join({kTouch, kRelease}), {1, 1, 0, 0}, kClean},
        {"only releases", Join({kRelease, kRelease, kRelease}), {0, 3, 0, 0}, kClean},
        {"noise between packets", Join({kTouch, {0x12, 0x80}, kRelease}), {1, 1, 2, 0}, kGarbled},
        {"a packet cut at the end", Join({kTouch, {0xFF, 0x01, 0x02, 0x03}}), {1, 0, 0, 4},
         kClean},
        {"a lead byte alone at the end", Join({kRelease, {0xFF}}), {0, 1, 0, 1}, kClean},
        {"a release cut at the end", Join({kRelease, {0xFF, 0xFE}}), {0, 1, 0, 2}, kClean},
        {"four bytes of a packet begun before", Join({{1, 2, 3, 4}, kRelease}), {0, 1, 0, 4},
         kClean},
        {"five bytes before the first lead", Join({{1, 2, 3, 4, 5}, kRelease}), {0, 1, 5, 0},
         kGarbled},
        {"a release's tail before", Join({{0xFE, 0xFE}, kTouch}), {1, 0, 0, 2}, kClean},
        {"three 0xFE before", Join({{0xFE, 0xFE, 0xFE}, kRelease}), {0, 1, 3, 0}, kGarbled},
        {"0xFE and data before", Join({{0xFE, 0x05}, kRelease}), {0, 1, 2, 0}, kGarbled},
        {"a byte no packet ends in, before", Join({{0x80}, kRelease}), {0, 1, 1, 0}, kGarbled},
        {"a tail and then silence", {0x01, 0x02}, {0, 0, 0, 2}, kSilent},
        {"a release broken by data", Join({{0xFF, 0xFE, 0x05}, kRelease}), {0, 1, 3, 0},
         kGarbled},
        {"a touch broken by a high byte", Join({{0xFF, 0x01, 0x80}, kTouch}), {1, 0, 3, 0},
         kGarbled},
        {"a packet broken by a lead byte", Join({{0xFF, 0x01}, kRelease}), {0, 1, 2, 0},
         kGarbled},
        {"0xFE where a touch's data goes", Join({{0xFF, 0xFE, 0xFE, 0x01}, kTouch}),
         {1, 1, 1, 0}, kGarbled},
        {"a wrong rate's lead bytes", {0xFF, 0xFF, 0xFF, 0xFF}, {0, 0, 3, 1}, kGarbled},
    };
    for (const CountCase& c : cases) {
        for (size_t split = 0; split <= c.stream.size(); ++split) {
            PacketTally got = Count(c.stream, split);
            EXPECT_EQ(got.touches, c.want.touches) << c.what << " split " << split;
            EXPECT_EQ(got.releases, c.want.releases) << c.what << " split " << split;
            EXPECT_EQ(got.strayBytes, c.want.strayBytes) << c.what << " split " << split;
            EXPECT_EQ(got.cutBytes, c.want.cutBytes) << c.what << " split " << split;
            EXPECT_EQ(JudgeTally(&got), c.verdict) << c.what;
        }
    }
}

FinderSearch TwoPorts() {
    FinderSearch s;
    PlanSearch(&s, 0x5);  // COM1 and COM3
    return s;
}

TEST(FinderTable, ShowsEachPortAtEachRateAndNamesTheFirstCleanSetting) {
    FinderSearch s = TwoPorts();
    ASSERT_EQ(s.count, 8);
    char text[1024];
    FormatFinding(&s, text, sizeof text);
    EXPECT_STREQ(text, "Listening on COM 1 at 19200 baud (1 of 8): touch the panel.");
    s.settings[0].verdict = kGarbled;
    s.settings[0].tally = {0, 0, 412, 0};
    for (int i = 1; i < 4; ++i) s.settings[i].verdict = kPortNotOpen;
    s.settings[5].verdict = kClean;
    s.settings[5].tally = {12, 12, 0, 3};
    s.settings[6].verdict = kClean;
    s.current = s.count;
    FormatFinderTable(&s, text, sizeof text);
    EXPECT_STREQ(text,
                 "Touch/release packets/stray bytes at each rate:\r\n"
                 "Port\t19200\t9600\t2400\t1200\r\n"
                 "COM 1\t0/0/412\tnot open\tnot open\tnot open\r\n"
                 "COM 3\t-\t12/12/0\t0/0/0\t-\r\n");
    FormatFinding(&s, text, sizeof text);
    EXPECT_STREQ(text, "Controller found on COM 3 at 9600 baud");

    s.settings[5].verdict = s.settings[6].verdict = kGarbled;
    FormatFinding(&s, text, sizeof text);
    EXPECT_THAT(text, HasSubstr("Stopped: no clean setting"));
    for (int i = 4; i < 8; ++i) s.settings[i].verdict = kGarbled;
    FormatFinding(&s, text, sizeof text);
    EXPECT_THAT(text, HasSubstr("No clean setting"));
    s.settings[0].verdict = kSilent;
    for (int i = 4; i < 8; ++i) s.settings[i].verdict = kPortNotOpen;
    FormatFinding(&s, text, sizeof text);
    EXPECT_THAT(text, HasSubstr("Nothing came"));
    s.settings[0].verdict = kPortNotOpen;
    FormatFinding(&s, text, sizeof text);
    EXPECT_STREQ(text, "No COM port would open.");
}

TEST(FinderTable, PlansEveryListedPortAndCutsTextToItsBuffer) {
    FinderSearch s;
    PlanSearch(&s, 0xF);
    ASSERT_EQ(s.count, FINDER_MAX_SETTINGS);
    EXPECT_EQ(s.settings[FINDER_MAX_SETTINGS - 1].port->port, 4);
    EXPECT_EQ(s.settings[FINDER_MAX_SETTINGS - 1].baud, 1200);
    PlanSearch(&s, 0x10);  // no port of the four
    EXPECT_EQ(s.count, 0);

    s = TwoPorts();
    char full[1024];
    FormatFinderTable(&s, full, sizeof full);
    const int length = (int)strlen(full);
    for (int size : {length + 1, length, 1}) {
        std::vector<char> text(size + 1, 'x');
        FormatFinderTable(&s, text.data(), size);
        EXPECT_EQ(std::string(text.data()), std::string(full, size - 1)) << size;
        EXPECT_EQ(text[size], 'x') << size;
    }
}

// The page over fake ports: COM1 is missing, COM2 clean only at 9600
// baud; COM1 is stored with a base and IRQ of its own.  The read-only key
// and a running TOUCH are the e2e cases'.
class FinderPageTest : public ::testing::Test {
   protected:
    static void SetUpTestSuite() {
        fake::LoadResourceScript(ZAVIR_SOURCE_DIR "/config/config.rc",
                                 ZAVIR_SOURCE_DIR "/config/resource.h");
    }
    void SetUp() override {
        fake::Reset();
        fake::RegPutString("HKLM\\hardware\\devicemap\\serialcomm", "\\Device\\Serial0", "COM1");
        fake::RegPutString("HKLM\\hardware\\devicemap\\serialcomm", "\\Device\\Serial1", "COM2");
        fake::AddComPort(2);
        fake::RegPutDword(kKey, "ComPort", 1);
        fake::RegPutDword(kKey, "ComBase", 0x2E8);
        fake::RegPutDword(kKey, "ComIrq", 10);
    }

    static void Run(std::function<void(HWND)> script) {
        fake::OnDialog(IDD_FINDER, script);
        DialogBoxParamA(fake::Instance(), MAKEINTRESOURCEA(IDD_FINDER), NULL, FinderDialogProc, 0);
        EXPECT_EQ(fake::DialogsLeftOpen(), 0);
    }

    // Every setting in turn, fed while it listens.
    static void Search(HWND d) {
        fake::Click(d, IDC_FINDER_START);
        for (int setting = 0; setting < 4; ++setting) {
            fake::FeedSerial(2, setting == 1 ? Join({kTouch, kRelease, kTouch})
                                             : Bytes{0x81, 0x33, 0xFF, 0x90});
            fake::PassTime(FINDER_LISTEN_MS);
            fake::Tick(d, 1);
        }
    }
};

TEST_F(FinderPageTest, NamesTheCleanSettingStoresItAndNeverWrites) {
    Run([](HWND d) {
        Search(d);
        EXPECT_TRUE(fake::Timers().empty());
        EXPECT_EQ(fake::Text(d, IDC_FINDER_STATUS), "Controller found on COM 2 at 9600 baud");
        EXPECT_THAT(fake::Text(d, IDC_FINDER_TABLE),
                    HasSubstr("COM 1\tnot open\tnot open\tnot open\tnot open\r\n"
                              "COM 2\t0/0/4\t2/1/0\t0/0/4\t0/0/4"));
        EXPECT_EQ(fake::SerialPort(2).dcb.BaudRate, 1200u);
        EXPECT_FALSE(fake::SerialPort(2).open);
        fake::Click(d, IDC_FINDER_STORE);
        EXPECT_THAT(fake::Text(d, IDC_FINDER_STATUS), HasSubstr("Stored: COM 2 at 9600 baud"));
        fake::Click(d, IDC_FINDER_CLOSE);
    });
    EXPECT_EQ(fake::RegDword(kKey, "ComPort"), 2u);
    EXPECT_EQ(fake::RegDword(kKey, "ComBase"), 0x2F8u);
    EXPECT_EQ(fake::RegDword(kKey, "ComIrq"), 3u);
    EXPECT_EQ(fake::RegDword(kKey, "ComBaud"), 9600u);
    EXPECT_EQ(fake::RegValueNames(kKey).size(), 4u);
    EXPECT_EQ(fake::CountOf("WriteFile"), 0u);
    EXPECT_EQ(fake::CountOf("PurgeComm"), 4u);
    EXPECT_TRUE(fake::MessageBoxes().empty());
}

TEST_F(FinderPageTest, TheStoredPortKeepsItsBaseAndIrq) {
    fake::RegPutDword(kKey, "ComPort", 2);
    Run([](HWND d) {
        Search(d);
        fake::Click(d, IDC_FINDER_STORE);
        EXPECT_THAT(fake::Text(d, IDC_FINDER_STATUS), HasSubstr("9600 baud, base 0x2E8, IRQ 10,"));
        fake::Click(d, IDC_FINDER_CLOSE);
    });
    EXPECT_EQ(fake::RegDword(kKey, "ComBase"), 0x2E8u);
    EXPECT_EQ(fake::RegDword(kKey, "ComIrq"), 10u);
    EXPECT_EQ(fake::RegDword(kKey, "ComBaud"), 9600u);

    // Not stored: the found port's own, never left for COM1's defaults.
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\corvale\\zavir", 0, KEY_ALL_ACCESS,
                            &key), ERROR_SUCCESS);
    RegDeleteValueA(key, "ComIrq");
    RegCloseKey(key);
    Run([](HWND d) {
        Search(d);
        fake::Click(d, IDC_FINDER_STORE);
        fake::Click(d, IDC_FINDER_CLOSE);
    });
    EXPECT_EQ(fake::RegDword(kKey, "ComBase"), 0x2F8u);
    EXPECT_EQ(fake::RegDword(kKey, "ComIrq"), 3u);
}

TEST_F(FinderPageTest, StopAndCloseEndTheSearchAndFreeThePort) {
    Run([](HWND d) {
        fake::Click(d, IDC_FINDER_START);
        fake::FeedSerial(2, kRelease);
        fake::Click(d, IDC_FINDER_STOP);
        EXPECT_TRUE(fake::Timers().empty());
        EXPECT_FALSE(fake::SerialPort(2).open);
        EXPECT_THAT(fake::Text(d, IDC_FINDER_TABLE), HasSubstr("COM 2\t0/1/0\t-\t-\t-"));
        EXPECT_EQ(fake::Text(d, IDC_FINDER_STATUS), "Controller found on COM 2 at 19200 baud");
        fake::Click(d, IDC_FINDER_START);
        EXPECT_TRUE(fake::SerialPort(2).open);
        fake::PressEscape(d);
        EXPECT_FALSE(fake::SerialPort(2).open);
    });
}

// TOUCH started since the page opened: Start says so and opens no port.
TEST_F(FinderPageTest, StartBesideATouchServiceStartedSinceOpensNothing) {
    Run([](HWND d) {
        fake::AddForeignWindow("Halvern Driver", "Halvern");
        fake::ClearCalls();
        fake::Click(d, IDC_FINDER_START);
        EXPECT_THAT(fake::Text(d, IDC_FINDER_STATUS), HasSubstr("TOUCH.EXE runs and holds"));
        EXPECT_FALSE(fake::Window(GetDlgItem(d, IDC_FINDER_START)).visible);
        EXPECT_EQ(fake::CountOf("CreateFileA"), 0u);
        EXPECT_TRUE(fake::Timers().empty());
        fake::Click(d, IDC_FINDER_CLOSE);
    });
}

}  // namespace
