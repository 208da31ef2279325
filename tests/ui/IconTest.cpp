// The program's icon: one 32 x 33 image, 8 bits per pixel with a palette, and a 1-bit mask.

#include <gtest/gtest.h>

#include <QFile>
#include <QIcon>
#include <QImage>
#include <QtEndian>

// The icon is a resource of the window's static library.
static void InitUiResources() {
    Q_INIT_RESOURCE(app);
}

namespace {

QByteArray IconBytes() {
    InitUiResources();
    QFile file(QStringLiteral(":/app.ico"));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return file.readAll();
}

uint16_t U16(const QByteArray& b, int at) {
    return qFromLittleEndian<quint16>(b.constData() + at);
}
uint32_t U32(const QByteArray& b, int at) {
    return qFromLittleEndian<quint32>(b.constData() + at);
}
int32_t I32(const QByteArray& b, int at) {
    return qFromLittleEndian<qint32>(b.constData() + at);
}

TEST(IconFile, HoldsOne32By33ImageOf8BitsWithAMask) {
    const QByteArray ico = IconBytes();
    ASSERT_GE(ico.size(), 22 + 40);

    // ICONDIR: reserved, type 1 (icon), one image.
    EXPECT_EQ(U16(ico, 0), 0);
    EXPECT_EQ(U16(ico, 2), 1);
    ASSERT_EQ(U16(ico, 4), 1);

    // ICONDIRENTRY: 32 wide, 33 high, a full palette (0 means 256), 1 plane, 8 bits.
    EXPECT_EQ(uint8_t(ico[6]), 32);
    EXPECT_EQ(uint8_t(ico[7]), 33);
    EXPECT_EQ(uint8_t(ico[8]), 0);
    EXPECT_EQ(U16(ico, 10), 1);
    EXPECT_EQ(U16(ico, 12), 8);
    const uint32_t bytes = U32(ico, 14);
    const uint32_t offset = U32(ico, 18);
    ASSERT_EQ(offset + bytes, uint32_t(ico.size()));

    // BITMAPINFOHEADER: the height counts the image and the mask.
    const int h = int(offset);
    EXPECT_EQ(U32(ico, h), 40u);
    EXPECT_EQ(I32(ico, h + 4), 32);
    EXPECT_EQ(I32(ico, h + 8), 66);
    EXPECT_EQ(U16(ico, h + 12), 1);
    EXPECT_EQ(U16(ico, h + 14), 8);
    EXPECT_EQ(U32(ico, h + 16), 0u);  // uncompressed
    const uint32_t colours = U32(ico, h + 32) == 0 ? 256 : U32(ico, h + 32);
    EXPECT_EQ(colours, 256u);

    // Palette, 33 rows of 32 one-byte pixels, 33 rows of a 1-bit mask padded to 4 bytes.
    EXPECT_EQ(bytes, 40 + 256 * 4 + 32 * 33 + 4 * 33);
}

TEST(IconFile, MaskMakesSomePixelsTransparentAndLeavesTheDrawing) {
    QImage image;
    ASSERT_TRUE(image.loadFromData(IconBytes(), "ICO"));
    EXPECT_EQ(image.size(), QSize(32, 33));
    ASSERT_TRUE(image.hasAlphaChannel());
    int clear = 0;
    int opaque = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const int alpha = qAlpha(image.pixel(x, y));
            clear += alpha == 0;
            opaque += alpha == 255;
        }
    }
    EXPECT_GT(clear, 0);
    EXPECT_GT(opaque, 32 * 33 / 2);
    EXPECT_EQ(clear + opaque, 32 * 33);
}

}  // namespace
