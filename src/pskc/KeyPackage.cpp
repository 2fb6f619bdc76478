#include "pskc/KeyPackage.h"

namespace pskc {

KeyPackage make_key_package(const TokenDescription& token, std::string deviceSerial)
{
    KeyPackage package;
    package.keyId = token.serial;
    package.algorithm = token.algorithm;
    package.hash = token.hash;
    package.digits = token.digits;
    if (token.algorithm == OtpAlgorithm::Hotp)
        package.counter = 0;
    else
        package.interval = token.interval;
    package.userId = token.user;
    package.deviceSerial = std::move(deviceSerial);
    package.secret = token.seed;
    return package;
}

} // namespace pskc
