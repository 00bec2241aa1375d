// Links against the installed QmSecCore and QmXpl, formats a catalog message and exits 0.
#include <cstdio>

#include "QmSecCore/QmSecCore.h"
#include "QmXpl/QmXpl.h"

int main() {
    QmXplMsg::Message_t m(QmSecCore::Catalog::GetCatalog(), 87, QmXplStr::String_t("INFO:"),
                          QmXplMsg::Severity_t::eNone);
    QmXplStr::String_t line =
        QmSecCore::Utils::FormatOutput(m.GetText(), QmXplStr::String_t("consumer linked"), 8, 60);
    std::printf("QmSecCore %s: %s\n", QmSecCore::GetVersion(), QmXplStr::UTF8_t(line).c_str());
    return 0;
}
