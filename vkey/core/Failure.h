#pragma once

// How the virtual key reports a failure inside the core: the status the
// device library answers, and a sentence for the vnkey user. The sentence
// never carries a seed or an access code.

#include <VN_Manager.h>

#include <cstdint>
#include <expected>
#include <string>

namespace vkey {

struct Failure
{
    uint32_t status = VN_ERR_STORAGE;
    std::string what;
};

template <typename T> using Result = std::expected<T, Failure>;

inline std::unexpected<Failure> fail(uint32_t status, std::string what)
{
    return std::unexpected(Failure{status, std::move(what)});
}

} // namespace vkey
