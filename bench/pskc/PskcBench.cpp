// Adding a token to a PSKC file means reading it whole, deriving the key from
// the password, verifying and decrypting every value, then writing the file
// again. For files of 1,000 and 10,000 tokens this program times one such
// add with a password and with a pre-shared key, and times the PBKDF2 key
// derivation on its own, which does not grow with the file.

#include "pskc/PskcFile.h"
#include "records/FolderLock.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

using namespace otp;
using namespace otp::core;
using namespace otp::pskc;
using namespace otp::records;

namespace fs = std::filesystem;
using namespace pskc;

namespace {

using Clock = std::chrono::steady_clock;

KeyPackage makeToken(int n)
{
    const bool sha256 = n % 2;
    SecretBytes seed(sha256 ? 32 : 20);
    for (std::size_t i = 0; i < seed.size(); ++i)
        seed.data()[i] = static_cast<uint8_t>(n * 31 + static_cast<int>(i));
    char serial[16];
    std::snprintf(serial, sizeof serial, "BK%011d", n);
    return make_key_package({n % 3 ? OtpAlgorithm::Totp : OtpAlgorithm::Hotp,
                             sha256 ? OtpHash::Sha256 : OtpHash::Sha1, sha256 ? 8 : 6, 30, serial,
                             std::move(seed), n % 5 ? "" : "user" + std::to_string(n)},
                            "VT20240611");
}

bool prepare(const fs::path& path, const Credential& credential, Profile profile, int count)
{
    auto container = Container::create(credential, {.profile = profile});
    if (!container)
        return false;
    for (int n = 0; n < count; ++n)
        if (!container->add(makeToken(n)))
            return false;
    return static_cast<bool>(save_container(*container, path));
}

double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The median time of one add to the file, opening and the folder's lock
// included.
double timeAdd(const fs::path& path, const Credential& credential, int count, int runs)
{
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        const auto start = Clock::now();
        const auto lock = FolderLock::acquire(path.parent_path());
        auto update = ContainerUpdate::open(path, credential);
        if (!lock || !update || !update->add(makeToken(count + run))) {
            std::fprintf(stderr, "cannot add to %s: %s\n", path.c_str(),
                         !lock    ? lock.error().detail.c_str()
                         : update ? "write failed"
                                  : update.error().detail.c_str());
            std::exit(1);
        }
        times.push_back(millisecondsSince(start));
    }
    return median(times);
}

} // namespace

int main()
{
    const Credential password = Password("benchmark password");
    const int runs = 5;

    // Each profile's key derivation on its own.
    const SecretBytes salt(kSaltLength);
    for (const auto& [prf, length] : {std::pair{MacAlgorithm::HmacSha1, std::size_t(16)},
                                      std::pair{MacAlgorithm::HmacSha256, std::size_t(32)}}) {
        std::vector<double> derivation;
        for (int run = 0; run < runs; ++run) {
            const auto start = Clock::now();
            if (!pbkdf2(std::get<Password>(password), salt.view(), kMinimumIterations, prf,
                        length)) {
                std::fprintf(stderr, "PBKDF2 failed\n");
                return 1;
            }
            derivation.push_back(millisecondsSince(start));
        }
        std::printf("PBKDF2-%s, %d iterations, %zu-byte key: %.2f ms\n", label(prf).c_str(),
                    kMinimumIterations, length, median(derivation));
    }

    // The key file column is the same work without the key derivation; the
    // interop file's key is AES-128, the strong one's AES-256.
    std::printf("\n%8s %8s %12s %16s %16s\n", "profile", "tokens", "file bytes", "password (ms)",
                "key file (ms)");
    const fs::path dir = fs::temp_directory_path() / ("bench-pskc-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    for (const Profile profile : {Profile::Interop, Profile::Strong}) {
        PresharedKey key;
        key.key = SecretBytes(profile == Profile::Interop ? 16 : 32);
        key.name = "bench.key";
        const Credential preshared = key;
        for (int count : {1000, 10000}) {
            const fs::path withPassword = dir / "password.pskc";
            const fs::path withKey = dir / "key.pskc";
            if (!prepare(withPassword, password, profile, count) ||
                !prepare(withKey, preshared, profile, count)) {
                std::fprintf(stderr, "cannot prepare containers of %d tokens\n", count);
                return 1;
            }
            const auto bytes = fs::file_size(withPassword);
            const double passwordTime = timeAdd(withPassword, password, count, runs);
            const double keyTime = timeAdd(withKey, preshared, count, runs);
            std::printf("%8s %8d %12ju %16.2f %16.2f\n", profile_name(profile).data(), count,
                        static_cast<uintmax_t>(bytes), passwordTime, keyTime);
        }
    }
    fs::remove_all(dir);
    return 0;
}
