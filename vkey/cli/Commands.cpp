#include "Commands.h"

#include "Text.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iomanip>
#include <ostream>
#include <span>
#include <sstream>

namespace vnkey {

namespace {

int complain(std::ostream& err, const std::string& what, int code = kExitFailed)
{
    err << "vnkey: " << what << "\n";
    return code;
}

int complain(std::ostream& err, const vkey::Failure& failure)
{
    return complain(err, failure.what);
}

const char* typeName(uint32_t type)
{
    switch (type) {
    case VN_TYPE_HOTP:
        return "HOTP";
    case VN_TYPE_TOTP:
        return "TOTP";
    case VN_TYPE_STATIC_PASSWORD:
        return "STATIC_PASSWORD";
    case VN_TYPE_CHALLENGE_RESPONSE:
        return "CHALLENGE_RESPONSE";
    }
    return "N/A";
}

const char* hashName(uint32_t hash)
{
    return hash == VN_HASH_SHA1 ? "SHA-1" : hash == VN_HASH_SHA256 ? "SHA-256" : "N/A";
}

std::string describeTouch(const vkey::TouchSetting& t)
{
    std::string text = vkey::touchModeName(t.mode);
    if (t.mode == vkey::TouchMode::Auto)
        return text + " after " + std::to_string(t.delayMs) + " ms";
    std::ostringstream s;
    s << text << ", timeout " << t.timeoutMs / 1000.0 << " s";
    return s.str();
}

const char* pinModeName(bool hardware)
{
    return hardware ? "hardware (access code on the key, mode 0)"
                    : "software (no access-code function, mode 1)";
}

std::optional<int> timeoutMs(std::optional<double> seconds, std::ostream& err)
{
    if (!seconds)
        return std::nullopt;
    if (!std::isfinite(*seconds) || *seconds < 0 || *seconds * 1000 > vkey::kMaxTouchMs) {
        complain(err, "--timeout must be between 0 and 3600 seconds", kExitUsage);
        return -1;
    }
    return static_cast<int>(std::lround(*seconds * 1000));
}

// Applies --touch and --timeout to a setting; false after a complaint.
bool applyTouchOptions(vkey::TouchSetting& touch, const std::optional<std::string>& touchText,
                       std::optional<double> timeoutSeconds, std::ostream& err)
{
    if (touchText) {
        auto parsed = parseTouch(*touchText, touch);
        if (!parsed) {
            complain(err, "--touch must be auto, auto:MS, manual or never", kExitUsage);
            return false;
        }
        touch = *parsed;
    }
    auto timeout = timeoutMs(timeoutSeconds, err);
    if (timeout && *timeout < 0)
        return false;
    if (timeout)
        touch.timeoutMs = *timeout;
    return true;
}

// The slot-1 record of the program's PIN scheme: a 34-byte policy in base64
// in the serial field. Anything else in slot 1 is shown as it stands.
void showPinRecord(const vkey::Token& record, bool secrets, std::ostream& out)
{
    auto bytes = vkey::fromBase64(record.serial);
    if (!bytes || bytes->size() != 34) {
        out << "  PIN record: present, not a PIN policy (serial \"" << record.serial << "\")\n";
        return;
    }
    const auto& b = *bytes;
    auto le = [&](std::size_t at, std::size_t n) {
        uint64_t v = 0;
        for (std::size_t i = 0; i < n; ++i)
            v |= uint64_t{b[at + i]} << (8 * i);
        return v;
    };
    bool digestSet = std::any_of(b.begin() + 1, b.begin() + 17, [](uint8_t x) { return x != 0; });
    auto setTime = static_cast<int64_t>(le(17, 8));
    out << "  PIN record: policy " << (b[0] ? "enabled" : "disabled") << "\n";
    out << "    PIN digest (software mode): ";
    if (!digestSet)
        out << "none\n";
    else if (secrets)
        out << vkey::toHex(std::span(b).subspan(1, 16)) << "\n";
    else
        out << "set\n";
    out << "    PIN set at: ";
    if (setTime == 0) {
        out << "never\n";
    } else {
        std::time_t t = static_cast<std::time_t>(setTime);
        std::tm tm{};
        gmtime_r(&t, &tm);
        out << std::put_time(&tm, "%Y-%m-%d %H:%M:%S UTC") << "\n";
    }
    out << "    expiry days: " << le(25, 2) << "\n"
        << "    min length " << int{b[27]} << ", digits " << int{b[28]} << ", lowercase "
        << int{b[29]} << ", uppercase " << int{b[30]} << ", special " << int{b[31]}
        << ", max sequential " << int{b[32]} << ", max repeating " << int{b[33]} << "\n";
}

// Runs f on a key under the directory lock and saves it.
template <typename F>
int editKey(const vkey::KeyStore& store, const std::string& serial, std::ostream& err, F&& f)
{
    auto lock = store.lock();
    if (!lock)
        return complain(err, lock.error());
    if (!store.exists(serial))
        return complain(err, "no key " + serial + " in " + store.dir().string());
    auto key = store.load(serial);
    if (!key)
        return complain(err, key.error());
    if (int rc = f(*key); rc != kExitOk)
        return rc;
    auto saved = store.save(*key);
    return saved ? kExitOk : complain(err, saved.error());
}

} // namespace

std::optional<vkey::TouchSetting> parseTouch(const std::string& text, vkey::TouchSetting base)
{
    if (text == "manual" || text == "never") {
        base.mode = text == "manual" ? vkey::TouchMode::Manual : vkey::TouchMode::Never;
        return base;
    }
    if (text == "auto") {
        base.mode = vkey::TouchMode::Auto;
        return base;
    }
    if (text.starts_with("auto:")) {
        int ms = -1;
        const char* begin = text.data() + 5;
        const char* end = text.data() + text.size();
        auto [ptr, ec] = std::from_chars(begin, end, ms);
        if (ec != std::errc() || ptr != end || begin == end || ms < 0 || ms > vkey::kMaxTouchMs)
            return std::nullopt;
        base.mode = vkey::TouchMode::Auto;
        base.delayMs = ms;
        return base;
    }
    return std::nullopt;
}

int create(const vkey::KeyStore& store, const CreateOptions& options, std::ostream& out,
           std::ostream& err)
{
    vkey::KeyState key;
    key.serial = options.serial.empty() ? vkey::randomKeySerial() : options.serial;
    if (!vkey::isValidKeySerial(key.serial))
        return complain(
            err, "'" + key.serial + "' is not a valid key serial (1 to 63 of A-Z a-z 0-9 - _)",
            kExitUsage);
    key.hardwareAccess = options.hardwareMode;
    if (!applyTouchOptions(key.touch, options.touch, options.timeoutSeconds, err))
        return kExitUsage;
    // A directory made here holds only the keys asked for: no default key.
    std::error_code ec;
    if (store.dir().has_parent_path())
        std::filesystem::create_directories(store.dir().parent_path(), ec);
    if (::mkdir(store.dir().c_str(), 0700) != 0 && errno != EEXIST)
        return complain(err, "cannot create " + store.dir().string() + ": " + std::strerror(errno));
    auto lock = store.lock();
    if (!lock)
        return complain(err, lock.error());
    if (auto made = store.create(key); !made)
        return complain(err, made.error());
    if (options.plug) {
        if (auto plugged = store.plug(key.serial); !plugged)
            return complain(err, plugged.error());
    }
    out << "Created key " << key.serial << (options.plug ? ", plugged in" : ", not plugged in")
        << "\n";
    if (key.serial.size() > 11)
        out << "Note: with a serial longer than 11 characters the program's token serial "
               "proposals exceed 13 characters.\n";
    return kExitOk;
}

int set(const vkey::KeyStore& store, const SetOptions& options, std::ostream& out,
        std::ostream& err)
{
    int rc = editKey(store, options.serial, err, [&](vkey::KeyState& key) {
        if (!applyTouchOptions(key.touch, options.touch, options.timeoutSeconds, err))
            return kExitUsage;
        out << "Key " << key.serial << ": touch " << describeTouch(key.touch) << "\n";
        return kExitOk;
    });
    return rc;
}

int list(const vkey::KeyStore& store, std::ostream& out, std::ostream&)
{
    auto serials = store.keys();
    if (serials.empty()) {
        out << "No keys in " << store.dir().string() << "\n";
        return kExitOk;
    }
    out << "Keys in " << store.dir().string() << ":\n";
    for (const std::string& serial : serials) {
        out << "  " << std::left << std::setw(14) << serial << " "
            << (store.isPlugged(serial) ? "plugged  " : "unplugged") << "  ";
        auto key = store.load(serial);
        if (!key) {
            out << "DAMAGED: " << key.error().what << "\n";
            continue;
        }
        out << (key->hardwareAccess ? "hardware" : "software") << " PIN mode, "
            << key->tokens.size() << " token" << (key->tokens.size() == 1 ? "" : "s") << ", touch "
            << describeTouch(key->touch) << "\n";
    }
    return kExitOk;
}

namespace {

// Plugging and unplugging differ only in the marker they set and what they say.
int setPlugged(const vkey::KeyStore& store, const std::string& serial, bool plugged,
               std::ostream& out, std::ostream& err)
{
    auto lock = store.lock();
    if (!lock)
        return complain(err, lock.error());
    if (!store.exists(serial))
        return complain(err, "no key " + serial + " in " + store.dir().string());
    if (auto r = plugged ? store.plug(serial) : store.unplug(serial); !r)
        return complain(err, r.error());
    out << "Key " << serial << (plugged ? " plugged in\n" : " unplugged\n");
    return kExitOk;
}

} // namespace

int plug(const vkey::KeyStore& store, const std::string& serial, std::ostream& out,
         std::ostream& err)
{
    return setPlugged(store, serial, true, out, err);
}

int unplug(const vkey::KeyStore& store, const std::string& serial, std::ostream& out,
           std::ostream& err)
{
    return setPlugged(store, serial, false, out, err);
}

int touch(const vkey::KeyStore& store, const std::string& serialArg, std::ostream& out,
          std::ostream& err)
{
    std::string serial = serialArg;
    if (serial.empty()) {
        auto plugged = store.plugged();
        if (plugged.size() != 1)
            return complain(err, plugged.empty()
                                     ? "no key is plugged in"
                                     : "several keys are plugged in; say which one to touch");
        serial = plugged.front();
    } else if (!store.exists(serial)) {
        return complain(err, "no key " + serial + " in " + store.dir().string());
    } else if (!store.isPlugged(serial)) {
        return complain(err, "key " + serial + " is not plugged in");
    }
    if (auto r = store.touch(serial); !r)
        return complain(err, r.error());
    out << "Touched key " << serial << "\n";
    return kExitOk;
}

int show(const vkey::KeyStore& store, const std::string& serial, bool secrets, std::ostream& out,
         std::ostream& err)
{
    if (!store.exists(serial))
        return complain(err, "no key " + serial + " in " + store.dir().string());
    auto key = store.load(serial);
    if (!key)
        return complain(err, key.error());
    out << "Key " << key->serial << " (" << (store.isPlugged(serial) ? "plugged in" : "unplugged")
        << ")\n"
        << "  PIN protection: " << pinModeName(key->hardwareAccess) << "\n"
        << "  Access code: ";
    if (!key->hardwareAccess)
        out << "not supported\n";
    else if (!key->accessCode)
        out << "not set\n";
    else if (secrets)
        out << "\"" << *key->accessCode << "\"\n";
    else
        out << "set\n";
    out << "  ENTER after OTP: " << (key->enter ? "on" : "off") << "\n"
        << "  Touch: " << describeTouch(key->touch) << "\n";
    if (key->pinRecord)
        showPinRecord(*key->pinRecord, secrets, out);
    else
        out << "  PIN record: none\n";
    out << "  Tokens: " << key->tokens.size() << " of " << VN_MAX_TOKENS << "\n";
    for (const vkey::Token& t : key->tokens) {
        out << "    " << std::left << std::setw(14) << t.serial << " " << std::setw(4)
            << typeName(t.type) << " " << std::setw(7) << hashName(t.hash) << " " << t.digits
            << " digits, interval " << t.interval;
        if (t.type == VN_TYPE_HOTP)
            out << ", counter " << t.counter;
        if (secrets)
            out << ", seed " << vkey::toHex(t.seed);
        out << "\n";
    }
    return kExitOk;
}

int remove(const vkey::KeyStore& store, const std::string& serial, std::ostream& out,
           std::ostream& err)
{
    auto lock = store.lock();
    if (!lock)
        return complain(err, lock.error());
    if (auto r = store.remove(serial); !r)
        return complain(err, r.error().status == VN_ERR_NO_DEVICE
                                 ? "no key " + serial + " in " + store.dir().string()
                                 : r.error().what);
    out << "Removed key " << serial << "\n";
    return kExitOk;
}

} // namespace vnkey
