#!/usr/bin/env bash
# ./run demo: a narrated tour of qmsec on a fresh node directory that is removed afterwards.
set -euo pipefail
build=$(cd "${1:?usage: demo.sh BUILD_DIR}" && pwd)
qmsec_bin="$build/tools/qmsec/qmsec"
work=$(mktemp -d "${TMPDIR:-/tmp}/qmsec-demo.XXXXXX")
trap 'rm -rf "$work"' EXIT
export QMXPL_HOME="$work/node"
unset QMXPL_TRACE QMXPL_TRACE_FILE
cd "$work"

bold=$'\033[1m' dim=$'\033[2m' off=$'\033[0m'
[ -t 1 ] || { bold='' dim='' off=''; }
step=0
say() {
    step=$((step + 1))
    printf '\n%s%d. %s%s\n' "$bold" "$step" "$*" "$off"
}
note() { printf '%s\n' "$*"; }
# The command line as one would type it: arguments with blanks or quotes in single quotes.
show() {
    local line="" arg
    for arg in "$@"; do
        case $arg in
            *[[:space:]\'\"\$]*) arg="'${arg//\'/\'\\\'\'}'" ;;
        esac
        line+="${line:+ }$arg"
    done
    printf '%s$ %s%s\n' "$dim" "$line" "$off"
}
# Shows a command as typed, then runs it.
run() {
    show "$@"
    "$@"
}
# The same, showing only the first line of the output.
run_brief() {
    show "$@"
    "$@" > brief.out
    head -n 1 brief.out
}
# A command that must fail: shown with its error and exit status.
fails() {
    show "$@"
    local status=0
    "$@" || status=$?
    [ "$status" -ne 0 ] || { echo "demo: expected '$*' to fail" >&2; exit 1; }
    printf '%s(exit status %d, as it should be)%s\n' "$dim" "$status" "$off"
}
qmsec() { "$qmsec_bin" "$@"; }

printf '%sqmsec, a tour on a fresh node directory%s (QMXPL_HOME=%s)\n' "$bold" "$off" "$QMXPL_HOME"

say "Set the node up: a core id, and the secret under which its private keys are kept."
run qmsec init
core_id=$(qmsec config get sec.core CORE_ID)

say "Create a certificate authority the node trusts, and the node's own key and certificate."
note "Signers are found in the key store by the common name of their certificate; the node's is its core id."
run_brief qmsec keystore genkey "Demo CA" --trusted --days 3650
run_brief qmsec keystore genkey "$core_id" --issuer "Demo CA" --days 365
run qmsec keystore list

say "Sign a file with the node's key and verify it; a changed copy fails."
printf 'Quarterly report: all systems nominal.\n' > report.txt
run qmsec sign report.txt -o report.sig
run cat report.sig
run qmsec verify report.txt --signature report.sig
sed 's/nominal/degraded/' report.txt > tampered.txt
fails qmsec verify tampered.txt --signature report.sig

say "Seal the file for the holder of the node's certificate, and unseal it with its key."
run qmsec keystore export "$core_id" -o node.pem
run qmsec seal report.txt --to node.pem -o report.sealed
note "$(wc -c < report.sealed) bytes: the header length, the RSA-encrypted secret, the vector and the ciphertext."
run qmsec unseal report.sealed
note "The CA's key is not the one it was sealed for:"
fails qmsec unseal report.sealed --key-alias "Demo CA"

say "Install a manager-configuration policy and check it; a broken copy shows where it breaks."
policies="$QMXPL_HOME/data/policies/mgrconf"
cat > "$policies/site.dat" <<'POLICY'
RESPMGRCONFIGS
  RESPMGRCONFIG
    RESPMGRCFGID "site-1" DESCRIPTION "the site's managers"
    DEFAULTMANAGER NODE IP 10.0.0.1 "mgr-primary" ID "11111111-2222-4333-8444-555555555555"
    SECONDARYMANAGERS
      SECONDARYMANAGER NODE IP 10.0.0.2 "mgr-backup" ID "66666666-7777-4888-9999-aaaaaaaaaaaa"
    ACTIONALLOWMANAGERS
POLICY
cat > "$policies/site.xml" <<'HEADER'
<header><policy><name>site</name><status>enabled</status>
  <files><data><file_name>site.dat</file_name></data></files></policy></header>
HEADER
run qmsec policy check "$policies/site.dat"
sed 's/IP 10.0.0.2/IP 0x0A000002/' "$policies/site.dat" > broken.dat
fails qmsec policy check broken.dat

say "Ask the authorizer: map roles to rights on a consumer, then look at its tables."
run qmsec config set sec.core.auth.mapping.default app.jobs 15
run qmsec config set sec.core.auth.mapping.secondary app.jobs 1
run qmsec authz dump
run qmsec authz check 66666666-7777-4888-9999-aaaaaaaaaaaa app.jobs 1
fails qmsec authz check 66666666-7777-4888-9999-aaaaaaaaaaaa app.jobs 0x4

say "Everything has a --json form for scripts, and every failure an exit status."
run qmsec --json authz rights 11111111-2222-4333-8444-555555555555 app.jobs

printf '\n%sDone.%s The node directory %s is removed now.\n' "$bold" "$off" "$QMXPL_HOME"
