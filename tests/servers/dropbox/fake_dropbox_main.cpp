// fake_dropbox: the Dropbox fake on its own, for the benchmark and for trying things by hand. Prints its URL
// and a fresh token pair, then serves until standard input closes.
#include "fake_dropbox.h"

#include <iostream>
#include <string>

int main() {
    qm::test::FakeDropbox dropbox;
    const auto tokens = dropbox.issueTokens();
    std::cout << "url " << dropbox.url().toString().toStdString() << "\naccess " << tokens.access
              << "\nrefresh " << tokens.refresh << std::endl;
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    return 0;
}
