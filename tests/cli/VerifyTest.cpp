// --verify against a key that holds a seed other than the one recorded.

#include "programming/ProgramToken.h"
#include "support/VirtualKeyDevice.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

TEST(Verify, CatchesARecordWhoseSeedIsNotTheKeys)
{
    VirtualKeyDevice key("VK1000001");
    QTemporaryDir seeds;
    SeedFileRecorder files(seeds.path());
    TokenRecorder* const recorders[] = {&files};
    for (const int hash : {0, 1}) {
        NewTokenForm form;
        form.hashChoice = hash;
        form.serialText = QStringLiteral("T%1").arg(hash);
        form.seedText = *generate_seed_text(hash == 0 ? OtpHash::Sha1 : OtpHash::Sha256);
        const auto programmed = program_token(key, "", form, recorders, {});
        ASSERT_TRUE(programmed.has_value());
        for (const bool spoil : {false, true}) {
            SeedFileToken recorded = programmed->token;
            if (spoil)
                recorded.seed.back() ^= 1;
            const auto verified = verify_token(key, recorded, "", std::time(nullptr));
            EXPECT_EQ(verified.has_value(), !spoil) << hash;
            if (spoil && !verified) {
                EXPECT_EQ(verified.error().fault, Fault::Mismatch);
            }
        }
    }
}

} // namespace
