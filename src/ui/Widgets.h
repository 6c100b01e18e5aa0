#pragma once
// Small pieces the windows share.

#include <QImage>
#include <QLabel>
#include <QString>
#include <string>

#include "app/AppModel.h"
#include "platform/Picture.h"

namespace plimo::ui {

inline QString text(const std::string& s) { return QString::fromStdString(s); }

// A copy of a BGRA picture the windows may keep.
QImage image(const Picture& picture);

// A round status light.
class Light final : public QLabel {
 public:
  explicit Light(QWidget* parent = nullptr);
  void set(AppModel::Light light);
};

// A label in large type, for IDs and check numbers.
QLabel* bigLabel(const QString& text, int pointSize, QWidget* parent = nullptr);

}  // namespace plimo::ui
