#!/usr/bin/env bash
# Installs, from Debian packages, what this machine lacks to build the programs and
# draw the validation plots; with --tests also what the tests need (GoogleTest,
# GNU parallel for the block simulations, Chromium for the report page, the
# NetCDF and xarray readers). Installs nothing when everything is there. Used by scripts/run_example.sh and .ci/run.
set -euo pipefail

missing=()
command -v cmake >/dev/null 2>&1 || missing+=(cmake)
command -v g++ >/dev/null 2>&1 || missing+=(g++)
command -v make >/dev/null 2>&1 || missing+=(make)
command -v gnuplot >/dev/null 2>&1 || missing+=(gnuplot-nox)
# NetCDF export, and the readers its tests check the files with (without the
# packages they merely recommend, which are many).
lean=()
[ -f /usr/include/netcdf.h ] || lean+=(libnetcdf-dev)
if [ "${1:-}" = "--tests" ]; then
  [ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
  parallel --version 2>/dev/null | grep -q 'GNU parallel' || missing+=(parallel)
  command -v chromium >/dev/null 2>&1 || missing+=(chromium)
  command -v ncdump >/dev/null 2>&1 || lean+=(netcdf-bin)
  command -v cdo >/dev/null 2>&1 || lean+=(cdo)
  /usr/bin/python3 -c 'import xarray, netCDF4' >/dev/null 2>&1 || lean+=(python3-xarray python3-netcdf4)
fi
[ ${#missing[@]} -eq 0 ] && [ ${#lean[@]} -eq 0 ] && exit 0

echo "=== installing ${missing[*]} ${lean[*]}"
sudo=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null 2>&1 || { echo "Please install as root: apt-get install ${missing[*]} ${lean[*]}" >&2; exit 1; }
  sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update
[ ${#missing[@]} -eq 0 ] || "${sudo[@]}" apt-get install -y "${missing[@]}"
[ ${#lean[@]} -eq 0 ] || "${sudo[@]}" apt-get install -y --no-install-recommends "${lean[@]}"
