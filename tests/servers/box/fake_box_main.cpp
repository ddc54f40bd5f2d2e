// fake_box: the Box fake on its own, for the benchmark and for trying things by hand. Prints its URL and a
// fresh token pair, then serves until standard input closes.
//   fake_box [--client-id ID] [--client-secret SECRET]
#include "fake_box.h"

#include <cstring>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    qm::test::FakeBox::Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--client-id") == 0)
            options.clientId = argv[i + 1];
        else if (std::strcmp(argv[i], "--client-secret") == 0)
            options.clientSecret = argv[i + 1];
    }
    qm::test::FakeBox box(options);
    const auto tokens = box.issueTokens();
    const std::string folder = box.addFolder("0", "Quillmoor");
    std::cout << "url " << box.url().toString().toStdString() << "\naccess " << tokens.access << "\nrefresh "
              << tokens.refresh << "\nfolder " << folder << std::endl;
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    return 0;
}
