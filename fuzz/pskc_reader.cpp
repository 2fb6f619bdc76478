// A PSKC container from anyone: reading it with a password or a pre-shared
// key either gives an error or a container; a container read is written back
// to XML that reads as the same tokens, and a token added to it reads back
// after them.

#include "FuzzCheck.h"
#include "pskc/ContainerState.h"
#include "pskc/PskcContainer.h"

#include <charconv>
#include <string>
#include <string_view>
#include <vector>

using namespace otp;
using namespace otp::core;
using namespace otp::pskc;

namespace {

using namespace pskc;

// PBKDF2 costs time in proportion to its iteration count, up to seconds at
// the reader's limit; the corpus uses a handful, and inputs asking for more
// than this are passed over so that the run explores the parser instead.
constexpr long long kMaximumFuzzIterations = 1000;

bool asks_many_iterations(std::string_view xml)
{
    pugi::xml_document document;
    if (!document.load_buffer(xml.data(), xml.size(), pugi::parse_default | pugi::parse_declaration,
                              pugi::encoding_auto))
        return false;
    const pugi::xml_node found = document.find_node([](pugi::xml_node node) {
        if (node.type() != pugi::node_element || local_name(node) != "IterationCount")
            return false;
        std::string_view text = node.text().get();
        const auto first = text.find_first_not_of(" \t\r\n");
        if (first == std::string_view::npos)
            return false;
        text = text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
        long long count = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), count);
        return ec == std::errc::result_out_of_range ||
               (ec == std::errc() && count > kMaximumFuzzIterations);
    });
    return static_cast<bool>(found);
}

Credential credential_for(uint8_t choice)
{
    // The corpus files were written with these: the password, and the keys
    // 00 01 02 ... of 16 and 32 bytes.
    if (choice % 3 == 0)
        return Password("fuzz password");
    SecretBytes key(choice % 3 == 1 ? 16 : 32);
    for (std::size_t i = 0; i < key.size(); ++i)
        key.data()[i] = static_cast<uint8_t>(i);
    return PresharedKey{std::move(key), "fuzz key"};
}

std::string unused_key_id(const Container& container)
{
    std::string id = "VT2024061199";
    while (container.contains(id))
        id += "9";
    return id;
}

} // namespace

// First byte: the credential; the rest: the container's bytes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const std::string_view xml(reinterpret_cast<const char*>(data + 1), size - 1);
    if (asks_many_iterations(xml))
        return 0;
    const Credential credential = credential_for(data[0]);

    auto container = Container::parse(xml, credential);
    if (!container) {
        FUZZ_CHECK(!container.error().detail.empty());
        return 0;
    }
    const std::vector<KeyPackage> packages = container->packages();

    auto again = Container::parse(container->to_xml(), credential);
    FUZZ_CHECK(again);
    FUZZ_CHECK(again->packages() == packages);

    SecretBytes seed(20);
    for (std::size_t i = 0; i < seed.size(); ++i)
        seed.data()[i] = static_cast<uint8_t>(0xA0 + i);
    const KeyPackage added =
        make_key_package({OtpAlgorithm::Totp, OtpHash::Sha256, 8, 60, unused_key_id(*container),
                          seed, "J\xC3\xB6rg & <Co>"});
    const auto add = container->add(added);
    if (!add) {
        // Only a signed container refuses a new key with a fresh id.
        FUZZ_CHECK(add.error().fault == Fault::Unsupported);
        FUZZ_CHECK(container->packages() == packages);
        return 0;
    }
    auto extended = Container::parse(container->to_xml(), credential);
    FUZZ_CHECK(extended);
    std::vector<KeyPackage> expected = packages;
    expected.push_back(added);
    FUZZ_CHECK(extended->packages() == expected);
    return 0;
}
