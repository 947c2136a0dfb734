#include <QCoreApplication>
#include <gtest/gtest.h>

#include <clocale>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C"); // libmpv refuses to start under other numeric locales
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
