// Files, standard input and output, passwords and the progress bar of qmsec.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "QmSecCore/Key.h"
#include "QmXpl/CharArray_t.h"
#include "QmXpl/InputStream_t.h"
#include "QmXpl/OutputStream_t.h"

namespace qmsec {

class Invocation;

// Bytes moved per read and write when a command streams a file: files of any length pass in
// this much memory.
constexpr int kChunk = 64 * 1024;

// Input of a command: a file, or standard input for "-".
class Source {
  public:
    // Opens the file (FileNotFoundException_t of the layer when it cannot be opened).
    explicit Source(const std::string& path);
    // How the input is named in output: the path, or "-" for standard input.
    const std::string& Name() const noexcept { return name_; }
    // The number of bytes to come when known (a regular file), else -1.
    long long Size() const noexcept { return size_; }
    QmXplIo::InputStream_t& Stream() noexcept { return stream_; }
    // Up to len bytes; -1 at the end.
    int Read(char* buf, int len) { return stream_.Read(buf, len); }

  private:
    std::string name_;
    long long size_ = -1;
    QmXplIo::InputStream_t stream_;
};

// Output of a command: standard output, or a file given with -o. A regular file (or a new one)
// is replaced in one step when the command has succeeded: a failed command leaves an existing
// file as it was and no partial one behind. A device or FIFO is written directly, and a symbolic
// link is followed (see AtomicFileOutputStream_t).
class Sink {
  public:
    // Who may read what goes out: a new file takes the umask as any other file would, unless it
    // holds decrypted or secret data, which only its owner may read (0600). A replaced file keeps
    // its mode.
    enum class Content { kPlain, kSecret };
    // path: the file, or standard output when absent or "-". binary: the output is not text, so a
    // terminal is refused (a usage error).
    Sink(const std::optional<std::string>& path, Content content, bool binary);
    QmXplIo::OutputStream_t& Stream() noexcept { return stream_; }
    void Write(const char* data, int len) { stream_.Write(data, len); }
    void Write(const QmXplArray::CharArray_t& data, int len) { stream_.Write(data.GetData(), len); }
    // Completes the output: the file takes its place; standard output is flushed.
    void Commit();

  private:
    QmXplIo::OutputStream_t stream_;
};

// The whole of a small file (a certificate, key or signature), at most limit bytes: a larger
// file is refused instead of read into memory.
QmXplArray::CharArray_t ReadSmallFile(const std::string& path, int limit = 1 << 20);

// A progress bar on standard error for long inputs, shown only when standard error is a
// terminal and the length is known and large, so scripts and pipes never see it.
class Progress {
  public:
    Progress(const char* label, long long total);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;
    void Add(long long bytes);

  private:
    void Draw();
    const char* label_;
    long long total_;
    long long done_ = 0;
    bool on_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point last_;
};

// The symmetric algorithm named by --algorithm (blowfish, des, des3); blowfish when absent.
QmSecCore::Key::Algorithm SymmetricAlgorithm(const Invocation& call);
const char* AlgorithmName(QmSecCore::Key::Algorithm algorithm);

// The password of --password-file or --password-env, else asked on the terminal (twice when
// confirm). Usage error when there is none to be had. The caller wipes it.
QmXplArray::CharArray_t ReadPassword(const Invocation& call, bool confirm);

// Lower-case hexadecimal of bytes.
std::string Hex(const char* data, int size);

}  // namespace qmsec
