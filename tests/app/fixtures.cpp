#include "fixtures.h"

#include <QBuffer>

namespace fixtures {
namespace {

void Word(QByteArray& out, int value) {
    out.append(char(value & 0xFF));
    out.append(char((value >> 8) & 0xFF));
}

// Appends a run-length encoded line: every byte as a run (count byte 0xC0 | n, then the value).
void RleLine(QByteArray& out, const std::vector<unsigned char>& line) {
    std::size_t i = 0;
    while (i < line.size()) {
        std::size_t run = 1;
        while (i + run < line.size() && line[i + run] == line[i] && run < 63)
            ++run;
        if (run > 1 || (line[i] & 0xC0) == 0xC0) {
            out.append(char(0xC0 | run));
        }
        out.append(char(line[i]));
        i += run;
    }
}

QByteArray PcxHeader(int width, int height, int planes, int bytesPerLine) {
    QByteArray header(128, '\0');
    header[0] = 0x0A;
    header[1] = 5;
    header[2] = 1;
    header[3] = 8;
    QByteArray words;
    Word(words, 0);
    Word(words, 0);
    Word(words, width - 1);
    Word(words, height - 1);
    header.replace(4, 8, words);
    header[65] = char(planes);
    header[66] = char(bytesPerLine & 0xFF);
    header[67] = char(bytesPerLine >> 8);
    header[68] = 1;
    return header;
}

// GIF LZW with a 2-bit minimum code size: a clear code before every pair of pixels keeps the
// code width at 3 bits, which any decoder reads.
QByteArray LzwPixels(int count, int index) {
    const int clear = 4;
    const int end = 5;
    std::vector<int> codes;
    for (int i = 0; i < count; ++i) {
        if (i % 2 == 0) codes.push_back(clear);
        codes.push_back(index);
    }
    codes.push_back(end);
    QByteArray packed;
    unsigned bits = 0;
    int used = 0;
    for (int code : codes) {
        bits |= unsigned(code) << used;
        used += 3;
        while (used >= 8) {
            packed.append(char(bits & 0xFF));
            bits >>= 8;
            used -= 8;
        }
    }
    if (used > 0) packed.append(char(bits & 0xFF));
    QByteArray blocks;
    blocks.append(char(2));
    for (int i = 0; i < packed.size(); i += 255) {
        const QByteArray part = packed.mid(i, 255);
        blocks.append(char(part.size()));
        blocks.append(part);
    }
    blocks.append(char(0));
    return blocks;
}

}  // namespace

QImage Solid(int width, int height, QColor colour) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

QByteArray Encode(const QImage& image, const char* format) {
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, format == QByteArray("JPEG") ? 100 : -1);
    return data;
}

QByteArray Gif(int width, int height, const std::vector<QColor>& frames, int delayCs) {
    QByteArray gif("GIF89a");
    Word(gif, width);
    Word(gif, height);
    gif.append(char(0xF1));  // global colour table of 4 entries
    gif.append(char(0));
    gif.append(char(0));
    for (int i = 0; i < 4; ++i) {
        const QColor c = i < int(frames.size()) ? frames[std::size_t(i)] : QColor(Qt::black);
        gif.append(char(c.red()));
        gif.append(char(c.green()));
        gif.append(char(c.blue()));
    }
    // Loop for ever (NETSCAPE2.0).
    gif.append(QByteArray("\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00", 19));
    for (std::size_t f = 0; f < frames.size() && f < 4; ++f) {
        gif.append(QByteArray("\x21\xF9\x04\x04", 4));
        Word(gif, delayCs);
        gif.append(QByteArray("\x00\x00", 2));
        gif.append(char(0x2C));
        Word(gif, 0);
        Word(gif, 0);
        Word(gif, width);
        Word(gif, height);
        gif.append(char(0));
        gif.append(LzwPixels(width * height, int(f)));
    }
    gif.append(char(0x3B));
    return gif;
}

QByteArray Pcx8(int width, int height, const std::vector<QColor>& colours) {
    const int bytesPerLine = width + (width % 2);
    QByteArray pcx = PcxHeader(width, height, 1, bytesPerLine);
    for (int y = 0; y < height; ++y) {
        std::vector<unsigned char> line(std::size_t(bytesPerLine), 0);
        for (int x = 0; x < width; ++x)
            line[std::size_t(x)] = (unsigned char)((x + y) % 4);
        RleLine(pcx, line);
    }
    pcx.append(char(0x0C));
    for (int i = 0; i < 256; ++i) {
        const QColor c = i < int(colours.size()) ? colours[std::size_t(i)] : QColor(Qt::black);
        pcx.append(char(c.red()));
        pcx.append(char(c.green()));
        pcx.append(char(c.blue()));
    }
    return pcx;
}

QByteArray Pcx24(const QImage& image) {
    const int width = image.width();
    const int bytesPerLine = width + (width % 2);
    QByteArray pcx = PcxHeader(width, image.height(), 3, bytesPerLine);
    for (int y = 0; y < image.height(); ++y) {
        for (int plane = 0; plane < 3; ++plane) {
            std::vector<unsigned char> line(std::size_t(bytesPerLine), 0);
            for (int x = 0; x < width; ++x) {
                const QRgb p = image.pixel(x, y);
                line[std::size_t(x)] = (unsigned char)(plane == 0   ? qRed(p)
                                                       : plane == 1 ? qGreen(p)
                                                                    : qBlue(p));
            }
            RleLine(pcx, line);
        }
    }
    return pcx;
}

}  // namespace fixtures
