#include "app/qgatelogger.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QGateLogger::instance();
    std::fprintf(stderr, "ferrox: the gateway cannot load a configuration yet.\n");
    return 0;
}
