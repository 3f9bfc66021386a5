#include "cli.h"

#include <unistd.h>

#include <iostream>

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    return orvane::phone::runCli(args, std::cin, std::cout, std::cerr, ::isatty(STDIN_FILENO) != 0);
}
