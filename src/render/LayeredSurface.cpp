#include "render/LayeredSurface.h"

#include <atomic>
#include <cmath>

#include "platform/Numbers.h"

namespace render {
namespace {
std::atomic<int> g_liveSurfaces{0};
}

void LayeredSurface::create(QSize size, qreal devicePixelRatio, std::uint8_t globalAlpha) {
    const std::int32_t width = platform::roundToInt32(size.width());
    const std::int32_t height = platform::roundToInt32(size.height());
    platform::checkedMultiply(platform::checkedMultiply(width, height), 4);
    release();
    const qreal ratio = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    m_image =
        QImage(static_cast<int>(std::ceil(width * ratio)),
               static_cast<int>(std::ceil(height * ratio)), QImage::Format_ARGB32_Premultiplied);
    m_image.setDevicePixelRatio(ratio);
    m_image.fill(Qt::transparent);
    m_size = QSize(width, height);
    m_globalAlpha = globalAlpha;
    if (!m_image.isNull())
        ++g_liveSurfaces;
}

void LayeredSurface::release() {
    if (m_image.isNull())
        return;
    m_image = QImage();
    --g_liveSurfaces;
}

int LayeredSurface::liveSurfaces() {
    return g_liveSurfaces;
}

} // namespace render
