// libFuzzer target: import the bytes with the viewer's flags and build the parts it would upload,
// or decode them as an image. The first byte picks the format hint (or an image), the rest is the
// file. The unit tests replay fuzz/corpus.
#include <assimp/cimport.h>
#include <assimp/scene.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "render/MeshParts.h"
#include "render/ModelImages.h"
#include "render/ModelFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const char* const hints[] = {"obj", "ply", "stl", "off", "gltf"};
    if (size < 2) return 0;
    if (data[0] % 6 == 5) {  // an image: pixels, all of them readable (the sanitizer sees), or a reason
        const DecodedImage image = decodeImageBytes(data + 1, size - 1, kMaxImageSide);
        if ((image.pixels == nullptr) == image.problem.empty()) std::abort();
        if (image.pixels != nullptr) {
            volatile unsigned char last = image.pixels[size_t(image.width) * size_t(image.height) * 4 - 1];
            (void)last;
        }
        return 0;
    }
    const aiScene* scene =
        aiImportFileFromMemory(reinterpret_cast<const char*>(data + 1), static_cast<unsigned>(size - 1),
                               kImportFlags, hints[data[0] % 6]);
    // What the upload and the draw take on trust: sizes agree and every index names a vertex; also as
    // a named model is built, placed by its nodes, framed, and its images found and decoded.
    for (const bool named : {false, true}) {
        std::vector<OglMeshPart> parts;
        if (sceneHasMeshes(scene))
            parts = named ? buildPlacedParts(*scene, upTurn(*scene, ModelUp::Declared))
                          : buildParts(*scene, decideFlags(*scene));
        if (named) frameInView(parts, {{2, 2, 2}, {-0.5f, -0.7071f, -0.5f}, 45, 1.5f});
        for (const OglMeshPart& part : parts) {
            const OglBuffVertex& v = part.vertexBuffer;
            const OglBuffIndex& i = part.indexBuffer;
            const int32_t corners = i.elementsPerPrimitive;
            if (v.data != v.vertices.data() || i.data != i.indices.data() || v.stride <= 0 ||
                v.count % v.stride != 0 || v.byteSize != v.count * 4 || i.count <= 0 || corners < 1 ||
                corners > 3 || i.count % corners != 0 || (!named && corners != 3))
                std::abort();
            for (uint32_t index : i.indices)
                if (index >= static_cast<uint32_t>(v.count / v.stride)) std::abort();
            const std::string written = named ? materialImage(*scene, part.material).written : std::string();
            if (!written.empty()) decodeImage(findImage(*scene, written, "/nonexistent"), kMaxImageSide);
        }
    }
    aiReleaseImport(scene);
    return 0;
}
