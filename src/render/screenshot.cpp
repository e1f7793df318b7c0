#include "render/screenshot.hpp"

#include "base/log.hpp"
#include "render/gl_functions.hpp"
#include "render/render_system.hpp"
#include "render/screen_dim.hpp"

#include <stb_image_write.h>

#include <cstdint>
#include <vector>

bool saveScreenshot(const RenderState& render, const std::string& path) {
    const int width = render.width;
    const int height = render.height;
    if (width <= 0 || height <= 0) {
        logError(stderr, "Failed to save screenshot: %s (no frame to read)", path.c_str());
        return false;
    }
    settleSceneDim(); // the picture shows what the swap will
    const std::size_t row = static_cast<std::size_t>(width) * 3;
    std::vector<std::uint8_t> pixels(row * static_cast<std::size_t>(height));
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    if (!checkGLError("Screenshot")) {
        logError(stderr, "Failed to save screenshot: %s (the frame could not be read)", path.c_str());
        return false;
    }
    // GL's rows run bottom up; PNG's top down.
    stbi_flip_vertically_on_write(1);
    const int written = stbi_write_png(path.c_str(), width, height, 3, pixels.data(), static_cast<int>(row));
    stbi_flip_vertically_on_write(0);
    if (written == 0) {
        logError(stderr, "Failed to save screenshot: %s", path.c_str());
        return false;
    }
    logMessage("Screenshot saved: %s", path.c_str());
    return true;
}

std::string screenshotFileName(std::time_t when) {
    std::tm local{};
    char name[64] = "screenshot.png";
    if (localtime_r(&when, &local) != nullptr) {
        std::strftime(name, sizeof name, "screenshot-%Y%m%d-%H%M%S.png", &local);
    }
    return name;
}
