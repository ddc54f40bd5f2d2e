#!/usr/bin/env bash
# Installs every Debian package that building Quillmoor and running its tests needs.
set -euo pipefail

packages=(
  # toolchain; clang-format pinned to the version the tree is formatted with (scripts/check-format.sh)
  build-essential cmake ninja-build pkg-config ccache clang-format-14
  # Qt 6 (UiTools pulls in the GL/Vulkan/xkb headers through its CMake config)
  qt6-base-dev qt6-tools-dev libqt6opengl6-dev libgl-dev libxkbcommon-dev libvulkan-dev
  # the desktop host's template editor
  libqscintilla2-qt6-dev
  # platform layer
  libxml2-dev libplist-dev libzip-dev libcld2-dev libsecret-1-dev
  # CloudApp: IDNA 2003 host names
  libidn-dev
  # tests
  libgtest-dev libgmock-dev zip unzip xdg-utils libcpp-httplib-dev
  # the generic server uploader: libcurl (its OpenSSL flavour carries SFTP) and real servers for its tests
  libcurl4-openssl-dev rclone python3-pyftpdlib openssh-client openssl
  # the command-line host: MIME parsing with GMime, and a real SMTP server (aiosmtpd) for its tests
  libgmime-3.0-dev python3-aiosmtpd
  # real mail clients for the sendmail and smtpd tests (git send-email's Perl modules are only recommended)
  swaks neomutt git-email libmailtools-perl libauthen-sasl-perl libio-socket-ssl-perl libnet-ssleay-perl
  # the Secret Service integration tests: a private bus, a real keyring daemon and a peer client
  dbus dbus-daemon gnome-keyring libsecret-tools
)

if [ "$(id -u)" -ne 0 ]; then sudo=sudo; else sudo=; fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
