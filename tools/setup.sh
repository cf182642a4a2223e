#!/usr/bin/env bash
# Installs what Korvo needs on Debian 12 and builds it into build/ (Release with debug info).
#   tools/setup.sh                 install packages, configure, build
#   KORVO_SANITIZE=ON tools/setup.sh build-asan   the same into another folder, with sanitizers
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build}

packages=(
    build-essential cmake ninja-build pkg-config
    zlib1g-dev libpng-dev libjpeg62-turbo-dev libturbojpeg0-dev libjpeg-turbo-progs
    libembree-dev libassimp-dev nlohmann-json3-dev libcli11-dev
    libopencv-core-dev libopencv-imgcodecs-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    clang libclang-rt-14-dev clang-format
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi

cmake -S . -B "$build_dir" -G Ninja -DKORVO_SANITIZE="${KORVO_SANITIZE:-OFF}"
cmake --build "$build_dir"
