#pragma once

// The one JSON shape of a token and of a key that every --json output uses
// (info, list, program, batch, pskc show), described by the JSON Schema
// shipped beside the program (vnotp-cli.schema.json). A change that a reader
// of version 1 would misread raises kJsonVersion.

#include "programming/ProgramToken.h"
#include "tokens/TokenCommands.h"

#include <nlohmann/json.hpp>

#include <iosfwd>
#include <optional>
#include <string>

namespace otp::pskc {
struct KeyPackage;
} // namespace otp::pskc

namespace otp::cli {

inline constexpr int kJsonVersion = 1;

// The document's frame: {"version": 1, "command": command}.
nlohmann::json json_document(const std::string& command);

// A token listed by the key: the key does not know the user, and a value
// the tool does not know is null.
nlohmann::json token_json(const device::ListedToken& token, const std::string& keySerial);
// A token just programmed; the seed only with showSeed.
nlohmann::json token_json(const programming::ProgrammedToken& programmed, bool showSeed);
// A token of a PSKC file; the seed only with showSeed.
nlohmann::json token_json(const pskc::KeyPackage& package, bool showSeed);

// A token a batch could not program on the key: what it was to be, and why
// not. Its serial is null when none was proposed.
struct TokenOptions;
nlohmann::json failed_token_json(const TokenOptions& options,
                                 const std::optional<std::string>& serial,
                                 const std::string& keySerial, const std::string& reason);

nlohmann::json key_json(const tokens::KeyInfo& info);

// Writes the document, indented. Text that is not UTF-8 (a PSKC file's
// UserId is not MAC-protected, anyone may put any bytes there) is written
// with U+FFFD in its place instead of ending the program.
void print_json(std::ostream& out, const nlohmann::json& document);

} // namespace otp::cli
