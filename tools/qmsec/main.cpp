// qmsec: the command-line tool of a QmSecCore node.
#include "Cli.h"
#include "QmSecKeyProvider/KeyProvider.h"

int main(int argc, char** argv) {
    // The key store's private keys are protected through Crypt, which needs a key provider.
    QmSecKeyProvider::KeyProvider::Register();

    qmsec::CommandTable table;
    qmsec::AddNodeCommands(table);
    qmsec::AddCertCommands(table);
    qmsec::AddDataCommands(table);
    qmsec::AddMessageCommands(table);
    qmsec::AddPolicyCommands(table);
    qmsec::AddTlsCommands(table);
    return table.Main(argc, argv);
}
