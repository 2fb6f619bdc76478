#pragma once

// Where the seed files go when no folder is given: the window's New Token
// dialog, the command line's default --out-dir, the About box and both
// programs' --help all ask here.
//
// The order: $VNOTP_SEED_DIR when set; else, for a program run from its
// build tree, the program's own folder (the portable layout of a build
// folder); else $XDG_DATA_HOME/vnotp, with XDG_DATA_HOME falling back to
// ~/.local/share as the XDG base directory rules say (a relative value is
// ignored). Without an absolute HOME there is no default: the choice is empty,
// and the seed recorder refuses it with what to do. An installed program never writes beside
// itself: run with sudo, that would put seeds into a system folder.

#include <filesystem>
#include <string>

namespace otp::records {

struct SeedFolderInputs
{
    std::string overrideDir;             // $VNOTP_SEED_DIR
    std::filesystem::path executableDir; // the folder of the running program
    bool inBuildTree = false;            // the program runs from its build tree
    std::string xdgDataHome;             // $XDG_DATA_HOME
    std::string home;                    // $HOME
};

// The choice alone, without looking at the process or creating anything.
std::filesystem::path choose_seed_folder(const SeedFolderInputs& inputs);

// The folder of the running program.
std::filesystem::path executable_folder();

// The choice for this process. A folder other than the program's own that
// does not exist yet is created owner-only, with every missing folder above
// it, whatever the umask, since the files it receives hold seeds.
std::filesystem::path default_seed_folder();

} // namespace otp::records
