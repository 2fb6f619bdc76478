#include "export/KeyPackage.h"

namespace pskc {

KeyPackage make_key_package(std::string serial, OtpKind kind, OtpHash hash, int digits,
                            int interval, SecretBytes seed, std::string userName,
                            std::string deviceSerial)
{
    KeyPackage package;
    package.keyId = std::move(serial);
    package.kind = kind;
    package.hash = hash;
    package.digits = digits;
    if (kind == OtpKind::Hotp)
        package.counter = 0;
    else
        package.interval = interval;
    package.userId = std::move(userName);
    package.deviceSerial = std::move(deviceSerial);
    package.secret = std::move(seed);
    return package;
}

} // namespace pskc
