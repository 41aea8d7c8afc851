#include "app/toolkit/qt/picture_widget.h"

#include <qdrawutil.h>
#include <QPainter>
#include <QStyle>

#include "app/toolkit/pcx.h"
#include "app/toolkit/picture_kind.h"
#include "app/toolkit/qt/convert.h"

namespace toolkit::qt {
namespace {

// A raised dialog frame outside a sunken client edge, as the framed picture box of the window.
constexpr int kOuterFrame = 3;
constexpr int kInnerFrame = 2;

const char* QtFormat(PictureKind kind) {
    switch (kind) {
        case PictureKind::Bmp:
            return "BMP";
        case PictureKind::Jpeg:
            return "JPEG";
        case PictureKind::Png:
            return "PNG";
        case PictureKind::Gif:
            return "GIF";
        case PictureKind::Icon:
            return "ICO";
        case PictureKind::Cursor:
            return "CUR";
        default:
            return nullptr;
    }
}

QImage DecodePcxImage(const QByteArray& data) {
    Pixels pixels;
    if (!DecodePcx(reinterpret_cast<const unsigned char*>(data.constData()),
                   std::size_t(data.size()), pixels))
        return {};
    QImage image(pixels.width, pixels.height, QImage::Format_RGB32);
    for (int y = 0; y < pixels.height; ++y) {
        memcpy(image.scanLine(y), pixels.argb.data() + std::size_t(pixels.width) * y,
               std::size_t(pixels.width) * 4);
    }
    return image;
}

// The natural size when it fits; else scaled by min(box / picture) on both sides.
QRect Place(QSize picture, QRect box) {
    if (picture.isEmpty() || box.isEmpty()) return {};
    qint64 width = picture.width();
    qint64 height = picture.height();
    if (width > box.width() || height > box.height()) {
        if (qint64(box.width()) * height <= qint64(box.height()) * width) {
            height = std::max<qint64>(1, height * box.width() / width);
            width = box.width();
        } else {
            width = std::max<qint64>(1, width * box.height() / height);
            height = box.height();
        }
    }
    const int left = box.left() + int((box.width() - width) / 2);
    const int top = box.top() + int((box.height() - height) / 2);
    return QRect(left, top, int(width), int(height));
}

}  // namespace

PictureWidget::PictureWidget(QWidget* parent) : QFrame(parent) {
    setContentsMargins(kOuterFrame + kInnerFrame, kOuterFrame + kInnerFrame,
                       kOuterFrame + kInnerFrame, kOuterFrame + kInnerFrame);
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);
}

PictureWidget::~PictureWidget() {
    Clear();
}

void PictureWidget::Clear() {
    movie_.reset();
    movieBuffer_.reset();
    image_ = QImage();
    view_ = QByteArray();
}

void PictureWidget::SetPicture(Bytes picture) {
    Clear();
    picture_ = std::move(picture);
    view_ = RawView(picture_);
    const PictureKind kind = SniffPictureKind(
        reinterpret_cast<const unsigned char*>(view_.constData()), std::size_t(view_.size()));
    if (kind == PictureKind::Gif && StartMovie()) {
        update();
        return;
    }
    if (kind == PictureKind::Pcx) {
        image_ = DecodePcxImage(view_);
    } else if (const char* format = QtFormat(kind)) {
        image_ = QImage::fromData(view_, format);
    }
    update();
}

Bytes PictureWidget::GetPicture() const {
    return picture_;
}

bool PictureWidget::StartMovie() {
    auto buffer = std::make_unique<QBuffer>();
    buffer->setData(view_);
    if (!buffer->open(QIODevice::ReadOnly)) return false;
    auto movie = std::make_unique<QMovie>(buffer.get(), QByteArray("GIF"));
    if (!movie->isValid() || movie->frameCount() < 2) return false;
    movie->setCacheMode(QMovie::CacheNone);
    QObject::connect(movie.get(), &QMovie::frameChanged, this, [this] { update(); });
    movieBuffer_ = std::move(buffer);
    movie_ = std::move(movie);
    movie_->start();
    return true;
}

QSize PictureWidget::NaturalSize() const {
    if (movie_) return movie_->currentImage().size();
    return image_.size();
}

QRect PictureWidget::PictureRect() const {
    return Place(NaturalSize(), contentsRect());
}

void PictureWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect outer = rect();
    qDrawShadePanel(&painter, outer, palette(), false, kOuterFrame);
    qDrawShadePanel(&painter, outer.adjusted(kOuterFrame, kOuterFrame, -kOuterFrame, -kOuterFrame),
                    palette(), true, kInnerFrame);
    const QImage frame = movie_ ? movie_->currentImage() : image_;
    const QRect target = Place(frame.size(), contentsRect());
    if (target.isEmpty()) return;
    painter.setRenderHint(QPainter::SmoothPixmapTransform, target.size() != frame.size());
    painter.drawImage(target, frame);
}

}  // namespace toolkit::qt
