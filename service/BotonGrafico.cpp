#include "service/BotonGrafico.h"

#include <QStyleOptionButton>
#include <QStylePainter>

namespace kestrola {

BotonGrafico::BotonGrafico(QWidget* parent) : QPushButton(parent) {}

void BotonGrafico::SetPicture(const QPixmap& picture) {
  picture_ = picture;
  update();
}

void BotonGrafico::SetDownPicture(const QPixmap& picture) {
  downPicture_ = picture;
  update();
}

void BotonGrafico::paintEvent(QPaintEvent*) {
  QStylePainter painter(this);
  QStyleOptionButton option;
  initStyleOption(&option);
  option.text.clear();
  option.icon = QIcon();
  painter.drawControl(QStyle::CE_PushButtonBevel, option);

  const QPixmap& shown = isDown() && !downPicture_.isNull() ? downPicture_ : picture_;
  if (shown.isNull()) return;
  QRect area = rect().adjusted(2, 2, -2, -2);
  QSize size = shown.size().scaled(area.size(), Qt::KeepAspectRatio).boundedTo(shown.size());
  QRect target(QPoint(0, 0), size);
  target.moveCenter(area.center());
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawPixmap(target, shown);
}

}  // namespace kestrola
