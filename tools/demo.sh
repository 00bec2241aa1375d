#!/usr/bin/env bash
# ./run demo: a narrated tour of qmsec on a fresh node directory that is removed afterwards.
set -euo pipefail
build=$(cd "${1:?usage: demo.sh BUILD_DIR}" && pwd)
qmsec_bin="$build/tools/qmsec/qmsec"
home=$(mktemp -d "${TMPDIR:-/tmp}/qmsec-demo.XXXXXX")
trap 'rm -rf "$home"' EXIT
export QMXPL_HOME="$home/node"
cd "$home"

bold=$'\033[1m' dim=$'\033[2m' off=$'\033[0m'
[ -t 1 ] || { bold='' dim='' off=''; }
say() { printf '\n%s%s%s\n' "$bold" "$*" "$off"; }
# Shows a command as typed, then runs it.
run() {
    printf '%s$ %s%s\n' "$dim" "$*" "$off"
    "$@"
}
qmsec() { "$qmsec_bin" "$@"; }

say "A fresh node directory: QMXPL_HOME=$QMXPL_HOME"
say "1. Set the node up: a core id and the key provider's secret."
run qmsec init
core_id=$(qmsec config get sec.core CORE_ID)

say "2. Digests, Base64 and password encryption work on files of any size."
printf 'Quarterly report: all systems nominal.\n' > report.txt
run qmsec digest report.txt
run qmsec base64 report.txt
PASSWORD=correct-horse run qmsec encrypt --algorithm des3 --password-env PASSWORD report.txt -o report.enc
PASSWORD=correct-horse run qmsec decrypt --algorithm des3 --password-env PASSWORD report.enc

say "3. Identifiers for new nodes."
run qmsec uuid -n 2

say "Done: node $core_id was set up in a temporary directory, which is removed now."
