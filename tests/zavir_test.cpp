// The driver contract: how the device is opened and what each request
// carries, over the device and over the stand-in's pipe.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/mman.h>

#include "hostfake.h"
#include "zavir.h"
#include "zavir_wire.h"

using ::testing::ElementsAre;

namespace {

class ZavirTest : public ::testing::Test {
   protected:
    void SetUp() override { fake::Reset(); }
};

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
    ZavirDriver d;
    ASSERT_TRUE(OpenZavirDriver(&d));
    EXPECT_FALSE(d.viaStandIn);
    EXPECT_THAT(fake::ArgsOf("CreateFileA"),
                ElementsAre("\"\\\\.\\ZAVIR.VXD\", access=0x0, share=0, sa=NULL, disposition=1, "
                            "flags=0x4000000, template=NULL"));
    CloseZavirDriver(&d);
    EXPECT_EQ(fake::OpenDriverHandles(), 0);
    EXPECT_FALSE(IsZavirDriverOpen(&d));
}

TEST_F(ZavirTest, FallsBackToTheStandInOnlyWhenTheDeviceFails) {
    fake::SetStandInPresent(true);
    ZavirDriver d;
    ASSERT_TRUE(OpenZavirDriver(&d));
    EXPECT_TRUE(d.viaStandIn);
    std::vector<std::string> opens = fake::ArgsOf("CreateFileA");
    ASSERT_EQ(opens.size(), 2u);
    EXPECT_THAT(opens[0], ::testing::StartsWith("\"\\\\.\\ZAVIR.VXD\""));
    EXPECT_THAT(opens[1], ::testing::StartsWith("\"\\\\.\\pipe\\ZAVIREMU\""));
    CloseZavirDriver(&d);
}

TEST_F(ZavirTest, NeitherDeviceNorStandInFailsTheOpen) {
    ZavirDriver d;
    EXPECT_FALSE(OpenZavirDriver(&d));
    EXPECT_FALSE(IsZavirDriverOpen(&d));
    EXPECT_FALSE(ZavirRequest(&d, kHandOverRequest, nullptr, 0, nullptr, 0));
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
    EXPECT_TRUE(fake::DeviceRequests().empty());
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
}

}  // namespace
