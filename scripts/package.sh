#!/usr/bin/env bash
# Builds the Debian package in build/package; then `sudo apt install ./build/package/zentrava_*.deb`.
# With --check (CI) it also runs lintian, desktop-file-validate and appstreamcli on what it built
# and checks that the package holds every file it must.
set -euo pipefail
cd "$(dirname "$0")/.."
check=false
if [[ "${1:-}" == --check ]]; then
    check=true
fi

if $check; then
    scripts/setup.sh --package --package-checks
else
    scripts/setup.sh --package
fi
scripts/build.sh package
rm -f build/package/zentrava_*.deb
cpack --preset package
debs=(build/package/zentrava_*.deb)
deb=${debs[0]}
echo "package: $deb"
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"
$check || exit 0

status=0
fail() {
    echo "package: $*" >&2
    status=1
}

echo "== lintian"
# Errors and warnings fail. Infos are shown: binary-has-unneeded-section .comment stays, as
# CPack strips with plain `strip`, which keeps the compiler's version note that dh_strip drops.
lintian --fail-on error,warning --display-info "$deb" ||
    fail "lintian found problems"

contents=$(mktemp -d)
trap 'rm -rf "$contents"' EXIT
dpkg-deb --extract "$deb" "$contents"
app_id=example.zentrava.Zentrava

echo "== desktop-file-validate"
if desktop-file-validate "$contents/usr/share/applications/$app_id.desktop"; then
    echo "$app_id.desktop: passed"
else
    fail "the desktop entry is not valid"
fi

echo "== appstreamcli validate --no-net"
appstreamcli validate --no-net "$contents/usr/share/metainfo/$app_id.metainfo.xml" ||
    fail "the AppStream metadata is not valid"

echo "== file list"
expected=(
    usr/bin/zentrava usr/bin/zentrava-demo usr/bin/kt7720-emu usr/bin/kt7720ctl
    "usr/share/applications/$app_id.desktop"
    "usr/share/metainfo/$app_id.metainfo.xml"
    "usr/share/icons/hicolor/scalable/apps/$app_id.svg"
    usr/share/man/man1/zentrava.1.gz usr/share/man/man1/zentrava-demo.1.gz
    usr/share/man/man1/kt7720-emu.1.gz usr/share/man/man1/kt7720ctl.1.gz
    usr/share/doc/zentrava/copyright usr/share/doc/zentrava/changelog.gz
)
for size in 16 22 24 32 48 64 128 256; do
    expected+=("usr/share/icons/hicolor/${size}x$size/apps/$app_id.png")
done
for file in "${expected[@]}"; do
    if [[ -f "$contents/$file" ]]; then
        echo "found   /$file"
    else
        fail "missing /$file"
    fi
done
for size in 16 22 24 32 48 64 128 256; do
    png="$contents/usr/share/icons/hicolor/${size}x$size/apps/$app_id.png"
    if [[ -f "$png" ]] && ! file "$png" | grep -q "$size x $size"; then
        fail "$png is not $size x $size"
    fi
done
for program in zentrava zentrava-demo kt7720-emu kt7720ctl; do
    if [[ -f "$contents/usr/bin/$program" ]] &&
        ! env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$contents/usr/bin/$program" --version; then
        fail "$program --version failed without a display"
    fi
done
if [[ $status -eq 0 ]]; then
    echo "package: $deb passed every check"
fi
exit $status
