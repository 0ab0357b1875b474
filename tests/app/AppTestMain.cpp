// Test entry for the program's own units: the tests run inside the program's
// application object, titled as the program is.
#include "app/TApplication.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    TApplication app(argc, argv);
    TApplication::SetTitle("Stirwatch");
    return RUN_ALL_TESTS();
}
