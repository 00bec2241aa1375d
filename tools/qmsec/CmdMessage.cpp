// sign, verify, seal and unseal: message security over files of any length.
#include "Cli.h"
#include "Io.h"
#include "Names.h"
#include "QmSecCore/CoreNames.h"
#include "QmSecCore/Key.h"
#include "QmSecCore/KeyStore.h"
#include "QmSecCore/MessageSealer.h"
#include "QmSecCore/MessageSignature.h"
#include "QmSecCore/MessageSigner.h"
#include "QmSecCore/MessageUnsealer.h"
#include "QmSecCore/MessageVerifier.h"
#include "QmSecCore/X509Certificate.h"
#include "QmXpl/ConfigNamespace_t.h"

namespace qmsec {

namespace {

const OptionSpec kOut{"--out", "-o", "FILE",
                      "write to FILE (replaced when complete) instead of the standard output"};

// Feeds every byte of source to update, one chunk at a time, with the progress bar.
template <class Update>
void Feed(Source& source, const char* label, const Update& update) {
    Progress progress(label, source.Size());
    CharArray_t chunk(kChunk);
    int n;
    while ((n = source.Read(chunk.GetData(), kChunk)) != -1) {
        if (n == 0) continue;
        // The signer and verifier take whole arrays; a short read makes a short array.
        if (n != chunk.GetSize()) chunk.Resize(n);
        update(chunk);
        progress.Add(n);
        if (chunk.GetSize() != kChunk) chunk.Resize(kChunk);
    }
}

// Passes every byte of source through transform (a sealer or an unsealer) into sink, then
// finishes the message and commits the sink.
template <class Transform>
int TransformInto(Source& source, Sink& sink, const char* label, Transform& transform) {
    CharArray_t out;
    Feed(source, label, [&](const CharArray_t& chunk) {
        sink.Write(out, transform.Update(chunk.GetData(), chunk.GetSize(), out, 0));
    });
    // Writes the header too when no input came (an empty file still seals to a whole message).
    sink.Write(out, transform.DoFinal(out, 0));
    sink.Commit();
    return kExitOk;
}

int Sign(Invocation& call) {
    Source source(call.Arg(0));
    Sink sink(call.Value("--out"), Sink::Content::kPlain, false);
    std::optional<std::string> cn = call.Value("--signer");
    if (cn && cn->empty()) call.Usage("the signer's common name must not be empty");
    QmSecCore::MessageSigner signer =
        cn ? QmSecCore::MessageSigner(String_t(*cn)) : QmSecCore::MessageSigner();
    Feed(source, "sign", [&](const CharArray_t& chunk) { signer.Update(chunk); });
    QmSecCore::MessageSignature signature = signer.Sign(call.Has("--with-cert"));
    CharArray_t encoded;
    signature.GetEncoded(encoded);
    sink.Write(encoded, encoded.GetSize());
    sink.Commit();
    return kExitOk;
}

int Verify(Invocation& call) {
    std::optional<std::string> sigFile = call.Value("--signature");
    if (!sigFile) call.Usage("--signature FILE is needed");
    // The signature would swallow the data, which then verifies as empty.
    if (*sigFile == "-" && call.Arg(0) == "-")
        call.Usage("the file and the signature cannot both come from the standard input");
    Source source(call.Arg(0));
    CharArray_t encoded = ReadSmallFile(*sigFile);
    QmSecCore::MessageSignature signature;
    QmSecCore::MessageVerifier verifier;
    try {
        signature = QmSecCore::MessageSignature(encoded);
        verifier = QmSecCore::MessageVerifier(signature);
    } catch (const QmXplMsg::Exception_t& e) {
        Fail("Could not verify '" + call.Arg(0) + "' with the signature '" + *sigFile + "'.",
             e.GetMessageList());
    }
    Feed(source, "verify", [&](const CharArray_t& chunk) { verifier.Update(chunk); });
    bool ok = verifier.Verify();
    std::string signer = signature.GetSignerCN().ToUtf8();
    JsonValue json = JsonValue::Object();
    json.Set("file", call.Arg(0))
        .Set("signature", *sigFile)
        .Set("verified", ok)
        .Set("signer", signer)
        .Set("certificate_included", signature.ContainsCertificate());
    PrintResult(call, json,
                ok ? "Verified OK: '" + Printable(call.Arg(0)) + "' was signed by '" +
                         Printable(signer) + "'\n"
                   : std::string());
    if (!ok)
        Fail("The signature '" + *sigFile + "' does not match '" + call.Arg(0) +
             "': the file or the signature has been changed.");
    return kExitOk;
}

int Seal(Invocation& call) {
    call.AtMostOne({"--to", "--to-alias"});
    QmSecCore::Key::Algorithm algorithm = SymmetricAlgorithm(call);
    QmSecCore::X509Certificate recipient;
    std::string name;
    if (auto file = call.Value("--to")) {
        recipient = QmSecCore::X509Certificate(ReadSmallFile(*file));
        name = *file;
    } else if (auto alias = call.Value("--to-alias")) {
        CheckAlias(*alias, "alias");
        QmSecCore::KeyStore store;
        store.GetCertificate(String_t(*alias), recipient);
        name = *alias;
    } else {
        call.Usage("the recipient is needed: --to CERTFILE or --to-alias ALIAS");
    }
    // Only the holder of the certificate's key can unseal; an expired certificate names a key
    // that should no longer be in use.
    if (!recipient.CheckValidity())
        Fail("The recipient's certificate '" + name + "' is not valid now.");
    Source source(call.Arg(0));
    Sink sink(call.Value("--out"), Sink::Content::kPlain, true);
    QmSecCore::MessageSealer sealer(recipient, algorithm);
    return TransformInto(source, sink, "seal", sealer);
}

int Unseal(Invocation& call) {
    std::string alias;
    if (auto given = call.Value("--key-alias")) {
        alias = *given;
    } else {
        alias = QmXplConfig::ConfigNamespace_t::Open(String_t(QmSecCore::kCoreNamespace))
                    .GetValue(String_t(QmSecCore::kCoreIdKey))
                    .ToUtf8();
        if (alias.empty())
            Fail(
                "This node has no core id, whose key unseals by default: give --key-alias or "
                "run 'qmsec init'.");
    }
    CheckAlias(alias, "key alias");
    QmSecCore::Key key;
    QmSecCore::KeyStore store;
    store.GetPrivateKey(String_t(alias), key);
    Source source(call.Arg(0));
    Sink sink(call.Value("--out"), Sink::Content::kSecret, false);
    QmSecCore::MessageUnsealer unsealer(key);
    return TransformInto(source, sink, "unseal", unsealer);
}

}  // namespace

void AddMessageCommands(CommandTable& table) {
    table.Add({"sign",
               "FILE [--signer CN] [--with-cert] [-o SIGFILE]",
               1,
               1,
               {{"--signer", "", "CN",
                 "sign with this key-store entry's key (default: the node's core id)"},
                {"--with-cert", "", "", "put the signer's certificate into the signature"},
                kOut},
               "sign a file",
               "Signs FILE ('-' for the standard input) with the private key that the key store\n"
               "holds under the signer's common name (SHA-1 with RSA) and writes the encoded\n"
               "signature: Base64 text that carries the signature and the signer's name, or with\n"
               "--with-cert the signer's certificate, so that a receiver need not know it.",
               false,
               Sign});
    table.Add({"verify",
               "FILE --signature SIGFILE",
               1,
               1,
               {{"--signature", "", "SIGFILE", "the encoded signature that sign wrote"}},
               "verify a signed file",
               "Verifies FILE against the signature in SIGFILE. The signer is trusted when its\n"
               "certificate, or its issuer's, is a trusted entry of the key store; then the\n"
               "signature must match every byte of the file. Fails, saying why, otherwise.\n"
               "\n"
               "FILE or SIGFILE may be '-' for the standard input, but not both.",
               true,
               Verify});
    table.Add({"seal",
               "FILE --to CERTFILE|--to-alias ALIAS [--algorithm ALG] [-o FILE]",
               1,
               1,
               {{"--to", "", "CERTFILE", "the recipient's certificate (PEM)"},
                {"--to-alias", "", "ALIAS", "the recipient's certificate from the key store"},
                {"--algorithm", "", "ALG", "blowfish (default), des or des3"},
                kOut},
               "encrypt a file for the holder of a certificate",
               "Seals FILE for one recipient: a fresh random key encrypts the file, and the key\n"
               "travels in front of it encrypted with the recipient's RSA public key. Only the\n"
               "holder of the matching private key can unseal it.",
               false,
               Seal});
    table.Add({"unseal",
               "FILE [--key-alias ALIAS] [-o FILE]",
               1,
               1,
               {{"--key-alias", "", "ALIAS",
                 "the key-store entry whose private key unseals (default: the node's core id)"},
                kOut},
               "decrypt a sealed file",
               "Unseals FILE with a private key of the key store. A file sealed for another key,\n"
               "or damaged, fails; with -o the output file is then left as it was.",
               false,
               Unseal});
}

}  // namespace qmsec
