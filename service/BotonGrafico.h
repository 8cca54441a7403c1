#pragma once

#include <QPixmap>
#include <QPushButton>

namespace kestrola {

// A command button in graphical style: no caption, one picture while up and another one while
// held down. A picture larger than the button is scaled down to fit, keeping its proportions.
class BotonGrafico : public QPushButton {
 public:
  explicit BotonGrafico(QWidget* parent = nullptr);

  const QPixmap& Picture() const { return picture_; }
  void SetPicture(const QPixmap& picture);
  const QPixmap& DownPicture() const { return downPicture_; }
  void SetDownPicture(const QPixmap& picture);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QPixmap picture_;
  QPixmap downPicture_;
};

}  // namespace kestrola
