#include <QGuiApplication>
#include <gtest/gtest.h>

// The main of the tests of the data layer and the companion tool: a GUI application (documents
// and fonts), no widgets.
int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QGuiApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
