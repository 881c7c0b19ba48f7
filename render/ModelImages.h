// A user's model's base-colour images: which image a material names, where it is (in the scene
// or a file beside the model) and its pixels, decoded within bounds. No OpenGL.
#pragma once

#include <assimp/material.h>

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <string>

struct aiScene;
struct aiTexture;

// Whatever the GL allows, no image side over this is decoded (8192 x 8192 RGBA: 256 MiB).
constexpr int kMaxImageSide = 8192;

// The diffuse or base-colour image of a material, on the first texture-coordinate set, as the
// file writes it; `written` is empty when the material has none.
struct MaterialImage {
    std::string written;
    aiUVTransform transform;
    aiTextureMapMode wrap[2] = {aiTextureMapMode_Wrap, aiTextureMapMode_Wrap};  // u, v
};
MaterialImage materialImage(const aiScene& scene, unsigned materialIndex);

// Where an image is: in the scene, or a regular file; `problem` says why neither.
struct ImageSource {
    const aiTexture* embedded = nullptr;
    std::string path;
    std::string problem;
};
// Embedded ("*N", or by its name), else a file: the path as written (Windows separators turned),
// relative to the model's folder, then its file name beside the model in any case.
ImageSource findImage(const aiScene& scene, const std::string& written, const std::string& modelFolder);

// Pixels as OpenGL takes them, top row first, 4 bytes a pixel: RGBA, or BGRA where an embedded
// raw image is used in place.
struct DecodedImage {
    int width = 0;
    int height = 0;
    bool bgra = false;
    const unsigned char* pixels = nullptr;  // into `owned`, or into the scene
    std::unique_ptr<unsigned char, void (*)(void*)> owned{nullptr, std::free};
    std::string problem;  // why there are no pixels
};
// The declared size is read first: a side over `maxSide` is refused before anything is decoded,
// and the decode itself runs under the import's memory bound.
DecodedImage decodeImage(const ImageSource& source, int maxSide);
DecodedImage decodeImageBytes(const unsigned char* bytes, size_t size, int maxSide);
