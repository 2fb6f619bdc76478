#include "cli/HelpText.h"

#include "cli/ExitCode.h"
#include "records/SeedFolder.h"

using namespace otp::core;
using namespace otp::records;

namespace otp::cli {

std::string main_help_footer()
{
    return std::string(kExitCodeHelp) +
           "\n\nSeed files (hseeds.xml, hseeds.csv, tseeds.xml, tseeds.csv) go to --out-dir;\n"
           "else to $VNOTP_SEED_DIR when it is set; else, for a program run from its build\n"
           "tree, beside the program; else to $XDG_DATA_HOME/vnotp (by default\n"
           "~/.local/share/vnotp), created readable by its owner only.\n"
           "Seed folder in use: " +
           default_seed_folder().string();
}

} // namespace otp::cli
