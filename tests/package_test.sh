#!/usr/bin/env bash
# Builds the Debian package from a build tree, unpacks it into a scratch root and checks what a
# user gets: every file in its place, the package's dependencies, and the installed programs
# answering --version and --help (without a window or a module).
# Usage: package_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() { echo "package_test: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$scratch/out" > "$scratch/cpack.log" 2>&1) ||
  { cat "$scratch/cpack.log"; fail "cpack failed"; }
deb=$(ls "$scratch"/out/tarven_*.deb)
dpkg-deb -x "$deb" "$scratch/root"

for file in \
    usr/bin/tarven usr/bin/tarvenctl \
    usr/lib/udev/rules.d/70-tarven.rules \
    usr/share/applications/tarven.desktop \
    usr/share/icons/hicolor/scalable/apps/tarven.svg \
    usr/share/man/man1/tarven.1.gz usr/share/man/man1/tarvenctl.1.gz \
    usr/share/bash-completion/completions/tarvenctl \
    usr/share/tarven/README.firmware \
    usr/share/doc/tarven/copyright usr/share/doc/tarven/changelog.gz; do
  [ -f "$scratch/root/$file" ] || fail "$file is missing"
done
for program in tarven tarvenctl; do
  [ -x "$scratch/root/usr/bin/$program" ] || fail "/usr/bin/$program is not executable"
done
grep -q 'TAG+="uaccess"' "$scratch/root/usr/lib/udev/rules.d/70-tarven.rules" ||
  fail "the udev rule grants no access"
grep -q '^Icon=tarven$' "$scratch/root/usr/share/applications/tarven.desktop" ||
  fail "the desktop entry names no icon"
zcat "$scratch/root/usr/share/man/man1/tarvenctl.1.gz" | grep -q 'devices' ||
  fail "the tarvenctl manual page does not cover devices"

# The libraries come from dpkg-shlibdeps: the toolkit and hidapi must be among them.
depends=$(dpkg-deb -f "$deb" Depends)
for package in libqt6widgets6 libhidapi-hidraw0 qt6-qpa-plugins libc6; do
  case "$depends" in *"$package"*) ;; *) fail "Depends lacks $package: $depends" ;; esac
done
[ "$(dpkg-deb -f "$deb" Package)" = tarven ] || fail "the package is not called tarven"

# The programs as installed; no window opens and nothing looks for a module.
for program in tarven tarvenctl; do
  version=$("$scratch/root/usr/bin/$program" --version) || fail "$program --version failed"
  first=$(printf '%s\n' "$version" | head -n 1)
  case "$first" in "$program "[0-9]*) ;; *) fail "$program --version says: $version" ;; esac
  printf '%s\n' "$version" | grep -q '^firmware image: ' ||
    fail "$program --version does not name the firmware image"
  help=$("$scratch/root/usr/bin/$program" --help) || fail "$program --help failed"
  printf '%s\n' "$help" | grep -q -- '--simulate' || fail "$program --help lacks --simulate"
done
# A misspelt option stops tarven before anything opens (no display is needed for that).
status=0
err=$(env -u DISPLAY -u WAYLAND_DISPLAY "$scratch/root/usr/bin/tarven" --simualte 2>&1) || status=$?
[ "$status" -eq 2 ] || fail "tarven --simualte ended with $status"
case "$err" in *"'--simualte'"*) ;; *) fail "tarven --simualte says: $err" ;; esac
# The installed tarvenctl works against the simulated module.
"$scratch/root/usr/bin/tarvenctl" --simulate status | grep -q '^state: application$' ||
  fail "the installed tarvenctl cannot talk to the simulated module"
echo "package_test: $(basename "$deb") holds what it should"
