#!/usr/bin/env bash
# Installs the build into a throw-away prefix and checks what a desktop finds
# there: exactly the files below (no test program among them), a valid menu
# entry that names the installed program and icon, valid AppStream metadata
# that finds its menu entry, and the icon at each PNG size in that many pixels.
#   check-install.sh CMAKE BUILD_DIR
# Exits 77 (skipped) when the validators are not installed.
set -euo pipefail
cmake=$1
build=$2

for tool in desktop-file-validate appstreamcli python3; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIP: $tool is not installed"
        exit 77
    fi
done

prefix=$(mktemp -d "${TMPDIR:-/tmp}/postowl-install.XXXXXX")
trap 'rm -rf "$prefix"' EXIT
"$cmake" --install "$build" --prefix "$prefix"
cd "$prefix"

sizes=(16 32 48 64 128 256)
expected=(
    bin/postowl
    lib/postowl/postowl-keyring.so
    share/applications/example.postowl.PostOwl.desktop
    share/icons/hicolor/scalable/apps/postowl.svg
    share/man/man1/postowl.1
    share/metainfo/example.postowl.PostOwl.metainfo.xml
)
for size in "${sizes[@]}"; do expected+=("share/icons/hicolor/${size}x${size}/apps/postowl.png"); done
diff -u <(printf '%s\n' "${expected[@]}" | sort) <(find . -type f -o -type l | sed 's|^\./||' | sort)
[ -x bin/postowl ] || { echo "bin/postowl is not executable"; exit 1; }
if grep -n '@[A-Za-z_]*@' share/man/man1/postowl.1 share/metainfo/*.xml; then
    echo "a placeholder was left unfilled"
    exit 1
fi

desktop=share/applications/example.postowl.PostOwl.desktop
desktop-file-validate "$desktop"
exec_program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
icon=$(sed -n 's/^Icon=//p' "$desktop")
[ -x "bin/$exec_program" ] || { echo "Exec=$exec_program is not an installed program"; exit 1; }
[ -f "share/icons/hicolor/scalable/apps/$icon.svg" ] || { echo "Icon=$icon is not an installed icon"; exit 1; }

appstreamcli validate --no-net share/metainfo/example.postowl.PostOwl.metainfo.xml
grep -q '<project_license>GPL-3.0-or-later</project_license>' share/metainfo/*.xml ||
    { echo "the metadata does not name the licence"; exit 1; }
# The tree check also finds the menu entry the metadata launches.
appstreamcli validate-tree --no-net "$prefix"

# A PNG's width and height are the two big-endian words after its IHDR tag.
python3 - "${sizes[@]}" <<'PY'
import struct, sys
bad = 0
for size in map(int, sys.argv[1:]):
    path = f"share/icons/hicolor/{size}x{size}/apps/postowl.png"
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        print(f"{path}: not a PNG"); bad = 1; continue
    width, height = struct.unpack(">II", head[16:24])
    if (width, height) != (size, size):
        print(f"{path}: {width}x{height}, wanted {size}x{size}"); bad = 1
sys.exit(bad)
PY
echo "install tree OK"
