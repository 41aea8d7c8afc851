// The picture box: a framed box that shows a picture centred at its natural size, shrunk to fit
// without distortion when larger, never enlarged; animated GIFs play. Pictures are decoded at the
// size they are drawn (a camera photo is never held whole) and turned as their EXIF says.
#pragma once

#include <QBuffer>
#include <QFrame>
#include <QImage>
#include <QMovie>
#include <memory>

#include "app/toolkit/toolkit.h"

namespace toolkit::qt {

class PictureWidget : public QFrame, public PictureBox {
  public:
    explicit PictureWidget(QWidget* parent);
    ~PictureWidget() override;

    void SetPicture(Bytes picture) override;
    Bytes GetPicture() const override;

    // Where the picture is drawn, in widget coordinates; empty when the box is blank.
    QRect PictureRect() const;
    bool IsAnimated() const { return movie_ != nullptr; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void Clear();
    bool StartMovie();
    QSize NaturalSize() const;

    Bytes picture_;
    QByteArray view_;  // raw view of picture_, read by the movie
    QImage image_;
    std::unique_ptr<QBuffer> movieBuffer_;
    std::unique_ptr<QMovie> movie_;
};

}  // namespace toolkit::qt
