#!/usr/bin/env bash
# Installs the Debian packages that building and testing the station need: only the missing
# ones, as root or through sudo. Safe to run any number of times.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-serialport-dev qt6-qpa-plugins
    qt6-svg-dev libqcustomplot-dev
    libbenchmark-dev
    fonts-dejavu-core
    # The report tests read the PDF back (pdftotext); its pictures are made with pdftoppm.
    poppler-utils
)
for option in "$@"; do
    case "$option" in
    # The screenshot of the window (docs/) is taken under Xvfb.
    --with-screenshot) packages+=(xvfb xauth) ;;
    # The Debian package: CPack's dependency finder (dpkg-shlibdeps, file), the manual pages.
    --with-package) packages+=(dpkg-dev file help2man) ;;
    # The check of the package.
    --with-lintian) packages+=(lintian) ;;
    *)
        echo "setup: unknown option $option (--with-screenshot, --with-package, --with-lintian)" >&2
        exit 2
        ;;
    esac
done

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [[ ${#missing[@]} -eq 0 ]]; then
    echo "setup: every package is installed"
    exit 0
fi

if [[ $(id -u) -eq 0 ]]; then
    as_root=()
elif command -v sudo >/dev/null; then
    as_root=(sudo)
else
    echo "setup: installing ${missing[*]} needs root (or sudo)" >&2
    exit 1
fi

echo "setup: installing ${missing[*]}"
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
