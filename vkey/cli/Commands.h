#pragma once

// The vnkey commands, apart from argument parsing so that each one reads as
// what it does to the key directory. Each returns the process exit code and
// writes its report to out, its complaint to err.

#include "KeyState.h"
#include "KeyStore.h"

#include <iosfwd>
#include <optional>
#include <string>

namespace vnkey {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1; // unknown key, damaged file, storage
inline constexpr int kExitUsage = 2;  // bad arguments

// "auto", "auto:MS", "manual" or "never"; timeout from the previous setting.
std::optional<vkey::TouchSetting> parseTouch(const std::string& text, vkey::TouchSetting base);

struct CreateOptions
{
    std::string serial; // empty: a random one
    bool hardwareMode = true;
    std::optional<std::string> touch;
    std::optional<double> timeoutSeconds;
    bool plug = false;
};

struct SetOptions
{
    std::string serial;
    std::optional<std::string> touch;
    std::optional<double> timeoutSeconds;
};

int create(const vkey::KeyStore& store, const CreateOptions& options, std::ostream& out,
           std::ostream& err);
int set(const vkey::KeyStore& store, const SetOptions& options, std::ostream& out,
        std::ostream& err);
int list(const vkey::KeyStore& store, std::ostream& out, std::ostream& err);
int plug(const vkey::KeyStore& store, const std::string& serial, std::ostream& out,
         std::ostream& err);
int unplug(const vkey::KeyStore& store, const std::string& serial, std::ostream& out,
           std::ostream& err);
int touch(const vkey::KeyStore& store, const std::string& serial, std::ostream& out,
          std::ostream& err);
int show(const vkey::KeyStore& store, const std::string& serial, bool secrets, std::ostream& out,
         std::ostream& err);
int remove(const vkey::KeyStore& store, const std::string& serial, std::ostream& out,
           std::ostream& err);

} // namespace vnkey
