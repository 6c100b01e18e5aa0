#pragma once
// Small pieces the windows share.

#include <QImage>
#include <QLabel>
#include <QString>
#include <string>
#include <vector>

#include "app/AppModel.h"
#include "platform/Picture.h"
#include "protocol/ChatLine.h"

namespace plimo::ui {

inline QString text(const std::string& s) { return QString::fromStdString(s); }

// A copy of a BGRA picture the windows may keep.
QImage image(const Picture& picture);

// Chat lines as rich text, each after "You:" or `other`.
QString chatHtml(const std::vector<ChatLine>& lines, const QString& other);

// A round status light.
class Light final : public QLabel {
 public:
  explicit Light(QWidget* parent = nullptr);
  void set(AppModel::Light light);
};

// A label in large type, for IDs and check numbers.
QLabel* bigLabel(const QString& text, int pointSize, QWidget* parent = nullptr);

}  // namespace plimo::ui
