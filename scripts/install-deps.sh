#!/usr/bin/env bash
# Installs the Debian packages the build, the program and the tests need.
# Only missing packages are installed; nothing happens when all are present.
# Extra package names given as arguments are installed too.
set -euo pipefail

packages=(
    # Build
    build-essential cmake ninja-build pkg-config
    # A faster linker for the many test executables (the build falls back to
    # the default linker without it)
    lld
    qt6-base-dev libgl-dev
    libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
    # H.264 decoding with libavcodec (the program's own decoder element)
    libavcodec-dev libavutil-dev
    # MQTT publishing of motion events
    libmosquitto-dev
    # `make package`: CPack reads the program's dependencies with dpkg-shlibdeps,
    # which needs `file`
    file
    # Sources the program opens: the base and good plugins (files, cameras,
    # RTSP, HTTP), libav for the codecs most recordings use (H.264, MPEG-4 part 2,
    # DivX, Cinepak, ...), the bad set for the H.264/H.265 parsers, the ugly set
    # for ASF/WMV and MPEG-2 recordings and for x264 (the H.264 encoder of the
    # motion-event clips), and PipeWire for cameras offered through it
    gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-tools
    gstreamer1.0-libav gstreamer1.0-plugins-bad gstreamer1.0-plugins-ugly
    gstreamer1.0-pipewire
    # Tests: the RTSP test server, and a private PipeWire session (daemon, session
    # manager and its D-Bus session bus) for a virtual camera
    libgstrtspserver-1.0-dev pipewire pipewire-bin wireplumber dbus-daemon
    libgtest-dev libbenchmark-dev
    # Tests: a private MQTT broker on 127.0.0.1
    mosquitto
    clang libclang-rt-14-dev
    # make check-style: formatting and static checks
    clang-format clang-tidy python3
    xvfb xauth
)
if [ "$#" -gt 0 ]; then
    packages+=("$@")
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ "${#missing[@]}" -eq 0 ] && exit 0

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null 2>&1; then
        echo "These packages are missing: ${missing[*]}" >&2
        echo "sudo is not installed: run this script as root (for example: su -c $0)." >&2
        exit 1
    fi
    sudo_cmd=(sudo)
fi
echo "Installing: ${missing[*]}"
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
