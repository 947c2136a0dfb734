#include <QApplication>
#include <gtest/gtest.h>

#include <clocale>
#include <cstring>

int main(int argc, char** argv)
{
    // Listing the cases needs no display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--gtest_list_tests") == 0) {
            ::testing::InitGoogleTest(&argc, argv);
            return RUN_ALL_TESTS();
        }
    }
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C"); // libmpv refuses to start under other numeric locales
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
