#!/usr/bin/env bash
# Holds the library's includes to its layers: conversion/encodings includes nothing of files/ or
# translation/, and conversion/files nothing of translation/. Prints each include that breaks that;
# the exit status is 1 when there is one.
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
exit $status
