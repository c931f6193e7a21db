#!/usr/bin/env bash
# Holds the library's includes to its layers: conversion/encodings includes nothing of files/ or
# translation/, and conversion/files nothing of translation/. And holds every program to the file-system
# layer: no file is opened, looked at, listed, made, renamed or removed but by the layer's
# implementations (conversion/files/filesystem_*.cpp, writertarget_*.cpp, systemerror_windows.cpp).
# Prints each line that breaks either; the exit status is 1 when there is one.
set -euo pipefail
cd "$(dirname "$0")/../conversion"
headers() { (cd "$1" && ls *.h); }
status=0
check() {
    local folder=$1
    shift
    for higher in "$@"; do
        for header in $(headers "$higher"); do
            if grep -n "#include \"$header\"" "$folder"/*.h "$folder"/*.cpp 2>/dev/null; then
                echo "check_layers: $folder includes $higher/$header" >&2
                status=1
            fi
        done
    done
}
check encodings files translation
check files translation

# The calls that reach files, each system's and the toolkit's; what only encodes a name is no call.
calls='(^|[^A-Za-z_.>])open\(|\bfopen\b|::(stat|fstat|lstat|fstatat|unlink|mkdir|opendir|rename|openat|ftruncate|fsync)\('
calls+='|\bCreateFileW\b|GetFileAttributes|DeleteFileW|MoveFileExW|FindFirstFileW|std::(i|o)?fstream'
calls+='|(fs|filesystem)::(exists|is_directory|is_regular_file|status|symlink_status|current_path|remove|rename|create_director)'
calls+='|\bis_directory\b|\bQFileInfo\b|\bQSaveFile\b|\bQFile\b[^:>]|QFile::[a-cf-z]'
cd ..
if grep -nE "$calls" --include='*.cpp' --include='*.h' -r conversion cli thumbnailer window web/bindings.cpp |
        grep -vE '^conversion/files/(filesystem_|writertarget_|systemerror_)'; then
    echo "check_layers: files reached outside the file-system layer (conversion/files/filesystem.h)" >&2
    status=1
fi
exit $status
