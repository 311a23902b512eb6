#!/usr/bin/env bash
# The Debian package as a user gets it: built by CPack from the build tree,
# listed, its control data read, extracted into a temporary folder, its
# programs run from there, and checked by lintian, desktop-file-validate and
# appstreamcli. Nothing is installed into the machine's own folders.
#
# check_package.sh BUILD_DIR SOURCE_DIR VERSION PREFIX UDEV_RULES_DIR
set -euo pipefail

build=$1 source=$2 version=$3 prefix=$4 rules_dir=$5

# A Debian package holds its files under /usr; a build for another prefix
# (the default and asan presets install under /usr/local) makes no valid one.
if [ "$prefix" != /usr ]; then
    echo "skipped: this build installs under $prefix, a Debian package under /usr" \
        "(the release preset builds one: ctest --preset package)"
    exit 77
fi
arch=$(dpkg --print-architecture)
work=$(mktemp -d "${TMPDIR:-/tmp}/brantle-package.XXXXXX")
trap 'rm -rf "$work"' EXIT

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
ok() { echo "ok: $*"; }

cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 || {
    cat "$work/cpack.log" >&2
    echo "FAIL: cpack did not build the package" >&2
    exit 1
}
deb=$work/out/brantle_${version}_${arch}.deb
[ -f "$deb" ] || { ls -l "$work/out" >&2; echo "FAIL: no $(basename "$deb")" >&2; exit 1; }
ok "built $(basename "$deb") ($(stat -c %s "$deb") bytes)"

# Every file the package must hold, and the mode it must have.
dpkg-deb -c "$deb" >"$work/contents"
p=.${prefix}
expected=(
    "-rwxr-xr-x $p/bin/brantle"
    "-rwxr-xr-x $p/bin/brantle-sim"
    "-rwxr-xr-x $p/bin/brantle-cli"
    "-rw-r--r-- .${rules_dir}/60-brantle.rules"
    "-rw-r--r-- $p/share/applications/example.orvane.Brantle.desktop"
    "-rw-r--r-- $p/share/applications/example.orvane.BrantleSim.desktop"
    "-rw-r--r-- $p/share/icons/hicolor/scalable/apps/example.orvane.Brantle.svg"
    "-rw-r--r-- $p/share/metainfo/example.orvane.Brantle.metainfo.xml"
    "-rw-r--r-- $p/share/man/man1/brantle.1.gz"
    "-rw-r--r-- $p/share/man/man1/brantle-sim.1.gz"
    "-rw-r--r-- $p/share/man/man1/brantle-cli.1.gz"
    "-rw-r--r-- $p/share/doc/brantle/copyright"
    "-rw-r--r-- $p/share/doc/brantle/changelog.gz"
    "-rw-r--r-- $p/share/doc/brantle/examples/eeprom-read.txt"
    "-rw-r--r-- $p/share/lintian/overrides/brantle"
)
for size in 16 22 24 32 48 64 128 256; do
    expected+=("-rw-r--r-- $p/share/icons/hicolor/${size}x${size}/apps/example.orvane.Brantle.png")
done
for entry in "${expected[@]}"; do
    mode=${entry%% *} path=${entry#* }
    line=$(awk -v path="$path" '$6 == path' "$work/contents")
    if [ -z "$line" ]; then
        fail "the package lacks $path"
    elif [ "$(awk '{print $1 " " $2}' <<<"$line")" != "$mode root/root" ]; then
        fail "$path: $(awk '{print $1 " " $2}' <<<"$line"), not $mode root/root"
    fi
done
ok "the package lists ${#expected[@]} files"

# Control data.
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = brantle ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version), not $version"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
[ "$(field Section)" = electronics ] || fail "Section: $(field Section)"
depends=$(field Depends)
for lib in libc6 libqt6core6 libqt6gui6 libqt6widgets6 libusb-1.0-0; do
    grep -Eq "(^|, )$lib( |,|$)" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
dpkg-deb -e "$deb" "$work/control"
for script in postinst postrm; do
    if [ ! -x "$work/control/$script" ]; then
        fail "no executable $script"
    elif ! sh -n "$work/control/$script" || ! grep -q 'udevadm control --reload-rules' "$work/control/$script"; then
        fail "$script does not reload the udev rules"
    fi
done
ok "control: $(field Package) $(field Version) $(field Architecture), Depends: $depends"

# The maintainer scripts, run with a udevadm that only notes its calls: they
# reload and re-apply the rules where udev runs, and succeed where it does
# not (a chroot, a container), since a failure there would fail the install.
mkdir -p "$work/fakebin"
printf '#!/bin/sh\necho "$*" >>"%s"\n' "$work/udevadm.calls" >"$work/fakebin/udevadm"
chmod +x "$work/fakebin/udevadm"
for run in "postinst configure" "postrm remove" "postrm purge"; do
    rm -f "$work/udevadm.calls"
    PATH=$work/fakebin:$PATH sh "$work/control/${run%% *}" "${run#* }" ||
        fail "$run exited $?"
    if [ -S /run/udev/control ]; then
        grep -q -- '--reload-rules' "$work/udevadm.calls" 2>/dev/null &&
            grep -q -- 'trigger' "$work/udevadm.calls" ||
            fail "$run did not reload and re-apply the udev rules"
    elif [ -e "$work/udevadm.calls" ]; then
        fail "$run called udevadm without udev running: $(cat "$work/udevadm.calls")"
    fi
done
ok "the maintainer scripts"

# The programs, run from the extracted tree: their resources are compiled in.
root=$work/root
dpkg-deb -x "$deb" "$root"
example=$root$prefix/share/doc/brantle/examples/eeprom-read.txt
if "$root$prefix/bin/brantle-cli" --sim "$example" >"$work/out.txt" 2>"$work/err.txt"; then
    grep -qx "OK." "$work/err.txt" || fail "brantle-cli --sim said: $(cat "$work/err.txt")"
    # The simulated EEPROM holds its own addresses; the example reads 64
    # bytes from address 0 twice.
    for row in "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F" \
        "30 31 32 33 34 35 36 37 38 39 3A 3B 3C 3D 3E 3F ;"; do
        [ "$(grep -cE "^$row ?\$" "$work/out.txt")" = 2 ] ||
            fail "brantle-cli --sim did not show the EEPROM bytes '$row' twice"
    done
    ok "brantle-cli --sim read the simulated EEPROM"
else
    fail "brantle-cli --sim exited $?: $(cat "$work/err.txt")"
fi
cli_version=$("$root$prefix/bin/brantle-cli" --version)
[ "$cli_version" = "brantle-cli $version" ] || fail "brantle-cli --version: $cli_version"
# The windows start and keep running until they are stopped.
for program in brantle brantle-sim; do
    status=0
    QT_QPA_PLATFORM=offscreen timeout 3 "$root$prefix/bin/$program" >"$work/$program.log" 2>&1 || status=$?
    [ "$status" = 124 ] || fail "$program ended with $status: $(cat "$work/$program.log")"
done
ok "the programs run from the extracted tree"

# What the package says of itself agrees with the build.
metainfo=$root$prefix/share/metainfo/example.orvane.Brantle.metainfo.xml
grep -q "<release version=\"$version\"" "$metainfo" || fail "the metainfo has no release $version"
cmp -s "$root$rules_dir/60-brantle.rules" "$source/packaging/60-brantle.rules" ||
    fail "the packaged udev rule differs from packaging/60-brantle.rules"
while read -r vendor product; do
    grep -q "<modalias>usb:v${vendor^^}p${product^^}d\*</modalias>" "$metainfo" ||
        fail "the metainfo does not name the adapter ${vendor}:${product}"
done < <(sed -n 's/.*idVendor}=="\([0-9a-fA-F]*\)".*idProduct}=="\([0-9a-fA-F]*\)".*/\1 \2/p' \
    "$root$rules_dir/60-brantle.rules")
zcat "$root$prefix/share/doc/brantle/changelog.gz" | head -n 1 | grep -q "^brantle ($version)" ||
    fail "the changelog does not begin with brantle ($version)"

# The three validators.
for desktop in "$root$prefix"/share/applications/*.desktop; do
    out=$(desktop-file-validate "$desktop" 2>&1) && [ -z "$out" ] ||
        fail "desktop-file-validate $(basename "$desktop"): $out"
done
appstreamcli validate --no-net --no-color "$metainfo" >"$work/appstream.log" 2>&1 ||
    fail "appstreamcli validate: $(cat "$work/appstream.log")"
lintian --fail-on error,warning --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1 ||
    fail "lintian: $(cat "$work/lintian.log")"
ok "desktop-file-validate, appstreamcli and lintian: $(grep -c . "$work/lintian.log" || true) lintian lines"
sed 's/^/  lintian: /' "$work/lintian.log"

if [ "$failures" -ne 0 ]; then
    echo "$failures failures" >&2
    exit 1
fi
echo "the package passed"
