// A decoded picture for the preview, over FreeImage.
#pragma once

#include <QImage>
#include <QString>

struct FIBITMAP;
struct FIMULTIBITMAP;

// Initialises the image library for the program's lifetime; the application
// holds one from start to exit. It also keeps the TIFF decoder from writing
// a warning to stderr for every tag it does not know.
class FreeImageLibrary {
public:
    FreeImageLibrary();
    ~FreeImageLibrary();
    FreeImageLibrary(const FreeImageLibrary&) = delete;
    FreeImageLibrary& operator=(const FreeImageLibrary&) = delete;
};

class Image {
public:
    // Pictures with more pixels than this are refused rather than decoded,
    // so that a hostile header cannot make us allocate gigabytes.
    static constexpr long long kMaxPixels = 64LL * 1024 * 1024;

    Image() = default;
    virtual ~Image();
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    // Decodes the file, recognised by its content. ICO, TIFF and GIF are
    // opened as multi-page files showing their first page.
    bool load(const QString& path);
    void release();

    bool isLoaded() const { return bitmap != nullptr; }
    int pageCount() const;
    int width() const;
    int height() const;
    bool isTransparent() const;

    // The picture as 32-bit pixels, top row first: premultiplied ARGB when
    // transparent, opaque RGB otherwise. Null when it cannot be converted.
    QImage toDib() const;

    // Changes whenever another picture is loaded or the picture released,
    // so that anything made from the pixels knows when it is out of date.
    unsigned version() const { return version_; }

private:
    bool multiPage = false;
    FIMULTIBITMAP* multiPageBitmap = nullptr;
    FIBITMAP* bitmap = nullptr;
    int currentPage = -1;
    unsigned version_ = 0;
};
