#pragma once

// Where the seed files are written when no folder is given: the window's New
// Token dialog, the command line's default --out-dir, the About box and
// `vnotp --help` all ask here.
//
// The order: $VNOTP_SEED_DIR when set; else beside the executable when that
// folder is writable (the portable layout of a build folder); else
// $XDG_DATA_HOME/vnotp, with XDG_DATA_HOME falling back to ~/.local/share as
// the XDG base directory rules say (a relative value is ignored).

#include <QString>

#include <functional>

struct SeedDirectoryInputs
{
    QString overrideDir;   // $VNOTP_SEED_DIR
    QString executableDir; // the folder of the running program
    QString xdgDataHome;   // $XDG_DATA_HOME
    QString home;          // $HOME
    std::function<bool(const QString&)> isWritable;
};

// The choice alone, without looking at the process or creating anything.
QString choose_seed_directory(const SeedDirectoryInputs& inputs);

// The choice for this process. A folder other than the executable's that does
// not exist yet is created owner-only, since the files it receives hold seeds.
// Needs a QCoreApplication for the executable's folder.
QString default_seed_directory();
