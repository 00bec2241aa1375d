#!/usr/bin/env bash
# ./run demo: a narrated tour of qmsec on a fresh node directory that is removed afterwards.
set -euo pipefail
build=$(cd "${1:?usage: demo.sh BUILD_DIR}" && pwd)
qmsec_bin="$build/tools/qmsec/qmsec"
work=$(mktemp -d "${TMPDIR:-/tmp}/qmsec-demo.XXXXXX")
server_pid=""
trap '[ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null; rm -rf "$work"' EXIT
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

say "TLS between nodes: a client node asks the Demo CA for its certificate with a request."
note "client_qmsec is qmsec on a second node directory, QMXPL_HOME=$work/client; its key never leaves it."
client_qmsec() { QMXPL_HOME="$work/client" "$qmsec_bin" "$@"; }
run client_qmsec init --core-id client-node
run qmsec keystore export "Demo CA" -o ca.pem
run client_qmsec keystore install "Demo CA" --cert ca.pem --trusted
run client_qmsec keystore genkey client-node --csr client.csr
note "The CA signs the request. Here the openssl command plays the CA, with the Demo CA's key moved out as PKCS #12:"
export DEMO_P12_PASSWORD="demo only"
run qmsec keystore export-p12 "Demo CA" -o ca.p12 --password-env DEMO_P12_PASSWORD
run openssl pkcs12 -in ca.p12 -passin env:DEMO_P12_PASSWORD -nodes -nocerts -out ca.key
run openssl x509 -req -in client.csr -CA ca.pem -CAkey ca.key -set_serial 1001 -days 30 -out client.pem
run client_qmsec keystore install client-node --cert client.pem

say "Serve TLS with the node's identity; the client connects twice, the second time resuming the session."
show qmsec tls serve --bind 127.0.0.1 --echo "> serve.log &"
qmsec tls serve --bind 127.0.0.1 --echo > serve.log 2>&1 &
server_pid=$!
for _ in $(seq 100); do grep -q "Serving as" serve.log && break; sleep 0.1; done
address=$(grep -o '127\.0\.0\.1:[0-9]*' serve.log | head -n 1)
printf 'hello over TLS\n' > hello.txt
show client_qmsec tls connect "$address" --repeat 2 "< hello.txt"
client_qmsec tls connect "$address" --repeat 2 < hello.txt
run cat serve.log

say "A node the server does not trust is refused, with the reason on both sides."
note "It trusts the Demo CA, but its own certificate is self-signed."
stranger_qmsec() { QMXPL_HOME="$work/stranger" "$qmsec_bin" "$@"; }
stranger_qmsec init --core-id stranger > /dev/null
stranger_qmsec keystore install "Demo CA" --cert ca.pem --trusted > /dev/null
stranger_qmsec keystore genkey stranger > /dev/null
show stranger_qmsec tls connect "$address" "< hello.txt"
status=0
stranger_qmsec tls connect "$address" < hello.txt || status=$?
[ "$status" -ne 0 ] || { echo "demo: expected the stranger to be refused" >&2; exit 1; }
printf '%s(exit status %d, as it should be)%s\n' "$dim" "$status" "$off"
sleep 0.2
run tail -n 1 serve.log

say "Renew the server's certificate while it runs: the next client is shown the new one."
show openssl req -new -newkey rsa:2048 -nodes -keyout peer.key -subj /CN=openssl-peer -out peer.csr
openssl req -new -newkey rsa:2048 -nodes -keyout peer.key -subj /CN=openssl-peer -out peer.csr 2> /dev/null
run openssl x509 -req -in peer.csr -CA ca.pem -CAkey ca.key -set_serial 1002 -days 30 -out peer.pem
presented() {
    openssl s_client -connect "$address" -cert peer.pem -key peer.key < /dev/null 2> /dev/null |
        openssl x509 -noout -serial -enddate
}
note "What the server presents now (the openssl command as the client):"
presented
before=$(presented)
run_brief qmsec keystore genkey "$core_id" --issuer "Demo CA" --days 730 --replace
note "The key store announced the change in sec.cm.certificates; the server picks it up:"
for _ in $(seq 50); do [ "$(presented)" != "$before" ] && break; sleep 0.2; done
presented
kill "$server_pid"
wait "$server_pid" 2> /dev/null || true
server_pid=""

printf '\n%sDone.%s The node directory %s is removed now.\n' "$bold" "$off" "$QMXPL_HOME"
