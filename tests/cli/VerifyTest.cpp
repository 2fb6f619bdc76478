// --verify against a key that stores a seed other than the one recorded.

#include "programming/ProgramToken.h"
#include "support/ForwardingDevice.h"
#include "support/VirtualKeyDevice.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// Programs the token with its last seed byte changed.
class SeedSpoilingDevice final : public ForwardingDevice
{
public:
    using ForwardingDevice::ForwardingDevice;
    bool spoil = false;
    uint32_t OtpPersonalize(OtpTokenRecord record, const char* access, uint32_t accessLen,
                            uint8_t flag) override
    {
        if (spoil)
            record.seed[record.seedLength - 1] ^= 1;
        return ForwardingDevice::OtpPersonalize(record, access, accessLen, flag);
    }
};

TEST(Verify, CatchesAKeyThatStoredAnotherSeed)
{
    for (const bool spoil : {false, true}) {
        VirtualKeyDevice key("VK1000001");
        SeedSpoilingDevice device(key);
        device.spoil = spoil;
        QTemporaryDir seeds;
        SeedFileRecorder files(seeds.path());
        TokenRecorder* const recorders[] = {&files};
        for (const int hash : {0, 1}) {
            NewTokenForm form;
            form.hashChoice = hash;
            form.serialText = QStringLiteral("T%1").arg(hash);
            form.seedText = *generate_seed_text(hash == 0 ? OtpHash::Sha1 : OtpHash::Sha256);
            const auto programmed = program_token(device, "", form, recorders, {});
            ASSERT_TRUE(programmed.has_value());
            const auto verified = verify_token(device, programmed->token, "", std::time(nullptr));
            EXPECT_EQ(verified.has_value(), !spoil);
            if (spoil) {
                EXPECT_EQ(verified.error().fault, Fault::Mismatch);
            }
        }
    }
}

} // namespace
