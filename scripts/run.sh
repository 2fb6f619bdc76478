#!/usr/bin/env bash
# Installs what is missing, builds the tool, its device library and vnkey
# (not the tests: scripts/test.sh builds those), and starts the tool on the
# virtual key (one is created and plugged in on first use).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
BUILD_TARGETS="vnotp vnkey VN_Manager" "$root/scripts/build.sh"
build_dir=${BUILD_DIR:-$root/build}
bin="$build_dir/bin"

if [ ! -x "$bin/vnotp" ]; then
    echo "The main window is not built yet; the virtual keys:"
    "$bin/vnkey" list
    exit 0
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    cat >&2 <<MSG
No display found (neither DISPLAY nor WAYLAND_DISPLAY is set), so the window
cannot open here. Run it on a virtual X display instead:

    xvfb-run -a -s "-screen 0 1280x1024x24" "$bin/vnotp"

or from a desktop session: "$bin/vnotp"
MSG
    exit 1
fi
exec "$bin/vnotp"
