#include "app/toolkit/qt/picture_widget.h"

#include <qdrawutil.h>
#include <QImageReader>
#include <QPainter>
#include <QStyle>

#include "app/toolkit/pcx.h"
#include "app/toolkit/picture_kind.h"
#include "app/toolkit/qt/convert.h"

namespace toolkit::qt {
namespace {

// A raised dialog frame outside a sunken client edge, as the framed picture box of the window.
constexpr int outerFrame = 3;
constexpr int innerFrame = 2;
// Room for the largest picture decoded whole: maxPcxPixels pixels of 4 bytes.
constexpr int wholePictureMiB = int(maxPcxPixels * 4 >> 20);

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

// The picture at the size it is drawn in the box: never larger than shown.
QImage FitToBox(QImage image, QSize box) {
    const QSize shown = Place(image.size(), QRect(QPoint(), box)).size();
    if (shown.isEmpty() || shown == image.size()) return image;
    return image.scaled(shown, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

QImage DecodePcxImage(const QByteArray& data, QSize box) {
    Pixels pixels;
    if (!DecodePcx(reinterpret_cast<const unsigned char*>(data.constData()),
                   std::size_t(data.size()), pixels))
        return {};
    // A view of the decoded pixels; the scaled copy (or the deep copy) outlives them.
    const QImage view(reinterpret_cast<const uchar*>(pixels.argb.data()), pixels.width,
                      pixels.height, QImage::Format_RGB32);
    QImage fitted = FitToBox(view, box);
    if (fitted.constBits() == view.constBits()) fitted = view.copy();
    return fitted;
}

// Icon and cursor files hold several sizes of one picture: the one with the most pixels.
void JumpToLargestImage(QImageReader& reader) {
    int best = -1;
    qint64 bestPixels = 0;
    for (int i = 0; i < reader.imageCount(); ++i) {
        if (!reader.jumpToImage(i)) break;
        const QSize size = reader.size();
        if (qint64(size.width()) * size.height() > bestPixels) {
            bestPixels = qint64(size.width()) * size.height();
            best = i;
        }
    }
    if (best >= 0) reader.jumpToImage(best);
}

// Decodes at the size the picture is drawn in the box, turned as its EXIF orientation says:
// a JPEG is decoded scaled down by the decoder itself, so a camera photo never exists at full
// size here.
QImage DecodeForBox(const QByteArray& data, PictureKind kind, QSize box) {
    QBuffer buffer;
    buffer.setData(data);
    if (!buffer.open(QIODevice::ReadOnly)) return {};
    // Pictures a reader cannot decode scaled (PNG, BMP) are read whole first: up to 64
    // megapixels of 4 bytes, as the PCX decoder allows, where Qt's default stops at 128 MiB.
    static const bool limitRaised = (QImageReader::setAllocationLimit(wholePictureMiB), true);
    (void)limitRaised;
    QImageReader reader(&buffer, QtFormat(kind));
    reader.setAutoTransform(true);
    if (kind == PictureKind::Icon || kind == PictureKind::Cursor) JumpToLargestImage(reader);
    const QSize stored = reader.size();
    if (stored.isValid()) {
        // The size is given as stored; the box sees it after the turn.
        const bool turned = reader.transformation() & QImageIOHandler::TransformationRotate90;
        const QSize shown = turned ? stored.transposed() : stored;
        const QSize fitted = Place(shown, QRect(QPoint(), box)).size();
        if (!fitted.isEmpty() && fitted != shown)
            reader.setScaledSize(turned ? fitted.transposed() : fitted);
    }
    // Readers that cannot decode scaled give the whole picture: scaled here, the whole dropped.
    return FitToBox(reader.read(), box);
}

}  // namespace

PictureWidget::PictureWidget(QWidget* parent) : QFrame(parent) {
    setContentsMargins(outerFrame + innerFrame, outerFrame + innerFrame, outerFrame + innerFrame,
                       outerFrame + innerFrame);
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
        image_ = DecodePcxImage(view_, contentsRect().size());
    } else if (QtFormat(kind) != nullptr) {
        image_ = DecodeForBox(view_, kind, contentsRect().size());
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
    // Frames are scaled as they are decoded, to the size they are drawn at.
    if (movie->jumpToFrame(0)) {
        const QSize natural = movie->currentImage().size();
        const QSize fitted = Place(natural, QRect(QPoint(), contentsRect().size())).size();
        if (!fitted.isEmpty() && fitted != natural) movie->setScaledSize(fitted);
    }
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
    qDrawShadePanel(&painter, outer, palette(), false, outerFrame);
    qDrawShadePanel(&painter, outer.adjusted(outerFrame, outerFrame, -outerFrame, -outerFrame),
                    palette(), true, innerFrame);
    const QImage frame = movie_ ? movie_->currentImage() : image_;
    const QRect target = Place(frame.size(), contentsRect());
    if (target.isEmpty()) return;
    painter.setRenderHint(QPainter::SmoothPixmapTransform, target.size() != frame.size());
    painter.drawImage(target, frame);
}

}  // namespace toolkit::qt
