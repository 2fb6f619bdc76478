#include "core/Secret.h"

#include <openssl/crypto.h>

#include <sys/prctl.h>
#include <sys/resource.h>

#include <utility>

namespace otp::core {

void wipe(void* data, std::size_t size)
{
    if (data && size)
        OPENSSL_cleanse(data, size);
}

void disable_core_dumps()
{
    const rlimit none{0, 0};
    ::setrlimit(RLIMIT_CORE, &none);
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

SecretBytes& SecretBytes::operator=(const SecretBytes& other)
{
    if (this != &other) {
        wipe(m_bytes.data(), m_bytes.size());
        m_bytes = other.m_bytes;
    }
    return *this;
}

SecretBytes& SecretBytes::operator=(SecretBytes&& other) noexcept
{
    if (this != &other) {
        wipe(m_bytes.data(), m_bytes.size());
        m_bytes = std::move(other.m_bytes);
    }
    return *this;
}

void SecretBytes::truncate(std::size_t size)
{
    if (size >= m_bytes.size())
        return;
    wipe(m_bytes.data() + size, m_bytes.size() - size);
    m_bytes.resize(size);
}

Password& Password::operator=(Password other) noexcept
{
    // The old text leaves with `other`, whose destructor wipes it.
    std::swap(m_text, other.m_text);
    return *this;
}

bool operator==(const SecretBytes& a, const SecretBytes& b)
{
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

} // namespace otp::core
