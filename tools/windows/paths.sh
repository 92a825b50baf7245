# Sourced by the Windows scripts: where the Windows Qt, its tool-chain file and the MinGW
# run-time DLLs are. The Qt for Windows is not part of the source tree: SCORLET_WINDOWS_QT
# names it, else it is ../shared/windows/qt-6.4.2-mingw64 beside the source tree, where CI and
# our machines have it. A missing Qt stops the script with a message; nothing is skipped.
source_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
windows_shared=$source_root/../shared/windows
windows_qt=${SCORLET_WINDOWS_QT:-$windows_shared/qt-6.4.2-mingw64}
windows_toolchain=${SCORLET_WINDOWS_TOOLCHAIN:-$windows_shared/mingw64.cmake}
if [[ ! -f $windows_qt/lib/cmake/Qt6/Qt6Config.cmake ]]; then
    echo "${0##*/}: no Qt for Windows at $windows_qt; set SCORLET_WINDOWS_QT to its folder" >&2
    exit 1
fi
if [[ ! -f $windows_toolchain ]]; then
    echo "${0##*/}: no tool-chain file at $windows_toolchain; set SCORLET_WINDOWS_TOOLCHAIN" >&2
    exit 1
fi
windows_qt=$(readlink -f "$windows_qt")
windows_toolchain=$(readlink -f "$windows_toolchain")
# Debian's MinGW-w64, posix threads: the C++ run-time and the threads library.
mingw_runtime_dirs=(/usr/lib/gcc/x86_64-w64-mingw32/*-posix /usr/x86_64-w64-mingw32/lib)
