#pragma once

// Where the seed files are written when no folder is given: the window's New
// Token dialog and the command line's default --out-dir both ask here.

#include <QString>

QString default_seed_directory();
