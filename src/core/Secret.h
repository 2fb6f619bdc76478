#pragma once

// Owning holders for secrets (seeds, keys, passwords, PINs) that wipe their
// memory when they go away, so a secret does not linger in freed heap blocks.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace otp::core {

void wipe(void* data, std::size_t size);

// Switches core dumps off for this process, which holds seeds, PINs and
// passwords in memory: no core file, whatever `ulimit -c` says, and no
// dump or ptrace attach by another process of the same account. Each
// program calls it first thing in main().
void disable_core_dumps();

class SecretBytes
{
public:
    SecretBytes() = default;
    explicit SecretBytes(std::size_t size) : m_bytes(size) {}
    explicit SecretBytes(std::span<const uint8_t> bytes) : m_bytes(bytes.begin(), bytes.end()) {}
    SecretBytes(const SecretBytes&) = default;
    SecretBytes(SecretBytes&& other) noexcept : m_bytes(std::move(other.m_bytes)) {}
    SecretBytes& operator=(const SecretBytes& other);
    SecretBytes& operator=(SecretBytes&& other) noexcept;
    ~SecretBytes() { wipe(m_bytes.data(), m_bytes.size()); }

    uint8_t* data() { return m_bytes.data(); }
    const uint8_t* data() const { return m_bytes.data(); }
    std::size_t size() const { return m_bytes.size(); }
    bool empty() const { return m_bytes.empty(); }
    // Shrinks without reallocating, so the cut-off tail is wiped in place.
    void truncate(std::size_t size);
    std::span<const uint8_t> view() const { return m_bytes; }

    friend bool operator==(const SecretBytes& a, const SecretBytes& b);

private:
    std::vector<uint8_t> m_bytes;
};

// A password as typed: UTF-8 text, wiped on destruction.
class Password
{
public:
    Password() = default;
    explicit Password(std::string_view text) : m_text(text) {}
    Password(const Password&) = default;
    // Short strings live inside the object, so a move copies the text:
    // the source is wiped, not just emptied.
    Password(Password&& other) : m_text(other.m_text) { other.clear(); }
    Password& operator=(Password other) noexcept;
    ~Password() { clear(); }

    std::string_view text() const { return m_text; }
    bool empty() const { return m_text.empty(); }

private:
    void clear()
    {
        wipe(m_text.data(), m_text.capacity());
        m_text.clear();
    }

    std::string m_text;
};

} // namespace otp::core
