// digest, base64, encrypt and decrypt: the primitives over files of any length.
#include "Cli.h"
#include "Io.h"
#include "Names.h"
#include "QmSecCore/Base64.h"
#include "QmSecCore/Cipher.h"
#include "QmSecCore/Key.h"
#include "QmSecCore/MessageDigest.h"
#include "QmSecIo/Base64OutputStream.h"
#include "QmSecIo/CipherOutputStream.h"
#include "QmSecIo/DigestInputStream.h"

namespace qmsec {

using QmSecCore::Cipher;
using QmSecCore::Key;

namespace {

const OptionSpec kOut{"--out", "-o", "FILE",
                      "write to FILE (replaced when complete) instead of the standard output"};

int Digest(Invocation& call) {
    std::string name = call.Value("--algorithm").value_or("sha1");
    QmSecCore::MessageDigest::Algorithm algorithm;
    if (name == "sha1") {
        algorithm = QmSecCore::MessageDigest::eSHA1;
    } else if (name == "md5") {
        algorithm = QmSecCore::MessageDigest::eMD5;
    } else {
        call.Usage("unknown digest '" + name + "' (sha1 or md5)");
    }
    std::vector<std::string> files = call.Args();
    if (files.empty()) files.push_back("-");

    QmSecCore::MessageDigest digest(algorithm);
    CharArray_t chunk(kChunk), out;
    JsonValue json = JsonValue::Array();
    std::string text;
    // Like sha1sum, a file that cannot be read does not keep the others from being digested;
    // the command fails at the end.
    QmXplMsg::MessageList_t errors;
    for (const auto& file : files) {
        try {
            Source source(file);
            Progress progress("digest", source.Size());
            // What is read through the stream is digested on the way.
            QmSecIo::DigestInputStream in(source.Stream(), digest);
            int n;
            while ((n = in.Read(chunk.GetData(), chunk.GetSize())) != -1) progress.Add(n);
            in.Close();
        } catch (const QmXplMsg::Exception_t& e) {
            digest.Reset();
            errors.Add(e.GetMessageList());
            continue;
        }
        int length = digest.Digest(out);
        std::string hex = Hex(out.GetData(), length);
        json.Push(JsonValue::Object().Set("file", file).Set("algorithm", name).Set("digest", hex));
        text += DigestLine(hex, file);
    }
    PrintResult(call, json, text);
    if (!errors.IsEmpty()) throw QmXplMsg::RuntimeException_t(errors);
    return kExitOk;
}

// Copies source into out, a filter stream that transforms on the way, and closes out: its
// final output goes to the sink below, and a file there takes its place only then. A failure of
// the final step leaves the sink open, so that no partial file is published.
void Pump(Source& source, const QmXplIo::OutputStream_t& out, const char* label) {
    Progress progress(label, source.Size());
    CharArray_t chunk(kChunk);
    int n;
    while ((n = source.Read(chunk.GetData(), chunk.GetSize())) != -1) {
        out.Write(chunk.GetData(), n);
        progress.Add(n);
    }
    out.Close();
}

int Base64(Invocation& call) {
    bool decode = call.Has("--decode");
    Source source(call.Args().empty() ? "-" : call.Arg(0));
    Sink sink(call.Value("--out"), Sink::Content::kPlain, false);
    QmSecCore::Base64 codec(decode ? QmSecCore::Base64::eDecode : QmSecCore::Base64::eEncode);
    Pump(source, QmSecIo::Base64OutputStream(sink.Stream(), codec),
         decode ? "base64 -d" : "base64");
    return kExitOk;
}

int Crypt(Invocation& call, Cipher::OpMode mode) {
    Key::Algorithm algorithm = SymmetricAlgorithm(call);
    Source source(call.Args().empty() ? "-" : call.Arg(0));
    // What is decrypted is as secret as the password; what is encrypted may be shown to anyone.
    Sink sink(call.Value("--out"),
              mode == Cipher::eDecrypt ? Sink::Content::kSecret : Sink::Content::kPlain,
              mode == Cipher::eEncrypt);
    CharArray_t password = ReadPassword(call, mode == Cipher::eEncrypt);
    Key key(password, algorithm);
    password.Wipe();
    Cipher cipher(mode, key, algorithm);
    Pump(source, QmSecIo::CipherOutputStream(sink.Stream(), cipher),
         mode == Cipher::eEncrypt ? "encrypt" : "decrypt");
    return kExitOk;
}

int Encrypt(Invocation& call) { return Crypt(call, Cipher::eEncrypt); }
int Decrypt(Invocation& call) { return Crypt(call, Cipher::eDecrypt); }

const std::vector<OptionSpec> kCryptOptions = {
    {"--algorithm", "", "ALG", "blowfish (default), des or des3"},
    {"--password-file", "", "FILE", "the password is the first line of FILE"},
    {"--password-env", "", "VAR", "the password is the value of the environment variable VAR"},
    kOut};

}  // namespace

void AddDataCommands(CommandTable& table) {
    table.Add({"digest",
               "[--algorithm sha1|md5] [FILE...]",
               0,
               -1,
               {{"--algorithm", "", "ALG", "sha1 (default) or md5"}},
               "print the SHA-1 or MD5 digest of files",
               "Prints the digest of each FILE (the standard input when none is given or for\n"
               "'-') as 'HEX  FILE', the form that sha1sum and md5sum read with --check.",
               true,
               Digest});
    table.Add({"base64",
               "[-d] [FILE] [-o FILE]",
               0,
               1,
               {{"--decode", "-d", "", "decode Base64 text (with or without line breaks)"}, kOut},
               "Base64-encode or decode",
               "Encodes FILE (the standard input when not given) as Base64 text in lines of 64\n"
               "characters, or decodes such text with -d.",
               false,
               Base64});
    table.Add(
        {"encrypt", "[--algorithm ALG] [--password-file FILE|--password-env VAR] [FILE] [-o FILE]",
         0, 1, kCryptOptions, "encrypt a file under a password",
         "Encrypts FILE (the standard input when not given) with Blowfish, DES or Triple-DES\n"
         "in CBC mode under a key derived from a password (PKCS #12 key derivation). The\n"
         "output is the random 8-byte vector followed by the ciphertext. Without\n"
         "--password-file or --password-env the password is asked twice on the terminal.",
         false, Encrypt});
    table.Add({"decrypt",
               "[--algorithm ALG] [--password-file FILE|--password-env VAR] [FILE] [-o FILE]", 0, 1,
               kCryptOptions, "decrypt what encrypt wrote",
               "Decrypts what 'qmsec encrypt' wrote with the same algorithm and password. A wrong\n"
               "password or damaged data fails (mostly as incorrect padding); with -o the file is\n"
               "then left as it was.",
               false, Decrypt});
}

}  // namespace qmsec
