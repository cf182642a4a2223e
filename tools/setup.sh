#!/usr/bin/env bash
# Installs what Korvo needs on Debian 12 (Debian packages, and the viewer's browser code with
# npm ci from package-lock.json) and builds it into build/ (Release with debug info).
#   tools/setup.sh                 install packages, configure, build
#   KORVO_SANITIZE=ON tools/setup.sh build-asan   the same into another folder, with sanitizers
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build}

packages=(
    build-essential cmake ninja-build pkg-config
    zlib1g-dev libisal-dev libpng-dev libjpeg62-turbo-dev libturbojpeg0-dev libjpeg-turbo-progs
    libembree-dev libassimp-dev nlohmann-json3-dev libcli11-dev
    libopencv-core-dev libopencv-imgcodecs-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    clang libclang-rt-14-dev clang-format
    libcpp-httplib-dev nodejs chromium xdg-utils
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
if ((${#missing[@]})); then
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi
# Debian's npm, unless the nodejs installed brings its own (as builds of nodejs from elsewhere
# do, and then refuse Debian's npm package).
if ! command -v npm >/dev/null; then
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq npm
fi

# three.js for the viewer page and puppeteer-core for its tests, as package-lock.json pins them;
# skipped when node_modules already holds that lock file's packages.
if ! cmp -s package-lock.json node_modules/.korvo-installed-lock 2>/dev/null; then
    npm ci --no-audit --no-fund --loglevel=error
    cp package-lock.json node_modules/.korvo-installed-lock
fi

cmake -S . -B "$build_dir" -G Ninja -DKORVO_SANITIZE="${KORVO_SANITIZE:-OFF}"
cmake --build "$build_dir"
