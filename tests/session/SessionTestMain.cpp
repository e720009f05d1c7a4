// Test entry of the session: an event loop without windows, as the session needs no more.
#include <clocale>
#include <gtest/gtest.h>
#include <QCoreApplication>

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    // System error texts in the log are compared as the C locale words them.
    std::setlocale(LC_MESSAGES, "C");
    return RUN_ALL_TESTS();
}
