#!/usr/bin/env bash
# Installs the Debian packages vseg needs to build and test; quiet and quick when all are present.
# With --fuzz it also installs clang and the runtime of its fuzzer and sanitizers, which the
# libFuzzer targets (scripts/fuzz-smoke.sh) need, and clang-format for scripts/check-format.sh.
set -euo pipefail

packages=(g++ cmake make pkg-config libboost-dev libboost-filesystem-dev libboost-system-dev
          libeigen3-dev libmagick++-dev libgtest-dev libgmock-dev libbenchmark-dev
          libopencv-dev opencv-doc
          python3-dev python3-venv python3-setuptools python3-wheel python3-numpy
          python3-pybind11 pybind11-dev python3-pytest python3-distributed python3-matplotlib)
if [ "${1:-}" = "--fuzz" ]; then
    packages+=(clang clang-format libclang-rt-14-dev)
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=""
if [ "$(id -u)" -ne 0 ]; then
    sudo_cmd="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo_cmd apt-get update -qq
$sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
