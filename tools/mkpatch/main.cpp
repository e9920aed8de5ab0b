#include <iostream>

#include "tools/mkpatch/mkpatch.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return launcher::mkpatch::Run(args, std::cout, std::cerr);
}
