#!/usr/bin/env bash
# ./run demo: the guided tour on a fresh node directory that is removed afterwards.
set -euo pipefail
build=${1:?usage: demo.sh BUILD_DIR}
home=$(mktemp -d "${TMPDIR:-/tmp}/qmsec-demo.XXXXXX")
trap 'rm -rf "$home"' EXIT
export QMXPL_HOME="$home"
"$build/tools/qmsec_tour"
