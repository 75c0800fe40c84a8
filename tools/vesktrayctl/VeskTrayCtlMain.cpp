// vesktrayctl.exe: controls VeskTrayServer from the command line; see "vesktrayctl --help".
#include <iostream>

#include "VeskTrayCtl.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const int code = RunVeskTrayCtl(args, std::cout, std::cerr);
    std::cout.flush();
    return code;
}
