#!/usr/bin/env bash
# Compiles every source under src/ for Windows with the MinGW-w64 cross compiler, syntax only,
# so that platform code, missing includes and Windows-only errors fail on Linux. Nothing is
# linked, so moc's output is not needed.
#   bash scripts/windows-check.sh [BUILD_DIR]      (default: build; works in BUILD_DIR/windows-check)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
mkdir -p "${1:-build}/windows-check"
out=$(cd "${1:-build}/windows-check" && pwd)
# Headers the configuration writes (the version), from the build's own folder.
build=$(cd "${1:-build}" && pwd)
[ -f "$build/generated/core/context/version.h" ] ||
  { echo "windows-check: configure ${1:-build} first (cmake --preset default)" >&2; exit 1; }

cxx=x86_64-w64-mingw32-g++-posix
command -v "$cxx" >/dev/null || { echo "$cxx is missing: run scripts/setup-deps.sh as root" >&2; exit 1; }

# Qt's public headers are the same on every platform; they pick the Windows branches from the
# compiler's own macros. The generated qconfig.h and qt*-config.h are Debian's: they list the
# features of its build, and the public headers consult only portable ones that the Windows
# build enables as well. The mkspec folder is the Windows one, as a Windows build has it.
qt=/usr/include/x86_64-linux-gnu/qt6
mkspec=/usr/lib/x86_64-linux-gnu/qt6/mkspecs/win32-g++

# Headers from outside Qt, linked one by one: /usr/include itself would hand the cross compiler
# glibc's and Linux's headers in place of MinGW's.
inc="$out/include"
rm -rf "$inc"
mkdir -p "$inc"
quazip=$(pkg-config --cflags-only-I quazip1-qt6 | tr ' ' '\n' | sed -n 's|^-I\(.*/quazip\)$|\1|p')
outside=(/usr/include/sodium.h /usr/include/sodium /usr/include/zlib.h /usr/include/zconf.h
         "$quazip"/*.h)
for h in "$mkspec" "${outside[@]}"; do
  [ -e "$h" ] || { echo "windows-check: $h is missing" >&2; exit 1; }
done
ln -s "${outside[@]}" "$inc/"

flags=(-fsyntax-only -std=c++20
  # Qt's CMake package passes these for MinGW; the project's own warnings stay errors.
  -DUNICODE -D_UNICODE -DWIN32 -DWIN64 -D_WIN64 -D_ENABLE_EXTENDED_ALIGNED_STORAGE
  -DMINGW_HAS_SECURE_API=1 -DQT_NO_DEBUG -DNDEBUG
  -DQT_CORE_LIB -DQT_GUI_LIB -DQT_WIDGETS_LIB -DQT_SQL_LIB -DQT_CHARTS_LIB -DQT_SERIALPORT_LIB
  -DQT_CORE5COMPAT_LIB -DQT_OPENGL_LIB -DQT_OPENGLWIDGETS_LIB -DQT_PRINTSUPPORT_LIB
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion -Werror
  -I "$root/src" -I "$build/generated" -isystem "$qt" -isystem "$mkspec")
for m in Core Gui Widgets Sql Charts SerialPort Core5Compat OpenGL OpenGLWidgets PrintSupport; do
  flags+=(-isystem "$qt/Qt$m")
done
flags+=(-isystem "$inc")

# The working tree's sources: files being added count, deleted ones drop out.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t listed < <(git ls-files --cached --others --exclude-standard 'src/*.cpp')
else
  mapfile -t listed < <(find src -name '*.cpp' | sort)
fi
sources=()
for f in "${listed[@]}"; do [ -f "$f" ] && sources+=("$f"); done

logs="$out/logs"
rm -rf "$logs"
mkdir -p "$logs"
export cxx logs
compile() {
  local log="$logs/${1//\//_}.log"
  "$cxx" "${@:2}" "$1" >"$log" 2>&1 || touch "$log.failed"
}
export -f compile
# In the background, so that a caller's TERM also stops the compilers not yet started.
printf '%s\0' "${sources[@]}" |
  xargs -0 -P "$(nproc)" -I{} bash -c 'compile "$@"' _ {} "${flags[@]}" &
compiling=$!
trap 'kill "$compiling" 2>/dev/null; exit 143' TERM INT
wait "$compiling"
trap - TERM INT

failed=0
for f in "${sources[@]}"; do
  log="$logs/${f//\//_}.log"
  if [ -e "$log.failed" ]; then
    failed=$((failed + 1))
    echo "windows-check: $f does not compile for Windows; first lines (all in $log):"
    head -n 15 "$log"
  fi
done
if [ "$failed" -gt 0 ]; then
  echo "windows-check: $failed of ${#sources[@]} sources fail" >&2
  exit 1
fi
echo "windows-check: all ${#sources[@]} sources under src/ compile for Windows"
