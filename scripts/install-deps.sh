#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
set -euo pipefail

packages=(
    cmake make g++ git clang-format clang libclang-rt-14-dev
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64
    wine wine64 xvfb xauth x11-utils xdotool imagemagick
    socat
    # TLS to the servers (OpenSSL 3); the benchmark compares against stunnel.
    libssl-dev openssl stunnel4
    # ... in front of one TLS server, nginx's stream module, run from a private configuration.
    nginx libnginx-mod-stream
    # The OAuth 2.0 sign-in: token requests through libcurl, token answers as JSON.
    libcurl4-openssl-dev nlohmann-json3-dev
    # The IMAP test runs a dovecot of its own; a system one the package may start goes unused.
    dovecot-imapd dovecot-pop3d curl python3
    # Packages: the Windows installer (NSIS), the manual pages (scdoc), the Debian package's checks.
    nsis scdoc lintian man-db dpkg-dev fakeroot systemd
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    echo "All build and test packages are installed."
    exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    sudo_cmd=(sudo)
fi
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
