// The settings record's four access patterns against the host registry.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "hostfake.h"
#include "settings.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

namespace {

const char* kKey = "HKLM\\software\\corvale\\zavir";

const LONG kDefaults[kSettingCount] = {0, 0, 1024, 0, 1024, 1024, 0, 1024, 1, 1016,
                                       4, 9600, 1, 0, 2, 2, 1, 0, 0};

std::vector<std::string> AllNames() {
    std::vector<std::string> names;
    for (int i = 0; i < kSettingCount; ++i) names.push_back(SettingName(i));
    return names;
}

std::vector<std::string> NamesIn(SettingMask mask) {
    std::vector<std::string> names;
    for (int i = 0; i < kSettingCount; ++i)
        if (mask & SETTING_BIT(i)) names.push_back(SettingName(i));
    return names;
}

// Names of the values queried, in call order.
std::vector<std::string> QueriedNames() {
    std::vector<std::string> names;
    for (const std::string& a : fake::ArgsOf("RegQueryValueExA")) {
        size_t q = a.find('"');
        names.push_back(a.substr(q + 1, a.find('"', q + 1) - q - 1));
    }
    return names;
}

// Fills the record with a marker so that untouched fields show.
TouchSettings Marked() {
    TouchSettings s;
    for (int i = 0; i < kSettingCount; ++i) *SettingField(&s, i) = 7000 + i;
    return s;
}

// A token of Vista or later, its registry writes virtualized or not.
void Standing(DWORD virtualized) {
    fake::TokenStanding standing;
    standing.known = true;
    standing.virtualized = virtualized;
    fake::SetTokenStanding(standing);
}

class SettingsTest : public ::testing::Test {
   protected:
    void SetUp() override { fake::Reset(); }
};

TEST_F(SettingsTest, RecordIsNineteenLongsInTableOrder) {
    static_assert(sizeof(TouchSettings) == 19 * 4, "plain record of nineteen 32-bit values");
    TouchSettings s{};
    EXPECT_EQ(SettingField(&s, kComBaud), &s.ComBaud);
    EXPECT_EQ(SettingField(&s, kFirst), &s.First);
    EXPECT_STREQ(SettingName(-1), "");
    EXPECT_STREQ(SettingName(kSettingCount), "");
    EXPECT_EQ(SettingDefault(-1), 0);
    EXPECT_EQ(SettingDefault(kSettingCount), 0);
    EXPECT_THAT(AllNames(),
                ElementsAre("LeftUpX", "LeftUpY", "RightUpX", "RightUpY", "RightDnX", "RightDnY",
                            "LeftDnX", "LeftDnY", "ComPort", "ComBase", "ComIrq", "ComBaud",
                            "Mode", "RightButton", "BB_Len", "BB_st", "BB_Lst", "Beep", "First"));
}

TEST_F(SettingsTest, EachProgramsValueSet) {
    EXPECT_THAT(NamesIn(kTouchValues),
                ElementsAre("LeftUpX", "LeftUpY", "RightUpX", "RightUpY", "RightDnX", "RightDnY",
                            "LeftDnX", "LeftDnY", "ComPort", "ComBaud", "Mode", "RightButton",
                            "Beep"));
    EXPECT_THAT(NamesIn(kTrueposValues),
                ElementsAre("LeftUpX", "LeftUpY", "RightUpX", "RightUpY", "RightDnX", "RightDnY",
                            "LeftDnX", "LeftDnY", "ComPort", "ComBase", "ComIrq", "Mode",
                            "RightButton"));
    EXPECT_EQ(NamesIn(kSetupReadValues).size(), 16u);
    EXPECT_EQ(NamesIn(kAllValues).size(), 19u);
}

TEST_F(SettingsTest, CleanCreateWritesTheNineteenDefaultsInRecordOrder) {
    TouchSettings s = Marked();
    BOOL created = FALSE;
    CreateOrLoadSettings(&s, &created);
    EXPECT_TRUE(created);
    EXPECT_THAT(fake::RegValueNames(kKey), ElementsAreArray(AllNames()));
    for (int i = 0; i < kSettingCount; ++i) {
        EXPECT_EQ(fake::RegType(kKey, SettingName(i)), (DWORD)REG_DWORD) << SettingName(i);
        EXPECT_EQ(fake::RegDword(kKey, SettingName(i)), (DWORD)kDefaults[i]) << SettingName(i);
        EXPECT_EQ(*SettingField(&s, i), kDefaults[i]) << SettingName(i);
    }
    EXPECT_THAT(fake::ArgsOf("RegCreateKeyExA"),
                ElementsAre("HKLM\\software\\corvale\\zavir, class=NULL, options=0, "
                            "KEY_ALL_ACCESS, sa=NULL"));
    EXPECT_TRUE(fake::RegKeyExists("HKLM\\software\\corvale"));
    EXPECT_EQ(fake::CountOf("RegQueryValueExA"), 0u);
    EXPECT_EQ(fake::CountOf("RegCloseKey"), 1u);
}

TEST_F(SettingsTest, CreateOverAnExistingKeyLoadsSixteenAndResetsTheConstants) {
    fake::RegPutDword(kKey, "LeftUpX", 33);
    fake::RegPutDword(kKey, "ComPort", 2);
    fake::RegPutDword(kKey, "BB_Len", 5);
    fake::RegPutDword(kKey, "First", 1);
    TouchSettings s = Marked();
    BOOL created = TRUE;
    CreateOrLoadSettings(&s, &created);
    EXPECT_FALSE(created);
    EXPECT_EQ(s.LeftUpX, 33);
    EXPECT_EQ(s.ComPort, 2);
    EXPECT_EQ(s.First, 1);
    EXPECT_EQ(s.RightUpX, 1024);  // missing: default
    EXPECT_EQ(s.BB_Len, 2);
    EXPECT_EQ(s.BB_st, 2);
    EXPECT_EQ(s.BB_Lst, 1);
    EXPECT_THAT(QueriedNames(), ElementsAreArray(NamesIn(kSetupReadValues)));
    EXPECT_EQ(fake::CountOf("RegSetValueExA"), 0u);  // nothing written until a save
}

TEST_F(SettingsTest, CreateThatCanNotOpenTheKeyHoldsDefaultsAndWritesNothing) {
    fake::RegDenyOpen(kKey);
    TouchSettings s = Marked();
    BOOL created = TRUE;
    CreateOrLoadSettings(&s, &created);
    EXPECT_FALSE(created);
    for (int i = 0; i < kSettingCount; ++i) EXPECT_EQ(*SettingField(&s, i), kDefaults[i]);
    EXPECT_EQ(fake::CountOf("RegSetValueExA"), 0u);
}

TEST_F(SettingsTest, LoadTakesAnyFourByteValueAsItsNumberAndDefaultsTheRest) {
    fake::RegPutDword(kKey, "LeftUpX", (DWORD)-5);
    fake::RegPut(kKey, "LeftUpY", REG_BINARY, {0x10, 0x27, 0, 0});    // 10000
    fake::RegPut(kKey, "RightUpX", REG_SZ, {'1', '2', '3', 0});        // "123" as bytes
    fake::RegPutString(kKey, "LeftDnY", "a longer text value");        // too long
    fake::RegPut(kKey, "RightDnX", REG_BINARY, {1, 2, 3});              // too short
    fake::RegPut(kKey, "RightDnY", REG_BINARY, {1, 2, 3, 4, 5});        // too long
    TouchSettings s = Marked();
    EXPECT_TRUE(LoadSettingValues(&s, kAllValues));
    EXPECT_EQ(s.LeftUpX, -5);
    EXPECT_EQ(s.LeftUpY, 10000);
    EXPECT_EQ(s.RightUpX, 0x00333231);
    EXPECT_EQ(s.LeftDnY, 1024);
    EXPECT_EQ(s.RightDnX, 1024);
    EXPECT_EQ(s.RightDnY, 1024);
    EXPECT_EQ(s.ComBaud, 9600);
    EXPECT_EQ(s.BB_Len, 2);  // missing values take their defaults
    for (const std::string& a : fake::ArgsOf("RegQueryValueExA"))
        EXPECT_THAT(a, ::testing::EndsWith("size=4"));
    EXPECT_THAT(fake::RegAccessMasks(), ElementsAre((REGSAM)KEY_ALL_ACCESS));
}

// Full access first; read access only where full access is refused.
TEST_F(SettingsTest, LoadFallsBackToReadAccessOnlyWhenFullAccessIsRefused) {
    struct {
        void (*arrange)();
        BOOL loaded, saved;
        std::vector<std::string> opens;
    } cases[] = {
        {[] {}, TRUE, TRUE, {"KEY_ALL_ACCESS"}},
        {[] { fake::RegReadOnly(kKey); }, TRUE, FALSE, {"KEY_ALL_ACCESS", "KEY_READ"}},
        {[] { fake::RegDenyOpen(kKey); }, FALSE, FALSE, {"KEY_ALL_ACCESS", "KEY_READ"}},
        {[] { RegDeleteKeyA(HKEY_LOCAL_MACHINE, "software\\corvale\\zavir"); }, FALSE, FALSE,
         {"KEY_ALL_ACCESS"}},
        // Vista on: writes the system would put in the user's own copy are
        // never made; a token that isn't virtualized saves.
        {[] { Standing(0); }, TRUE, TRUE, {"KEY_ALL_ACCESS"}},
        {[] { Standing(1); }, TRUE, FALSE, {"KEY_ALL_ACCESS"}},
    };
    for (const auto& c : cases) {
        fake::Reset();
        fake::RegPutDword(kKey, "ComPort", 3);
        c.arrange();
        fake::ClearCalls();
        TouchSettings s = Marked();
        EXPECT_EQ(LoadSettingValues(&s, kTouchValues), c.loaded);
        EXPECT_EQ(s.ComPort, c.loaded ? 3 : 7000 + kComPort);
        std::vector<std::string> opens;
        for (const std::string& a : fake::ArgsOf("RegOpenKeyExA"))
            opens.push_back(a.substr(a.rfind(' ') + 1));
        EXPECT_EQ(opens, c.opens);
        s.ComPort = 4;
        EXPECT_EQ(SaveSettingValues(&s, kTouchValues), c.saved);
        EXPECT_EQ(fake::RegDword(kKey, "ComPort").value_or(3), c.saved ? 4u : 3u);
    }
}

TEST_F(SettingsTest, LoadOfAMissingKeyLeavesTheRecordUntouched) {
    TouchSettings s = Marked();
    EXPECT_FALSE(LoadSettingValues(&s, kTouchValues));
    for (int i = 0; i < kSettingCount; ++i) EXPECT_EQ(*SettingField(&s, i), 7000 + i);
    EXPECT_EQ(fake::CountOf("RegQueryValueExA"), 0u);
    EXPECT_EQ(fake::CountOf("RegCloseKey"), 0u);
}

TEST_F(SettingsTest, LoadReadsOnlyItsSetInRecordOrder) {
    fake::RegMakeKey(kKey);
    TouchSettings s = Marked();
    LoadSettingValues(&s, kTouchValues);
    EXPECT_THAT(QueriedNames(), ElementsAreArray(NamesIn(kTouchValues)));
    EXPECT_EQ(s.ComBase, 7000 + kComBase);  // not in the set
    EXPECT_EQ(s.ComPort, 1);
}

TEST_F(SettingsTest, SaveWritesItsSetAsDwordsAndNeverCreatesTheKey) {
    TouchSettings s{};
    s.ComPort = 3;
    EXPECT_FALSE(SaveSettingValues(&s, kTrueposValues));
    EXPECT_FALSE(fake::RegKeyExists(kKey));
    EXPECT_EQ(fake::CountOf("RegCreateKeyExA"), 0u);

    fake::RegPutDword(kKey, "ComBaud", 19200);
    s.LeftUpX = -12;
    EXPECT_TRUE(SaveSettingValues(&s, kTrueposValues));
    std::vector<std::string> expected = NamesIn(kTrueposValues);
    expected.insert(expected.begin(), "ComBaud");  // was there before
    EXPECT_THAT(fake::RegValueNames(kKey), ElementsAreArray(expected));
    EXPECT_EQ(fake::RegDword(kKey, "LeftUpX"), (DWORD)-12);
    EXPECT_EQ(fake::RegDword(kKey, "ComPort"), 3u);
    EXPECT_EQ(fake::RegDword(kKey, "ComBaud"), 19200u);  // not the tool's to write
    EXPECT_EQ(fake::CountOf("RegSetValueExA"), 13u);
}

TEST_F(SettingsTest, RemoveDeletesValuesInOrderThenTheKeyThenItsParent) {
    TouchSettings s{};
    BOOL created;
    CreateOrLoadSettings(&s, &created);
    fake::ClearCalls();
    RemoveSettings();
    std::vector<std::string> deleted;
    for (const std::string& a : fake::ArgsOf("RegDeleteValueA"))
        deleted.push_back(a.substr(a.rfind(", ") + 2));
    EXPECT_THAT(deleted, ElementsAreArray(AllNames()));
    EXPECT_THAT(fake::ArgsOf("RegDeleteKeyA"),
                ElementsAre("HKLM\\software\\corvale\\zavir", "HKLM\\software\\corvale"));
    EXPECT_FALSE(fake::RegKeyExists("HKLM\\software\\corvale"));
    EXPECT_TRUE(fake::RegKeyExists("HKLM\\software"));
}

TEST_F(SettingsTest, RemoveKeepsTheParentWhileItHoldsAnotherProduct) {
    TouchSettings s{};
    BOOL created;
    CreateOrLoadSettings(&s, &created);
    fake::RegPutDword("HKLM\\software\\corvale\\other", "Keep", 1);
    RemoveSettings();
    EXPECT_FALSE(fake::RegKeyExists(kKey));
    EXPECT_EQ(fake::RegDword("HKLM\\software\\corvale\\other", "Keep"), 1u);
}

TEST_F(SettingsTest, RemoveKeepsTheParentWhileItHoldsAValue) {
    // A name too long for the enumeration's buffer still counts.
    for (size_t length : {7u, 259u, 260u}) {
        fake::Reset();
        TouchSettings s{};
        BOOL created;
        CreateOrLoadSettings(&s, &created);
        const std::string name(length, 'L');
        fake::RegPutDword("HKLM\\software\\corvale", name, 7);
        RemoveSettings();
        EXPECT_FALSE(fake::RegKeyExists(kKey)) << length;
        EXPECT_EQ(fake::RegDword("HKLM\\software\\corvale", name), 7u) << length;
    }
}

TEST_F(SettingsTest, RemoveOnAMissingKeyTouchesNothing) {
    fake::RegMakeKey("HKLM\\software\\corvale");
    RemoveSettings();
    EXPECT_EQ(fake::CountOf("RegDeleteValueA"), 0u);
    EXPECT_EQ(fake::CountOf("RegDeleteKeyA"), 0u);
    EXPECT_TRUE(fake::RegKeyExists("HKLM\\software\\corvale"));
}

}  // namespace
