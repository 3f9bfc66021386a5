#include "cli.h"

#include <QCoreApplication>

#include <unistd.h>

#include <iostream>

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    // The relay's WebSocket runs on Qt's event loop.
    QCoreApplication app(argc, argv);
    return orvane::phone::runCli(args, std::cin, std::cout, std::cerr, ::isatty(STDIN_FILENO) != 0);
}
