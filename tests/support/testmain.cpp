#include <QCoreApplication>

#include <gtest/gtest.h>

// Every test program runs with an application object, as the gateway does:
// timers, sockets and translators need one.
int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
