#include "programming/PskcRecorder.h"

std::expected<PskcRecorder, pskc::Error> PskcRecorder::open(const std::filesystem::path& path,
                                                            const pskc::Credential& credential)
{
    auto update = pskc::ContainerUpdate::open(path, credential);
    if (!update)
        return std::unexpected(update.error());
    return PskcRecorder(path, std::move(*update));
}

std::expected<void, QString> PskcRecorder::record(const SeedFileToken& token)
{
    const pskc::KeyPackage package = pskc::make_key_package(
        token.serial,
        token.algorithm == OtpAlgorithm::Hotp ? pskc::OtpKind::Hotp : pskc::OtpKind::Totp,
        token.hash == OtpHash::Sha1 ? pskc::OtpHash::Sha1 : pskc::OtpHash::Sha256, token.digits,
        token.interval, pskc::SecretBytes(token.seed), token.userName.toStdString(), m_keySerial);
    if (auto added = m_update.add(package); !added)
        return std::unexpected(
            QStringLiteral("Failed to record the new token in the PSKC file: %1\r\n")
                .arg(QString::fromStdString(added.error().message)));
    return {};
}

QStringList PskcRecorder::destinations(const SeedFileToken&) const
{
    return {QString::fromStdString(m_path.string())};
}
