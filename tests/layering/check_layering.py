#!/usr/bin/env python3
"""Proves that the build keeps the layers apart.

For each folder of the library, takes the real compile command of one of its sources from
compile_commands.json and compiles small probes with it: an include along the allowed direction
must compile, an include against it must fail for want of the header. So the test fails when
someone widens a folder's include paths, not only when a source breaks the rule today.
"""
import json
import os
import shlex
import subprocess
import sys
import tempfile

build, source = sys.argv[1], sys.argv[2]

# (folder, header, must compile)
PROBES = [
    ("xpl", "QmXpl/String_t.h", True),
    ("xpl", "QmSecCore/Object.h", False),
    ("xpl", "QmSecCoreTrc/Tracer.h", False),
    ("xpl", "Trace.h", False),
    ("core", "QmSecIo/CipherInputStream.h", True),
    ("core", "QmSecSsl/SecSslException.h", False),
    ("core", "QmSecAuth/Authorizer.h", False),
    ("core", "FilterStreamBodies.h", False),
    ("core", "AuthorizerImpl.h", False),
    ("QmSecIo", "Throw.h", True),
    ("QmSecIo", "QmSecSsl/SecSslException.h", False),
    ("QmSecIo", "X509CertificateImpl.h", False),
    ("QmSecSsl", "OpenSsl.h", True),
    ("QmSecSsl", "QmSecAuth/Authorizer.h", False),
    ("QmSecSsl", "KeyImpl.h", False),
    ("QmSecSsl", "FilterStreamBodies.h", False),
    ("QmSecAuth", "Throw.h", True),
    ("QmSecAuth", "QmSecSsl/SecSslException.h", False),
    ("QmSecAuth", "QmSecIo/CipherInputStream.h", False),
    # The tool sees core's OpenSSL module and nothing else of core's internals.
    ("tools/qmsec", "OpenSsl.h", True),
    ("tools/qmsec", "Throw.h", False),
    ("tools/qmsec", "KeyImpl.h", False),
]

with open(os.path.join(build, "compile_commands.json")) as f:
    commands = json.load(f)


def command_for(folder):
    prefix = os.path.join(source, folder) + os.sep
    for c in commands:
        if c["file"].startswith(prefix) and c["file"].endswith(".cpp"):
            return c
    raise SystemExit(f"no compile command for a source under {folder}/")


def probe_args(entry, probe):
    args = shlex.split(entry["command"]) if "command" in entry else list(entry["arguments"])
    if os.path.basename(args[0]) == "ccache":
        args = args[1:]
    out, skip = [], False
    for a in args:
        if skip:
            skip = False
            continue
        if a in ("-o", "-c", "-MF", "-MT", "-MQ"):
            skip = a != "-c"
            continue
        if a == entry["file"] or a in ("-MD", "-MMD"):
            continue
        out.append(a)
    # Compiled from the folder's own directory, as the source it replaces would be.
    return out + ["-fsyntax-only", probe]


passed = failed = 0
with tempfile.TemporaryDirectory() as tmp:
    for folder, header, allowed in PROBES:
        entry = command_for(folder)
        probe = os.path.join(source, folder, f".layering_probe_{os.getpid()}.cpp")
        with open(probe, "w") as p:
            p.write(f'#include "{header}"\n')
        try:
            r = subprocess.run(probe_args(entry, probe), cwd=entry["directory"],
                               capture_output=True, text=True)
        finally:
            os.unlink(probe)
        missing = "No such file or directory" in r.stderr or "file not found" in r.stderr
        ok = (r.returncode == 0) if allowed else (r.returncode != 0 and missing)
        verdict = "compiles" if allowed else "is refused"
        if ok:
            passed += 1
        else:
            failed += 1
            print(f"FAIL: {folder}/ including \"{header}\" should be one that {verdict}:\n{r.stderr}")

print(f"{passed} passed, {failed} failed")
sys.exit(1 if failed else 0)
