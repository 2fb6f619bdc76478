// vnkey: creates, plugs, unplugs, touches and shows the virtual keys that
// libVN_Manager.so works on.

#include "Commands.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <iostream>
#include <numeric>
#include <string_view>
#include <vector>

namespace {

// The command whose name is the fewest edits away from a mistyped one.
std::string nearest_command(const CLI::App& app, std::string_view typed)
{
    std::string best;
    std::size_t bestDistance = SIZE_MAX;
    for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; })) {
        const std::string& name = command->get_name();
        std::vector<std::size_t> row(name.size() + 1);
        std::iota(row.begin(), row.end(), 0);
        for (std::size_t i = 1; i <= typed.size(); ++i) {
            std::size_t diagonal = row[0];
            row[0] = i;
            for (std::size_t j = 1; j <= name.size(); ++j)
                diagonal =
                    std::exchange(row[j], std::min({row[j] + 1, row[j - 1] + 1,
                                                    diagonal + (typed[i - 1] != name[j - 1])}));
        }
        if (row.back() < bestDistance)
            bestDistance = row.back(), best = name;
    }
    return best;
}

} // namespace

namespace {

int run(int argc, char** argv)
{
    CLI::App app{"vnkey: drive the virtual Vornik/Tessel keys of libVN_Manager.so.\n"
                 "Keys live in $VN_KEY_DIR, else $XDG_STATE_HOME/vnkey/keys, else "
                 "~/.local/state/vnkey/keys."};
    app.require_subcommand(1);
    app.set_version_flag("-V,--version", "vnkey " VNOTP_VERSION, "Print the version and exit");
    std::string dirOption;
    app.add_option("--dir", dirOption, "Key directory (instead of the environment)");

    std::string serial;
    bool secrets = false;

    vnkey::CreateOptions create;
    std::string pinMode = "hardware";
    auto* createCmd = app.add_subcommand("create", "Create a key (not plugged in unless --plug)");
    createCmd->add_option("SERIAL", create.serial, "Key serial (default: VT + 8 random digits)");
    createCmd
        ->add_option("--pin-mode", pinMode,
                     "hardware: the key has an access code; "
                     "software: it has none")
        ->transform(CLI::IsMember({"hardware", "software"}, CLI::ignore_case));
    createCmd->add_option("--touch", create.touch,
                          "auto[:MS] (touched after MS ms, default 300), manual (wait for "
                          "`vnkey touch`) or never (time out)");
    createCmd->add_option("--timeout", create.timeoutSeconds,
                          "Seconds an operation waits for a manual touch (default 30)");
    createCmd->add_flag("--plug", create.plug, "Plug the new key in at once");

    vnkey::SetOptions setOptions;
    auto* setCmd = app.add_subcommand("set", "Change a key's touch setting");
    setCmd->add_option("SERIAL", setOptions.serial, "Key serial")->required();
    setCmd->add_option("--touch", setOptions.touch, "auto[:MS], manual or never");
    setCmd->add_option("--timeout", setOptions.timeoutSeconds,
                       "Seconds an operation waits for a manual touch");

    auto* listCmd = app.add_subcommand("list", "List the keys and whether they are plugged in");
    auto* plugCmd = app.add_subcommand("plug", "Plug a key in");
    plugCmd->add_option("SERIAL", serial, "Key serial")->required();
    auto* unplugCmd = app.add_subcommand("unplug", "Unplug a key");
    unplugCmd->add_option("SERIAL", serial, "Key serial")->required();
    auto* touchCmd = app.add_subcommand(
        "touch", "Touch a plugged-in key: an operation waiting for it goes on (a touch with "
                 "nothing waiting is kept for the next operation, up to the key's timeout)");
    touchCmd->add_option("SERIAL", serial, "Key serial (default: the one plugged-in key)");
    auto* showCmd = app.add_subcommand("show", "Show a key: tokens, PIN record, access code, "
                                               "ENTER flag, touch setting");
    showCmd->add_option("SERIAL", serial, "Key serial")->required();
    showCmd->add_flag("--secrets", secrets, "Also show seeds, the access code and the PIN digest");
    auto* removeCmd = app.add_subcommand("remove", "Unplug and delete a key with all its tokens");
    removeCmd->add_option("SERIAL", serial, "Key serial")->required();

    // CLI11 would only say that a subcommand is required.
    if (argc > 1 && argv[1][0] != '-') {
        try {
            app.get_subcommand(argv[1]);
        } catch (const CLI::OptionNotFound&) {
            std::cerr << "vnkey: unknown command '" << argv[1] << "'; did you mean '"
                      << nearest_command(app, argv[1]) << "'? (see vnkey --help)\n";
            return vnkey::kExitUsage;
        }
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int rc = app.exit(e);
        return rc == 0 ? vnkey::kExitOk : vnkey::kExitUsage;
    }

    std::filesystem::path dir;
    if (!dirOption.empty()) {
        dir = dirOption;
    } else {
        auto fromEnv = vkey::keyDirFromEnvironment();
        if (!fromEnv) {
            std::cerr << "vnkey: " << fromEnv.error().what << "\n";
            return vnkey::kExitFailed;
        }
        dir = *fromEnv;
    }
    vkey::KeyStore store(dir);

    if (createCmd->parsed()) {
        create.hardwareMode = pinMode == "hardware";
        return vnkey::create(store, create, std::cout, std::cerr);
    }
    // Like the device library, vnkey brings a first key into a missing key
    // directory, so that `vnkey list` on a new machine shows what the program
    // will find.
    if (auto ready = vkey::ensureKeyDir(dir); !ready) {
        std::cerr << "vnkey: " << ready.error().what << "\n";
        return vnkey::kExitFailed;
    }
    if (setCmd->parsed())
        return vnkey::set(store, setOptions, std::cout, std::cerr);
    if (listCmd->parsed())
        return vnkey::list(store, std::cout, std::cerr);
    if (plugCmd->parsed())
        return vnkey::plug(store, serial, std::cout, std::cerr);
    if (unplugCmd->parsed())
        return vnkey::unplug(store, serial, std::cout, std::cerr);
    if (touchCmd->parsed())
        return vnkey::touch(store, serial, std::cout, std::cerr);
    if (showCmd->parsed())
        return vnkey::show(store, serial, secrets, std::cout, std::cerr);
    if (removeCmd->parsed())
        return vnkey::remove(store, serial, std::cout, std::cerr);
    return vnkey::kExitUsage;
}

} // namespace

int main(int argc, char** argv)
{
    // No input may end vnkey by an uncaught exception (an abort, exit code 134).
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::cerr << "vnkey: " << e.what() << "\n";
    } catch (...) {
        std::cerr << "vnkey: an unexpected failure\n";
    }
    return vnkey::kExitFailed;
}
