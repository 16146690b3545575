#!/usr/bin/env bash
# Makes build/packages/vantel_<version>_<arch>.deb from the release build. The files are
# staged by the build's own install rules (as `make install` runs them, with the prefix
# /usr), then made fit for Debian: stripped programs, compressed manual pages, the copyright
# file and changelog Debian wants. Usage: package-deb.sh [BUILD_DIR [OUT_DIR]]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/linux-release}
out=${2:-build/packages}
templates=packaging/linux

die() {
    echo "package-deb: $*" >&2
    exit 1
}

[ -f "$build/package.env" ] || die "$build is not configured; run make build-linux-release first"
# The version comes from the project() line, through the build.
version=$(sed -n 's/^version=//p' "$build/package.env")
manual_pages=$(sed -n 's/^manual_pages=//p' "$build/package.env")
[ -n "$version" ] || die "no version in $build/package.env"
[ "$manual_pages" = yes ] ||
    die "the build has no manual pages: scdoc was not found when $build was configured; install it (make deps) and run make build-linux-release again"
for tool in dpkg-deb dpkg-shlibdeps strip gzip md5sum; do
    command -v "$tool" >/dev/null || die "$tool is missing; make deps installs it"
done
arch=$(dpkg --print-architecture)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# dpkg-shlibdeps wants the tree a source package would build: debian/control beside
# debian/<package>. It lives only in this scratch directory.
root="$work/debian/vantel"
DESTDIR="$root" cmake --install "$build" --prefix /usr >/dev/null
doc="$root/usr/share/doc/vantel"
for page in man1/vantel.1 man8/vantel-relay.8; do
    [ -f "$root/usr/share/man/$page" ] || die "the install rules left out the manual page $page"
done

strip --strip-unneeded --remove-section=.comment --remove-section=.note \
    "$root/usr/bin/vantel-relay" "$root/usr/bin/vantel"
gzip -9n "$root"/usr/share/man/man*/*

# The licence goes into the machine-readable copyright file; Debian wants no second copy.
{
    echo "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"
    echo "Upstream-Name: Vantel"
    echo "Upstream-Contact: Vantel developers <support@vantel.example>"
    echo "Source: https://vantel.example/"
    echo
    echo "Files: *"
    sed -n 's/^Copyright (c) /Copyright: /p' LICENSE
    echo "License: Expat"
    # The licence text below its copyright line, as a DEP-5 continuation.
    sed -n '/^Permission is hereby granted/,$p' LICENSE | sed 's/^$/./; s/^/ /'
} >"$doc/copyright"
rm "$doc/LICENSE"
grep -q '^Copyright: ' "$doc/copyright" || die "LICENSE has no 'Copyright (c)' line"

sed "s/@VERSION@/$version/" "$templates/changelog.in" | gzip -9n >"$doc/changelog.gz"

mkdir "$root/DEBIAN"
printf 'Source: vantel\n\nPackage: vantel\nArchitecture: any\n' >"$work/debian/control"
# Its warning that the programs are not in the package's directory is wrong here (they are,
# with DEBIAN/ beside them) and says nothing; every other message gets through.
depends=$(cd "$work" && dpkg-shlibdeps -O -e debian/vantel/usr/bin/vantel-relay \
    -e debian/vantel/usr/bin/vantel 2> >(grep -v "installed in their package's directory" >&2))
depends=${depends#shlibs:Depends=}
[ -n "$depends" ] || die "dpkg-shlibdeps found no libraries"

# Whatever the umask: directories 0755; the install rules set the files' modes.
find "$root" -type d -exec chmod 0755 {} +
(cd "$root" && find usr -type f -print0 | sort -z | xargs -0 md5sum) >"$root/DEBIAN/md5sums"
installed_size=$(du -sk --apparent-size "$root/usr" | cut -f1)
sed -e "s/@VERSION@/$version/" -e "s/@ARCH@/$arch/" -e "s/@DEPENDS@/$depends/" \
    -e "s/@INSTALLED_SIZE@/$installed_size/" "$templates/control.in" >"$root/DEBIAN/control"
chmod 0644 "$root/DEBIAN/control" "$root/DEBIAN/md5sums"

mkdir -p "$out"
deb="$out/vantel_${version}_${arch}.deb"
dpkg-deb --build --root-owner-group "$root" "$deb" >/dev/null
echo "package-deb: $deb"
