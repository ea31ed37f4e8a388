#!/bin/sh
# Installs the build tree BUILD_DIR into a scratch root, as a package would
# lay it out under /usr, and checks that software centres find Clipmora there:
# the metainfo is installed, names the installed menu entry and passes the
# strictest validation (without fetching the screenshot).
#   check_installed_metainfo.sh CMAKE BUILD_DIR
set -eu
cmake=$1
build=$2
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
"$cmake" --install "$build" --prefix "$root/usr" >/dev/null
test -f "$root/usr/share/metainfo/org.clipmora.clipmora.metainfo.xml"
test -f "$root/usr/share/applications/clipmora.desktop"
appstreamcli validate-tree --pedantic --no-net "$root"
