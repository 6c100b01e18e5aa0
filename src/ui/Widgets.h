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

// A label that shows its text as it is, never as markup. The windows' labels
// show names, IDs and texts from partners, the server and files, and Qt would
// otherwise read a text with a tag in its first line as rich text (and load
// the images it names).
QLabel* plainLabel(const QString& text = {}, QWidget* parent = nullptr);

// A round status light (a plain label without text).
class Light final : public QLabel {
 public:
  explicit Light(QWidget* parent = nullptr);
  void set(AppModel::Light light);
};

// A plain label in large type, for IDs and check numbers.
QLabel* bigLabel(const QString& text, int pointSize, QWidget* parent = nullptr);

}  // namespace plimo::ui
