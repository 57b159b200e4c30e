#include <gtest/gtest.h>

#include <QApplication>

#include "ui/window_builder.h"

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  QApplication::setFont(dravik::ui::dialogFont());
  return RUN_ALL_TESTS();
}
