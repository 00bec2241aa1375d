#include "Io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Cli.h"
#include "QmXpl/AtomicFileOutputStream_t.h"
#include "QmXpl/FileInputStream_t.h"
#include "QmXpl/IOException_t.h"

namespace qmsec {

namespace {

[[noreturn]] void ThrowSystem(int errnum, const std::string& what) {
    throw QmXplIo::IOException_t(QmXplMsg::CreateSystemError_t(errnum, String_t(what)));
}

// Standard input as a stream of the layer.
class StdinImpl : public QmXplIo::InputStreamImpl_t {
  public:
    int Read(char* buf, int len) override {
        for (;;) {
            ssize_t n = ::read(STDIN_FILENO, buf, static_cast<size_t>(len));
            if (n > 0) return static_cast<int>(n);
            if (n == 0) return -1;
            if (errno != EINTR) ThrowSystem(errno, "Could not read the standard input");
        }
    }
};

// Standard output as a stream of the layer, through stdio so that it keeps its order with the
// text that commands print.
class StdoutImpl : public QmXplIo::OutputStreamImpl_t {
  public:
    void Write(const char* buf, int len) override {
        if (std::fwrite(buf, 1, static_cast<size_t>(len), stdout) != static_cast<size_t>(len))
            ThrowSystem(errno, "Could not write the standard output");
    }
    void Flush() override {
        if (std::fflush(stdout) != 0) ThrowSystem(errno, "Could not write the standard output");
    }
    void Close() override { Flush(); }
};

std::string FormatBytes(long long n) {
    char buf[32];
    if (n >= (1LL << 30)) {
        std::snprintf(buf, sizeof buf, "%.1f GiB", static_cast<double>(n) / (1LL << 30));
    } else {
        std::snprintf(buf, sizeof buf, "%.1f MiB", static_cast<double>(n) / (1LL << 20));
    }
    return buf;
}

// Reads one line from the terminal without echo.
CharArray_t AskTerminal(const char* prompt) {
    int fd = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        throw UsageError(
            "no password: give --password-file FILE or --password-env VAR, or run on a terminal");
    struct termios saved {};
    bool restore = ::tcgetattr(fd, &saved) == 0;
    if (restore) {
        struct termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(fd, TCSAFLUSH, &quiet);
    }
    (void)!::write(fd, prompt, std::strlen(prompt));
    CharArray_t line;
    char c;
    for (;;) {
        ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || c == '\n') break;
        line.Append(&c, 1);
    }
    c = 0;
    if (restore) ::tcsetattr(fd, TCSAFLUSH, &saved);
    (void)!::write(fd, "\n", 1);
    ::close(fd);
    return line;
}

}  // namespace

Source::Source(const std::string& path) : name_(path) {
    if (path == "-") {
        stream_ = QmXplIo::InputStream_t(new StdinImpl);
        struct stat st;
        if (::fstat(STDIN_FILENO, &st) == 0 && S_ISREG(st.st_mode)) size_ = st.st_size;
        return;
    }
    stream_ = QmXplIo::FileInputStream_t(String_t(path));
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) size_ = st.st_size;
}

Sink::Sink(const std::optional<std::string>& path, Content content, bool binary) {
    if (!path || *path == "-") {
        if (binary && ::isatty(STDOUT_FILENO))
            throw UsageError(
                "the output is binary and the standard output is a terminal: give -o FILE or "
                "redirect it");
        stream_ = QmXplIo::OutputStream_t(new StdoutImpl);
        return;
    }
    stream_ = QmXplIo::AtomicFileOutputStream_t(String_t(*path),
                                                content == Content::kSecret ? 0600 : 0666,
                                                QmXplIo::AtomicFileOutputStream_t::eCreateMode);
}

void Sink::Commit() { stream_.Close(); }

CharArray_t ReadSmallFile(const std::string& path, int limit) {
    Source source(path);
    if (source.Size() > limit)
        Fail("The file '" + path + "' is larger than " + std::to_string(limit) +
             " bytes, which is too large for what it should hold.");
    CharArray_t data;
    CharArray_t chunk(kChunk);
    int n;
    while ((n = source.Read(chunk.GetData(), chunk.GetSize())) != -1) {
        if (data.GetSize() + n > limit)
            Fail("The input '" + path + "' is larger than " + std::to_string(limit) +
                 " bytes, which is too large for what it should hold.");
        data.Append(chunk.GetData(), n);
    }
    chunk.Wipe();
    return data;
}

Progress::Progress(const char* label, long long total)
    : label_(label),
      total_(total),
      on_(total >= 16LL * 1024 * 1024 && ::isatty(STDERR_FILENO)),
      // The bar shows at the first step, then at most ten times a second.
      last_(std::chrono::steady_clock::now() - std::chrono::seconds(1)) {}

Progress::~Progress() {
    if (drawn_) std::fputs("\r\033[K", stderr);
}

void Progress::Add(long long bytes) {
    done_ += bytes;
    if (!on_) return;
    auto now = std::chrono::steady_clock::now();
    if (now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    Draw();
}

void Progress::Draw() {
    constexpr int kWidth = 30;
    long long done = done_ > total_ ? total_ : done_;
    int filled = static_cast<int>(done * kWidth / total_);
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(kWidth - filled), '.');
    std::fprintf(stderr, "\r%s [%s] %3d%%  %s / %s\033[K", label_, bar.c_str(),
                 static_cast<int>(done * 100 / total_), FormatBytes(done).c_str(),
                 FormatBytes(total_).c_str());
    std::fflush(stderr);
    drawn_ = true;
}

QmSecCore::Key::Algorithm SymmetricAlgorithm(const Invocation& call) {
    std::string name = call.Value("--algorithm").value_or("blowfish");
    if (name == "blowfish") return QmSecCore::Key::eBlowfish;
    if (name == "des") return QmSecCore::Key::eDES;
    if (name == "des3") return QmSecCore::Key::eDES3;
    call.Usage("unknown algorithm '" + name + "' (blowfish, des or des3)");
}

const char* AlgorithmName(QmSecCore::Key::Algorithm algorithm) {
    switch (algorithm) {
        case QmSecCore::Key::eDES:
            return "des";
        case QmSecCore::Key::eDES3:
            return "des3";
        default:
            return "blowfish";
    }
}

CharArray_t ReadPassword(const Invocation& call, bool confirm) {
    call.AtMostOne({"--password-file", "--password-env"});
    CharArray_t password;
    if (auto var = call.Value("--password-env")) {
        const char* value = std::getenv(var->c_str());
        if (!value) call.Usage("the environment variable " + *var + " is not set");
        password.Copy(value, static_cast<int>(std::strlen(value)));
    } else if (auto file = call.Value("--password-file")) {
        CharArray_t data = ReadSmallFile(*file, 4096);
        int end = 0;
        while (end < data.GetSize() && data[end] != '\n' && data[end] != '\r') ++end;
        password.Copy(data.GetData(), end);
        data.Wipe();
    } else {
        password = AskTerminal("Password: ");
        if (confirm) {
            CharArray_t again = AskTerminal("Password again: ");
            bool same = again == password;
            again.Wipe();
            if (!same) {
                password.Wipe();
                Fail("The passwords do not match.");
            }
        }
    }
    if (password.IsEmpty()) Fail("The password is empty.");
    return password;
}

std::string Hex(const char* data, int size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(static_cast<size_t>(size) * 2);
    for (int i = 0; i < size; ++i) {
        auto b = static_cast<unsigned char>(data[i]);
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    return out;
}

}  // namespace qmsec
