#include <iostream>

#include "ctl/ctl.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return lumora::ctl::run(args, std::cout, std::cerr);
}
