#include "ui/panes/Image.h"

#include <FreeImage.h>
#include <tiffio.h>

#include <QFile>

#include <cstring>

namespace {

// After the library is initialised: the TIFF plugin installs its own
// handlers then.
void silenceTiff() {
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
}

} // namespace

FreeImageLibrary::FreeImageLibrary() {
    FreeImage_Initialise(FALSE);
    silenceTiff();
}

FreeImageLibrary::~FreeImageLibrary() {
    FreeImage_DeInitialise();
}

namespace {

bool pixelsAcceptable(long long width, long long height) {
    return width * height <= Image::kMaxPixels;
}

// The GIF decoder cannot read headers only, and it fills the whole frame it
// is told about: the logical screen and the first frame are checked here.
bool gifSizeAcceptable(const char* path) {
    QFile file(QString::fromUtf8(path));
    if (!file.open(QIODevice::ReadOnly))
        return true;
    const QByteArray head = file.read(1 << 20); // colour tables and extensions before the frame
    auto u8 = [&](qsizetype i) { return i < head.size() ? quint8(head[i]) : 0; };
    auto u16 = [&](qsizetype i) { return u8(i) | (u8(i + 1) << 8); };
    if (!pixelsAcceptable(u16(6), u16(8)))
        return false;
    qsizetype pos = 13 + ((u8(10) & 0x80) ? 3 * (2 << (u8(10) & 7)) : 0);
    while (pos < head.size()) {
        if (u8(pos) == 0x2C) // image descriptor
            return pixelsAcceptable(u16(pos + 5), u16(pos + 7));
        if (u8(pos) != 0x21) // not an extension: the decoder will refuse it
            return true;
        pos += 2;
        while (pos < head.size() && u8(pos) != 0)
            pos += u8(pos) + 1;
        ++pos;
    }
    return true;
}

// Reads only the header where the decoder can, to refuse huge pictures
// before their pixels are allocated.
bool sizeAcceptable(FREE_IMAGE_FORMAT fif, const char* path) {
    if (fif == FIF_GIF)
        return gifSizeAcceptable(path);
    if (!FreeImage_FIFSupportsNoPixels(fif))
        return true;
    FIBITMAP* header = FreeImage_Load(fif, path, FIF_LOAD_NOPIXELS);
    if (header == nullptr)
        return true; // let the real load report the failure
    const bool acceptable =
        pixelsAcceptable(FreeImage_GetWidth(header), FreeImage_GetHeight(header));
    FreeImage_Unload(header);
    return acceptable;
}

bool sizeAcceptable(FIBITMAP* bitmap) {
    return pixelsAcceptable(FreeImage_GetWidth(bitmap), FreeImage_GetHeight(bitmap));
}

} // namespace

Image::~Image() {
    release();
}

bool Image::load(const QString& path) {
    // Also when the program initialised the library without our helper.
    static const bool silenced = (silenceTiff(), true);
    (void)silenced;
    release();
    const QByteArray file = path.toUtf8();
    const FREE_IMAGE_FORMAT fif = FreeImage_GetFileType(file.constData(), 0);
    if (fif == FIF_UNKNOWN || !sizeAcceptable(fif, file.constData()))
        return false;
    if (fif == FIF_ICO || fif == FIF_TIFF || fif == FIF_GIF) {
        multiPage = true;
        multiPageBitmap = FreeImage_OpenMultiBitmap(fif, file.constData(), FALSE, TRUE, FALSE, 0);
        if (multiPageBitmap != nullptr)
            bitmap = FreeImage_LockPage(multiPageBitmap, 0);
    } else {
        bitmap = FreeImage_Load(fif, file.constData(), 0);
    }
    if (bitmap == nullptr || !sizeAcceptable(bitmap)) {
        release();
        return false;
    }
    currentPage = 0;
    return true;
}

void Image::release() {
    ++version_;
    if (multiPage) {
        if (bitmap != nullptr)
            FreeImage_UnlockPage(multiPageBitmap, bitmap, FALSE);
        if (multiPageBitmap != nullptr)
            FreeImage_CloseMultiBitmap(multiPageBitmap, 0);
    } else if (bitmap != nullptr) {
        FreeImage_Unload(bitmap);
    }
    bitmap = nullptr;
    multiPageBitmap = nullptr;
    multiPage = false;
    currentPage = -1;
}

int Image::pageCount() const {
    if (bitmap == nullptr)
        return 0;
    return multiPageBitmap != nullptr ? FreeImage_GetPageCount(multiPageBitmap) : 1;
}

int Image::width() const {
    return bitmap != nullptr ? int(FreeImage_GetWidth(bitmap)) : 0;
}

int Image::height() const {
    return bitmap != nullptr ? int(FreeImage_GetHeight(bitmap)) : 0;
}

bool Image::isTransparent() const {
    return bitmap != nullptr && FreeImage_IsTransparent(bitmap);
}

QImage Image::toDib() const {
    if (bitmap == nullptr)
        return {};
    FIBITMAP* source = bitmap;
    FIBITMAP* converted = nullptr;
    if (FreeImage_GetBPP(bitmap) != 32 || FreeImage_GetImageType(bitmap) != FIT_BITMAP) {
        converted = FreeImage_ConvertTo32Bits(bitmap);
        if (converted == nullptr)
            return {};
        source = converted;
    }
    const int w = int(FreeImage_GetWidth(source));
    const int h = int(FreeImage_GetHeight(source));
    const bool transparent = FreeImage_IsTransparent(bitmap);
    QImage out(w, h, transparent ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    if (!out.isNull()) {
        // FreeImage keeps rows bottom-up, in the same B, G, R, A byte order
        // as Qt's 32-bit formats on little-endian machines.
        for (int y = 0; y < h; ++y) {
            auto* row = reinterpret_cast<unsigned char*>(out.scanLine(y));
            std::memcpy(row, FreeImage_GetScanLine(source, h - 1 - y), std::size_t(w) * 4);
            for (int x = 0; x < w; ++x) {
                unsigned char* px = row + x * 4;
                if (transparent) {
                    const unsigned alpha = px[FI_RGBA_ALPHA];
                    px[FI_RGBA_BLUE] = static_cast<unsigned char>(px[FI_RGBA_BLUE] * alpha / 255);
                    px[FI_RGBA_GREEN] = static_cast<unsigned char>(px[FI_RGBA_GREEN] * alpha / 255);
                    px[FI_RGBA_RED] = static_cast<unsigned char>(px[FI_RGBA_RED] * alpha / 255);
                } else {
                    px[FI_RGBA_ALPHA] = 0xFF;
                }
            }
        }
    }
    if (converted != nullptr)
        FreeImage_Unload(converted);
    return out;
}
