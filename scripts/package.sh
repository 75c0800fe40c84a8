#!/usr/bin/env bash
# Builds both Windows targets (Release, as the tests run them) and makes the release packages
# in $VESK_BUILD_ROOT/packages (build/packages by default):
#   VeskTrayServer-<version>-win32.zip   for 32-bit Windows
#   VeskTrayServer-<version>-win64.zip   for 64-bit Windows, with the 32-bit client in sdk/x86
#
#   scripts/package.sh           build, then package
#   scripts/package.sh --check   build, package, then check the packages: file lists, machine
#                                types and versions, the example built against each unpacked
#                                sdk folder alone, and the 64-bit server run from the unpacked
#                                win64 package, answering the unpacked vesktrayctl
set -euo pipefail
source "$(dirname "$0")/common.sh"

check=0
case ${1:-} in
"") ;;
--check) check=1 ;;
*)
    echo "usage: scripts/package.sh [--check]" >&2
    exit 2
    ;;
esac

PACKAGES=$VESK_BUILD_ROOT/packages
# What goes into each zip is gathered here first, so that packages/ holds only the zips.
STAGING=$VESK_BUILD_ROOT/package-staging

vesk_build i686 x86_64

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$(vesk_build_dir x86_64)/CMakeCache.txt")
version32=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$(vesk_build_dir i686)/CMakeCache.txt")
[ -n "$version" ] || vesk_fail "reading the project's version" \
    "the build in $(vesk_build_dir x86_64) has no CMAKE_PROJECT_VERSION; check project(... VERSION ...) in CMakeLists.txt, remove the build folder and run again"
[ "$version" = "$version32" ] || vesk_fail "reading the project's version" \
    "the two builds say $version (x86_64) and $version32 (i686); remove $VESK_BUILD_ROOT/i686 and $VESK_BUILD_ROOT/x86_64 and run again"

# Copies files of one build into a folder, and strips the copies (the build keeps its
# symbols).   stage ARCH DEST FILE...   (FILE relative to the build's bin folder)
stage() {
    local arch=$1 dest=$2 bin file
    shift 2
    bin=$(vesk_build_dir "$arch")/bin
    mkdir -p "$dest"
    local -a binaries=()
    for file in "$@"; do
        [ -f "$bin/$file" ] || vesk_fail "collecting the $arch files" \
            "$bin/$file is missing from the build; run scripts/package.sh again, or remove $(vesk_build_dir "$arch") to build afresh"
        cp "$bin/$file" "$dest/"
        case $file in
        *.exe | *.dll | *.hk) binaries+=("$dest/$(basename "$file")") ;;
        esac
    done
    vesk_step "stripping the $arch binaries" \
        "check that $arch-w64-mingw32-strip is installed (scripts/install-deps.sh)" \
        "$arch-w64-mingw32-strip" "${binaries[@]}"
}

PROGRAMS=(VeskTrayServer.exe VeskTrayHook.hk vesktrayctl.exe)
SDK_FILES=(sdk/VeskTrayClient.dll sdk/libVeskTrayClient.dll.a sdk/VeskTrayClient.def
    sdk/VeskTrayClientExample.exe)

# The installation text with the version and the package's name, in CR LF lines.
write_install_text() {
    local name=$1 dest=$2
    sed -e "s/@VERSION@/$version/g" -e "s/@PACKAGE@/$name/g" -e 's/$/\r/' \
        "$VESK_ROOT/packaging/INSTALL.txt" >"$dest/INSTALL.txt"
}

# make_package win32|win64
make_package() {
    local flavour=$1 name stage zip
    name=VeskTrayServer-$version-$flavour
    stage=$STAGING/$name
    zip=$PACKAGES/$name.zip
    rm -rf "$stage" "$zip"
    mkdir -p "$stage/sdk"
    if [ "$flavour" = win64 ]; then
        stage x86_64 "$stage" "${PROGRAMS[@]}"
        stage x86_64 "$stage/sdk" "${SDK_FILES[@]}"
        # A 32-bit program meets the 64-bit server on 64-bit Windows: it needs the 32-bit DLL.
        stage i686 "$stage/sdk/x86" "${SDK_FILES[@]}"
    else
        stage i686 "$stage" "${PROGRAMS[@]}"
        stage i686 "$stage/sdk" "${SDK_FILES[@]}"
    fi
    cp "$VESK_ROOT/client/VeskTrayClient.h" "$VESK_ROOT/client/examples/VeskTrayClientExample.c" \
        "$stage/sdk/"
    write_install_text "$name" "$stage"
    # Sorted, so that the same build makes the same listing.
    (cd "$stage" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) >"$STAGING/$name.list"
    vesk_step "zipping $name" "check the free space in $PACKAGES; the staged files are in $stage" \
        bash -c 'cd "$1" && cmake -E tar cf "$2" --format=zip --files-from="$3"' _ \
        "$stage" "$zip" "$STAGING/$name.list"
    echo "made $zip"
}

mkdir -p "$PACKAGES"
make_package win32
make_package win64
[ "$check" = 1 ] || exit 0
exec "$VESK_ROOT/scripts/package-check.sh" "$PACKAGES/VeskTrayServer-$version-win32.zip" \
    "$PACKAGES/VeskTrayServer-$version-win64.zip"
