#!/usr/bin/env bash
# Checks the release packages that scripts/package.sh made, each unpacked into a scratch
# folder ($VESK_BUILD_ROOT/package-check):
#   - the file list, and INSTALL.txt in CR LF lines;
#   - every binary's machine type and version resource; each DLL exports exactly the plain
#     names its .def file lists; the 32-bit binaries import only what Windows 2000/XP have;
#   - the example, built with MinGW of each bitness against the unpacked sdk folder alone:
#     with the shipped import library, through dllimport, and with an import library made
#     from the .def file by dlltool (and by llvm-dlltool where it is installed);
#   - the 64-bit server run from the unpacked win64 package in a 64-bit Wine prefix of its
#     own: the unpacked vesktrayctl refuses the 32-bit server, installs the 64-bit one in
#     start mode 1, gets an answer from "status", the examples run against it, "quit" ends it.
#
#   scripts/package-check.sh WIN32_ZIP WIN64_ZIP      (scripts/package.sh --check runs it)
set -euo pipefail
source "$(dirname "$0")/common.sh"

[ $# -eq 2 ] || {
    echo "usage: scripts/package-check.sh VeskTrayServer-VERSION-win32.zip VeskTrayServer-VERSION-win64.zip" >&2
    exit 2
}
ZIP32=$(realpath "$1")
ZIP64=$(realpath "$2")
version=$(basename "$ZIP64" | sed -n 's/^VeskTrayServer-\(.*\)-win64\.zip$/\1/p')
[ -n "$version" ] && [ "$(basename "$ZIP32")" = "VeskTrayServer-$version-win32.zip" ] ||
    vesk_fail "reading the packages' version" \
        "name the two packages as scripts/package.sh makes them: VeskTrayServer-VERSION-win32.zip and VeskTrayServer-VERSION-win64.zip"
# The version resource has four numbers: 1.0.0 is 1.0.0.0.
file_version=$version
while [ "$(echo "$file_version" | tr -cd . | wc -c)" -lt 3 ]; do file_version=$file_version.0; done

WORK=$VESK_BUILD_ROOT/package-check
PREFIX=$WORK/wineprefix
LOGS=$WORK/logs
PECHECK=$VESK_ROOT/tools/pecheck/VeskPeCheck.py
pecheck() { python3 "$PECHECK" "$@"; }
ok() { echo "ok: $*"; }

rm -rf "$WORK/unpacked" "$WORK/built" "$LOGS"
mkdir -p "$WORK/unpacked/win32" "$WORK/unpacked/win64" "$WORK/built" "$LOGS"

# What each package holds, one path a line, sorted.
expected_files() {
    {
        printf '%s\n' INSTALL.txt VeskTrayServer.exe VeskTrayHook.hk vesktrayctl.exe \
            sdk/VeskTrayClient.h sdk/VeskTrayClient.dll sdk/libVeskTrayClient.dll.a \
            sdk/VeskTrayClient.def sdk/VeskTrayClientExample.c sdk/VeskTrayClientExample.exe
        if [ "$1" = win64 ]; then
            printf '%s\n' sdk/x86/VeskTrayClient.dll sdk/x86/libVeskTrayClient.dll.a \
                sdk/x86/VeskTrayClient.def sdk/x86/VeskTrayClientExample.exe
        fi
    } | LC_ALL=C sort
}

# ---- unpacking, file lists, the installation text
for flavour in win32 win64; do
    dir=$WORK/unpacked/$flavour
    zip=$ZIP32
    [ "$flavour" = win64 ] && zip=$ZIP64
    [ -f "$zip" ] || vesk_fail "finding the $flavour package" "run scripts/package.sh first (it makes $zip)"
    vesk_step "unpacking $(basename "$zip")" "the zip file is damaged: run scripts/package.sh again" \
        bash -c 'cd "$1" && cmake -E tar xf "$2"' _ "$dir" "$zip"
    (cd "$dir" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) >"$LOGS/$flavour-files.txt"
    expected_files "$flavour" >"$LOGS/$flavour-expected.txt"
    diff -u "$LOGS/$flavour-expected.txt" "$LOGS/$flavour-files.txt" >"$LOGS/$flavour-files.diff" ||
        vesk_fail "comparing the file list of $(basename "$zip")" \
            "the package holds other files than expected (- missing, + unexpected): fix scripts/package.sh, or expected_files in scripts/package-check.sh when the change is meant" \
            "$LOGS/$flavour-files.diff"
    if grep -qv $'\r$' "$dir/INSTALL.txt" || grep -q '@[A-Z]*@' "$dir/INSTALL.txt" ||
        ! grep -q "VeskTrayServer-$version-$flavour" "$dir/INSTALL.txt"; then
        vesk_fail "checking INSTALL.txt of $(basename "$zip")" \
            "every line must end in CR LF and name the version and package; see write_install_text in scripts/package.sh"
    fi
    ok "$(basename "$zip"): $(wc -l <"$LOGS/$flavour-files.txt") files as expected, INSTALL.txt in CR LF lines"
done

# ---- machine types, version resources, exports, imports
U32=$WORK/unpacked/win32
U64=$WORK/unpacked/win64
BINARIES="VeskTrayServer.exe VeskTrayHook.hk vesktrayctl.exe sdk/VeskTrayClient.dll sdk/VeskTrayClientExample.exe"
# "path machine" pairs
{
    for f in $BINARIES; do echo "$U32/$f i686"; done
    for f in $BINARIES; do echo "$U64/$f x86_64"; done
    for f in VeskTrayClient.dll VeskTrayClientExample.exe; do echo "$U64/sdk/x86/$f i686"; done
} >"$LOGS/binaries.txt"
while read -r file machine; do
    name=${file#"$WORK/unpacked/"}
    said=$(pecheck machine "$file" 2>&1) || vesk_fail "reading the machine type of $name" "$said"
    [ "$said" = "$machine" ] || vesk_fail "checking the machine type of $name" \
        "it is $said, the package needs $machine: check which build scripts/package.sh copies it from"
    said=$(pecheck version "$file" 2>&1) || vesk_fail "reading the version resource of $name" \
        "$said; every shipped binary gets one from vesk_add_version_resource (cmake/VeskVersion.cmake)"
    [ "$said" = "$file_version" ] || vesk_fail "checking the version of $name" \
        "its version resource says $said, the package is $version: rebuild (scripts/package.sh)"
done <"$LOGS/binaries.txt"
ok "$(wc -l <"$LOGS/binaries.txt") binaries: machine types as expected, version $file_version"

for sdk in "$U32/sdk" "$U64/sdk" "$U64/sdk/x86"; do
    name=${sdk#"$WORK/unpacked/"}
    sed -n 's/^[ \t]\+\([A-Za-z_][A-Za-z0-9_]*\).*/\1/p' "$sdk/VeskTrayClient.def" | LC_ALL=C sort >"$LOGS/def-names.txt"
    pecheck exports "$sdk/VeskTrayClient.dll" | LC_ALL=C sort >"$LOGS/dll-exports.txt"
    [ -s "$LOGS/def-names.txt" ] && diff -u "$LOGS/def-names.txt" "$LOGS/dll-exports.txt" >"$LOGS/exports.diff" ||
        vesk_fail "comparing the exports of $name/VeskTrayClient.dll with its .def file" \
            "the DLL must export the .def file's names, plain (- only in the .def, + only in the DLL); see client/VeskTrayClientDef.cmake" \
            "$LOGS/exports.diff"
done
ok "each VeskTrayClient.dll exports the $(wc -l <"$LOGS/def-names.txt") plain names of its .def file"

vesk_step "checking the 32-bit binaries against Windows 2000/XP" \
    "a 32-bit binary imports a function that Windows 2000/XP lack, or one not yet listed in tools/pecheck/legacy-imports.txt" \
    pecheck check-legacy "$U32/VeskTrayServer.exe" "$U32/VeskTrayHook.hk" "$U32/vesktrayctl.exe" \
    "$U32/sdk/VeskTrayClient.dll" "$U64/sdk/x86/VeskTrayClient.dll" "$U32/sdk/VeskTrayClientExample.exe" \
    "$U64/sdk/x86/VeskTrayClientExample.exe"
vesk_step "checking the hook libraries' exports" \
    "VeskTrayHook.hk must export its four entry points under plain names" \
    pecheck check-hook "$U32/VeskTrayHook.hk" "$U64/VeskTrayHook.hk"
ok "32-bit binaries import only what Windows 2000/XP have; hook libraries export plain names"

# ---- the example, built against each unpacked sdk folder alone
# build_example NAME COMPILER_PREFIX HEADER_DIR DLL_DIR [ARGS...]: the package's example
# with its header, the program in $WORK/built/NAME with the DLL beside it.
build_example() {
    local name=$1 target=$2 include=$3 sdk=$4
    shift 4
    local out=$WORK/built/$name
    mkdir -p "$out"
    vesk_step "building the example ($name)" \
        "the example must build against the unpacked sdk folder alone ($sdk): check the header, the import library and the .def file that scripts/package.sh ships" \
        "$target-gcc" -Wall -Wextra -Werror -o "$out/VeskTrayClientExample.exe" \
        "$include/VeskTrayClientExample.c" -I"$include" "$@"
    cp "$sdk/VeskTrayClient.dll" "$out/"
    # Every name it takes from the DLL must be one the DLL exports (plain, also on i686).
    pecheck exports "$sdk/VeskTrayClient.dll" >"$LOGS/exports-$name.txt"
    pecheck imports "$out/VeskTrayClientExample.exe" | sed -n 's/^VESKTRAYCLIENT\.DLL!//p' >"$LOGS/imports-$name.txt"
    [ -s "$LOGS/imports-$name.txt" ] && ! grep -qvxFf "$LOGS/exports-$name.txt" "$LOGS/imports-$name.txt" ||
        vesk_fail "checking what the example ($name) imports" \
            "it must import from VeskTrayClient.dll only names the DLL exports; it imports: $(tr '\n' ' ' <"$LOGS/imports-$name.txt")"
}
# "name compiler header-folder DLL-folder": the win64 package's 32-bit files use its header.
for target_sdk in "win32 i686-w64-mingw32 $U32/sdk $U32/sdk" \
    "win64 x86_64-w64-mingw32 $U64/sdk $U64/sdk" "win64-x86 i686-w64-mingw32 $U64/sdk $U64/sdk/x86"; do
    read -r flavour target include sdk <<<"$target_sdk"
    build_example "$flavour" "$target" "$include" "$sdk" "$sdk/libVeskTrayClient.dll.a"
    build_example "$flavour-dllimport" "$target" "$include" "$sdk" -DVESK_TRAY_CLIENT_DLL \
        "$sdk/libVeskTrayClient.dll.a"
    vesk_step "making an import library from $flavour's .def file with dlltool" \
        "the .def file must make a working import library: see client/VeskTrayClientDef.cmake" \
        "$target-dlltool" -k -d "$sdk/VeskTrayClient.def" -l "$WORK/built/$flavour-dlltool.a"
    build_example "$flavour-dlltool" "$target" "$include" "$sdk" "$WORK/built/$flavour-dlltool.a"
    if command -v llvm-dlltool >/dev/null; then
        machine=i386
        [ "$target" = x86_64-w64-mingw32 ] && machine=i386:x86-64
        vesk_step "making an import library from $flavour's .def file with llvm-dlltool" \
            "the .def file must make a working import library: see client/VeskTrayClientDef.cmake" \
            llvm-dlltool -m "$machine" -k -d "$sdk/VeskTrayClient.def" -l "$WORK/built/$flavour-llvm.lib"
        build_example "$flavour-llvm-dlltool" "$target" "$include" "$sdk" "$WORK/built/$flavour-llvm.lib"
    fi
done
ok "the example builds against each unpacked sdk folder: $(ls "$WORK/built" | grep -cv '\.a$\|\.lib$') ways"

# ---- the 64-bit server from the unpacked win64 package
export WINEPREFIX=$PREFIX
vesk_make_prefix "$PREFIX" win64
server_pid=
finish() {
    if [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; then
        kill "$server_pid" 2>/dev/null || true
    fi
    wineserver -k 2>/dev/null || true
}
trap finish EXIT
# A clean start: nothing left in this prefix from an earlier run. One wineserver for the
# run, and Wine's background services started apart, so that they hold no output of ours.
wineserver -k 2>/dev/null || true
wineserver -p </dev/null >/dev/null 2>&1
"$VESK_WINE64" cmd /c exit </dev/null >/dev/null 2>&1 || true

windows_path() { echo "Z:$1" | tr / '\\'; }

# Runs the unpacked 64-bit vesktrayctl; its output goes to $LOGS/ctl.log, the exit code is
# returned.
ctl() {
    local code=0
    "$VESK_WINE64" "$U64/vesktrayctl.exe" "$@" </dev/null >"$LOGS/ctl.log" 2>&1 || code=$?
    return $code
}

# Polls until the command succeeds; false when the deadline (seconds) passed first.
wait_until() {
    local seconds=$1
    shift
    local deadline=$((SECONDS + seconds))
    until "$@"; do
        [ $SECONDS -lt $deadline ] || return 1
        sleep 0.2
    done
}

code=0
ctl install --mode 1 --server "$(windows_path "$U32/VeskTrayServer.exe")" || code=$?
[ $code = 9 ] && [ ! -e "$U32/VeskTrayServer.ini" ] ||
    vesk_fail "installing the 32-bit server with the 64-bit vesktrayctl" \
        "on 64-bit Windows it must be refused with exit code 9 and nothing written; it gave exit code $code" "$LOGS/ctl.log"
ok "the 32-bit server is refused on 64-bit Windows: $(cat "$LOGS/ctl.log")"

code=0
(cd "$U64" && ctl install --mode 1) || code=$?
[ $code = 0 ] || vesk_fail "installing the unpacked 64-bit server (vesktrayctl install --mode 1)" \
    "it gave exit code $code; see what it said" "$LOGS/ctl.log"
# UTF-16LE with a byte-order mark, CR LF between lines: the server's own layout.
{
    printf '\xff\xfe'
    printf '[VeskTrayServer]\r\nRegistration Method = 1' | iconv -f UTF-8 -t UTF-16LE
} >"$LOGS/mode1.ini"
cmp -s "$LOGS/mode1.ini" "$U64/VeskTrayServer.ini" ||
    vesk_fail "checking the settings file vesktrayctl wrote" \
        "$U64/VeskTrayServer.ini is not start mode 1 in the server's layout (compare it with $LOGS/mode1.ini)"
ok "vesktrayctl install --mode 1 wrote start mode 1 beside the unpacked server"

code=0
ctl status || code=$?
[ $code = 3 ] || vesk_fail "checking that no server runs yet in $PREFIX" \
    "vesktrayctl status gave exit code $code instead of 3; end what runs there with: WINEPREFIX=$PREFIX wineserver -k" "$LOGS/ctl.log"

(cd "$U64" && exec "$VESK_WINE64" "$U64/VeskTrayServer.exe") </dev/null >"$LOGS/server.log" 2>&1 &
server_pid=$!
server_answers() {
    kill -0 "$server_pid" 2>/dev/null ||
        vesk_fail "starting the unpacked 64-bit server" "it ended before it answered; see what it said" "$LOGS/server.log"
    ctl status
}
wait_until 30 server_answers ||
    vesk_fail "waiting for the unpacked 64-bit server to answer vesktrayctl status" \
        "it did not answer within 30 seconds; see what status said last" "$LOGS/ctl.log"
echo "ok: the unpacked 64-bit server answers; the unpacked vesktrayctl.exe status says:"
sed 's/^/    /' "$LOGS/ctl.log"

# run_example NAME LOADER PROGRAM
run_example() {
    local name=$1 loader=$2 program=$3 code=0 log
    log=$LOGS/example-$(echo "$name" | tr -c 'A-Za-z0-9\n-' '-').log
    "$loader" "$program" </dev/null >"$log" 2>&1 || code=$?
    [ $code = 0 ] && grep -q '^AddMonitor(1) returned 0' "$log" &&
        grep -q '^RemoveMonitor(1) returned 0' "$log" ||
        vesk_fail "running the example ($name) against the unpacked server" \
            "it must exit with 0 and print that AddMonitor(1) and RemoveMonitor(1) returned 0 (the shipped hook library's answer); it exited with $code" "$log"
    ok "example ($name) against the server: $(tr -d '\r' <"$log" | paste -sd ';' | sed 's/;/; /g')"
}
run_example "unpacked sdk" "$VESK_WINE64" "$U64/sdk/VeskTrayClientExample.exe"
run_example "built from the package" "$VESK_WINE64" "$WORK/built/win64/VeskTrayClientExample.exe"
run_example "built through dlltool" "$VESK_WINE64" "$WORK/built/win64-dlltool/VeskTrayClientExample.exe"
# A 32-bit client meets the 64-bit server, where this machine runs 32-bit programs.
if vesk_can_run_32bit; then
    run_example "unpacked sdk/x86, 32-bit" "$VESK_WINE32" "$U64/sdk/x86/VeskTrayClientExample.exe"
    run_example "32-bit, built through dlltool" "$VESK_WINE32" "$WORK/built/win64-x86-dlltool/VeskTrayClientExample.exe"
else
    echo "note: the 32-bit examples were built, not run: $VESK_NO_32BIT_WHY"
fi

code=0
ctl quit || code=$?
[ $code = 0 ] || vesk_fail "asking the unpacked server to quit (vesktrayctl quit)" \
    "it gave exit code $code; see what it said" "$LOGS/ctl.log"
# Gone, or ended and not yet collected (its state after the name in /proc/PID/stat is Z).
server_gone() {
    local stat
    stat=$(cat "/proc/$server_pid/stat" 2>/dev/null) || return 0
    stat=${stat##*) }
    [[ $stat == Z* ]]
}
wait_until 10 server_gone ||
    vesk_fail "waiting for the unpacked server's process to end" "vesktrayctl quit said it ended, yet its process $server_pid runs on" "$LOGS/server.log"
code=0
wait "$server_pid" || code=$?
server_pid=
[ $code = 0 ] || vesk_fail "ending the unpacked server" "it ended with exit code $code; see what it said" "$LOGS/server.log"
ok "vesktrayctl quit: $(tr -d '\r' <"$LOGS/ctl.log")"
echo "the packages are good: $(basename "$ZIP32"), $(basename "$ZIP64")"
