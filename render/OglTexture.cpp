// Image lookup, decode and upload for a model's parts.
#include "render/OglTexture.h"

#include <algorithm>

#include "tracker/Console.h"
#include "render/ModelImages.h"

namespace {
GLint glWrap(aiTextureMapMode mode) {
    return mode == aiTextureMapMode_Wrap     ? GL_REPEAT
           : mode == aiTextureMapMode_Mirror ? GL_MIRRORED_REPEAT
                                             : GL_CLAMP_TO_EDGE;
}

// Where the image is, as a key: each embedded image, each file and each name not found, once.
std::string imageKey(const ImageSource& source, const std::string& written) {
    if (source.embedded != nullptr) return "*" + std::to_string(reinterpret_cast<uintptr_t>(source.embedded));
    return source.path.empty() ? "?" + written : source.path;
}

GLuint upload(const DecodedImage& image) {
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, image.width, image.height, 0, image.bgra ? GL_BGRA : GL_RGBA,
                 GL_UNSIGNED_BYTE, image.pixels);
    glGenerateMipmap(GL_TEXTURE_2D);
    return texture;
}
}  // namespace

void OglTextures::attach(std::vector<OglMeshPart>& parts, const aiScene& scene,
                         const std::string& modelFolder) {
    GLint glLimit = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &glLimit);
    const int maxSide = std::min(kMaxImageSide, int(glLimit));
    for (OglMeshPart& part : parts) {
        const MaterialImage wanted = materialImage(scene, part.material);
        if (wanted.written.empty() || !carries(part, kTexCoordLocation)) continue;
        const ImageSource source = findImage(scene, wanted.written, modelFolder);
        const auto [image, isNew] = images_.try_emplace(imageKey(source, wanted.written), 0);
        if (isNew) {
            const DecodedImage decoded = decodeImage(source, maxSide);  // freed once uploaded
            if (decoded.pixels != nullptr)
                image->second = upload(decoded);
            else
                Leap::printConsoleLine("cannot use the image " + Leap::printable(wanted.written) + ": " +
                                       decoded.problem);
        }
        if (image->second == 0) continue;
        const auto [sampler, isNewSampler] =
            samplers_.try_emplace({glWrap(wanted.wrap[0]), glWrap(wanted.wrap[1])}, 0);
        if (isNewSampler) {
            glGenSamplers(1, &sampler->second);
            glSamplerParameteri(sampler->second, GL_TEXTURE_WRAP_S, sampler->first.first);
            glSamplerParameteri(sampler->second, GL_TEXTURE_WRAP_T, sampler->first.second);
            glSamplerParameteri(sampler->second, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
            glSamplerParameteri(sampler->second, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        }
        part.texture = image->second;
        part.sampler = sampler->second;
    }
}

void OglTextures::release() {
    for (const auto& [key, texture] : images_)
        if (texture != 0) glDeleteTextures(1, &texture);
    for (const auto& [wrap, sampler] : samplers_) glDeleteSamplers(1, &sampler);
    images_.clear();
    samplers_.clear();
}
