#!/bin/sh
# Fails when the manual page draws any remark from mandoc's lint or groff's warnings.
#   tools/lint-manpage.sh build/avistep.1
set -eu
page=$1
out=$( { mandoc -T lint "$page" && preconv "$page" | groff -ww -man -Tutf8 -z; } 2>&1) || {
    printf '%s\n' "$out"; exit 1; }
[ -z "$out" ] || { printf '%s\n' "$out"; exit 1; }
echo "$page: clean"
