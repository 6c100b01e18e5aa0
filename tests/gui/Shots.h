#pragma once
// Screenshots of the windows, saved in the build folder's gui-shots.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QWidget>

namespace plimo::testing {

inline QString shotPath(const QString& name) {
  QDir().mkpath(PLIMO_BINARY_DIR "/gui-shots");
  return PLIMO_BINARY_DIR "/gui-shots/" + name + ".png";
}

inline void shoot(QWidget& w, const QString& name) {
  QApplication::processEvents();  // layouts settle first
  ASSERT_TRUE(w.grab().save(shotPath(name)));
}

}  // namespace plimo::testing
