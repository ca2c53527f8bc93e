// Test runner of the window tests: GoogleTest on a QApplication.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstring>
#include <memory>

#include "app/startup.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // Listing the tests (ctest's discovery) needs no display.
  bool listing = false;
  for (int i = 1; i < argc; ++i)
    listing = listing || std::strcmp(argv[i], "--gtest_list_tests") == 0;
  std::unique_ptr<QApplication> app;
  if (!listing) {
    qarvo::prepareBrowserEnvironment();
    app = std::make_unique<QApplication>(argc, argv);
    // Closing a window in a test must not end the tests' own event loops.
    QApplication::setQuitOnLastWindowClosed(false);
  }
  return RUN_ALL_TESTS();
}
