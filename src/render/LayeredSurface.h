#pragma once

#include <cstdint>

#include <QImage>
#include <QSize>

// The window's whole picture: one premultiplied 32-bit image of the client area (shadow
// margin included) and a global alpha that multiplies every pixel when it is shown. Pixels
// with alpha 0 show what lies behind the window.
namespace render {

class LayeredSurface {
public:
    LayeredSurface() = default;
    ~LayeredSurface() { release(); }
    LayeredSurface(const LayeredSurface &) = delete;
    LayeredSurface &operator=(const LayeredSurface &) = delete;

    // Builds the surface for a client area of `size` logical pixels, drawn at the screen's
    // `devicePixelRatio`, replacing any surface that exists, and sets the global alpha.
    // Throws platform::OverflowError when the pixel count leaves 32 bits.
    void create(QSize size, qreal devicePixelRatio, std::uint8_t globalAlpha);

    // Frees the image; the surface no longer exists.
    void release();

    bool exists() const { return !m_image.isNull(); }
    QImage &image() { return m_image; }
    const QImage &image() const { return m_image; }
    QSize size() const { return m_size; } // logical pixels

    std::uint8_t globalAlpha() const { return m_globalAlpha; }
    void setGlobalAlpha(std::uint8_t alpha) { m_globalAlpha = alpha; }

    // How many surfaces exist in the process: the window must never hold more than one.
    static int liveSurfaces();

private:
    QImage m_image;
    QSize m_size;
    std::uint8_t m_globalAlpha = 0;
};

} // namespace render
