// A short guided tour of what the library offers so far, run by ./run demo on a fresh node
// directory. Every line it prints comes from a real call.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "QmSecCore/QmSecCore.h"
#include "QmXpl/QmXpl.h"

namespace {

void Step(const char* title) { std::printf("\n== %s\n", title); }

}  // namespace

int main() {
    try {
        const char* home = std::getenv("QMXPL_HOME");
        std::printf("QmSecCore %s, node directory %s\n", QmSecCore::GetVersion(),
                    home ? home : "(default)");

        Step("Text: UTF-16 strings that never fail on bad input");
        QmXplStr::String_t text(
            "Gr\xC3\xBC\xC3\x9F"
            "e \xF0\x9F\x8C\x8D and a bad byte \xFF");
        std::printf("%d UTF-16 units, upper case: %s\n", text.GetLength(),
                    QmXplStr::UTF8_t(text.ToUpper()).c_str());

        Step("Messages from the catalog, as exceptions carry them");
        try {
            QmXplMsg::Message_t m(QmSecCore::Catalog::GetCatalog(), 21,
                                  QmXplStr::String_t("Could not read file '%1'."),
                                  QmXplMsg::Severity_t::eWarning);
            m << "nsk.dat";
            throw QmSecCore::KeyStoreException(m);
        } catch (const QmXplMsg::Exception_t& e) {
            std::printf("caught: %s\n", e.what());
        }

        Step("Console formatting with a hanging indent");
        QmXplStr::String_t long_text(
            "The node key store lives under data/sec/ks below the node directory; its index, the "
            "node-specific key and every certificate and key file are written atomically.");
        std::printf("%s\n", QmXplStr::UTF8_t(QmSecCore::Utils::FormatStdOutput(
                                                 long_text, 10, 60, QmSecCore::Utils::eInfo))
                                .c_str());

        Step("Tracing: switch an area on and watch a block");
        std::fflush(stdout);
        QmXplTrc::TraceConfig_t::Configure("demo=9");
        QmXplTrc::TraceWrapper_t demo("demo", 3);
        {
            QmXplTrc::BlockTrace_t block(demo, "Tour::Block()", __FILE__, __LINE__);
            demo.Get().Trace(9, "inside the block", __FILE__, __LINE__);
        }
        QmXplTrc::TraceConfig_t::DisableAll();
        std::printf("\nTour complete.\n");
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tour failed: %s\n", e.what());
        return 1;
    }
}
