// vnotp-cli: the command-line front end over the same core as the window.

#include "cli/Commands.h"
#include "core/Secret.h"
#include "device/LinkedDevice.h"

#include <csignal>
#include <iostream>

using namespace otp::core;
using namespace otp::device;
using namespace otp::cli;

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

void on_interrupt(int)
{
    g_interrupted = 1;
}

} // namespace

int main(int argc, char** argv)
{
    disable_core_dumps();
    std::signal(SIGINT, on_interrupt);

    LinkedDevice device;
    CliContext context{device.api(), std::cout, std::cerr};
    context.interrupted = [] { return g_interrupted != 0; };
    return run_cli(argc, argv, context);
}
