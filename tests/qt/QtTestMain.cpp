#include <QApplication>

#include <gtest/gtest.h>

// Qt tests need one application object for the whole run; the widgets come and go test by test.
int main(int argc, char** argv) {
    // Headless unless told otherwise (test discovery runs this program without the test's environment).
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
