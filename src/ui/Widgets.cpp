#include "ui/Widgets.h"

namespace plimo::ui {

QImage image(const Picture& picture) {
  if (picture.width <= 0 || picture.height <= 0 || picture.stride < picture.width * 4 ||
      picture.pixels.size() < size_t(picture.stride) * size_t(picture.height))
    return {};
  return QImage(picture.pixels.data(), picture.width, picture.height, picture.stride, QImage::Format_RGB32).copy();
}

QLabel* plainLabel(const QString& text, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setTextFormat(Qt::PlainText);
  label->setText(text);
  return label;
}

Light::Light(QWidget* parent) : QLabel(parent) {
  setTextFormat(Qt::PlainText);
  setFixedSize(14, 14);
  set(AppModel::Light::grey);
}

void Light::set(AppModel::Light light) {
  static constexpr const char* colours[] = {"#9a9a9a", "#e0a000", "#22a845", "#d93025"};
  setStyleSheet(QString("background: %1; border-radius: 7px;").arg(colours[int(light)]));
  static constexpr const char* names[] = {"grey", "amber", "green", "red"};
  setAccessibleName(names[int(light)]);
}

QLabel* bigLabel(const QString& text, int pointSize, QWidget* parent) {
  auto* label = plainLabel(text, parent);
  QFont font = label->font();
  font.setPointSize(pointSize);
  font.setBold(true);
  label->setFont(font);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return label;
}

}  // namespace plimo::ui
