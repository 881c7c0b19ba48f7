// Image lookup beside a model, and decoding with stb_image under bounds.
#include "render/ModelImages.h"

#include <assimp/scene.h>
#include <dirent.h>
#include <fcntl.h>
#include <stb_image.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include "render/ModelFile.h"

namespace {
// No image taken decodes to more than this, so no file of one is larger.
constexpr off_t kMaxImageFileBytes = off_t(kMaxImageSide) * kMaxImageSide * 4;

// "*N", strictly digits (nine at most, so the number cannot overflow); false when it is not one.
bool embeddedIndex(const std::string& written, unsigned& index) {
    if (written.size() < 2 || written.size() > 10 || written[0] != '*') return false;
    index = 0;
    for (size_t i = 1; i < written.size(); ++i) {
        if (written[i] < '0' || written[i] > '9') return false;
        index = index * 10 + unsigned(written[i] - '0');
    }
    return true;
}

bool exists(const std::string& path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0;
}

// The entry of `folder` named `name` in any case, exactly first; empty when there is none.
std::string nameInAnyCase(const std::string& folder, const std::string& name) {
    if (exists(folder + "/" + name)) return folder + "/" + name;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return std::string();
    std::string found;
    while (const dirent* entry = readdir(dir))
        if (strcasecmp(entry->d_name, name.c_str()) == 0) {
            found = folder + "/" + entry->d_name;
            break;
        }
    closedir(dir);
    return found;
}

DecodedImage refused(std::string why) {
    DecodedImage image;
    image.problem = std::move(why);
    return image;
}

std::string sideProblem(long width, long height, int maxSide) {
    if (width <= 0 || height <= 0) return "it has no pixels";
    if (width > maxSide || height > maxSide)
        return "it declares " + std::to_string(width) + "x" + std::to_string(height) +
               " pixels, over the limit of " + std::to_string(maxSide) + " a side";
    if (rlim_t(width) * rlim_t(height) * 4 > importBudget())
        return "its pixels would take more memory than an import may";
    return std::string();
}
}  // namespace

MaterialImage materialImage(const aiScene& scene, unsigned materialIndex) {
    MaterialImage image;
    if (materialIndex >= scene.mNumMaterials || scene.mMaterials[materialIndex] == nullptr) return image;
    const aiMaterial* material = scene.mMaterials[materialIndex];
    for (const aiTextureType type : {aiTextureType_DIFFUSE, aiTextureType_BASE_COLOR}) {
        aiString path;
        aiTextureMapping mapping = aiTextureMapping_UV;
        unsigned uvSet = 0;
        if (aiGetMaterialTexture(material, type, 0, &path, &mapping, &uvSet, nullptr, nullptr, image.wrap,
                                 nullptr) != AI_SUCCESS)
            continue;
        // Other sets and mappings are not in the vertex buffers.
        if (mapping != aiTextureMapping_UV || uvSet != 0 || path.length == 0) return MaterialImage();
        image.written = path.C_Str();
        aiGetMaterialUVTransform(material, AI_MATKEY_UVTRANSFORM(type, 0), &image.transform);
        return image;
    }
    return image;
}

ImageSource findImage(const aiScene& scene, const std::string& written, const std::string& modelFolder) {
    ImageSource source;
    unsigned index = 0;
    if (embeddedIndex(written, index)) {
        source.embedded = index < scene.mNumTextures ? scene.mTextures[index] : nullptr;
        if (source.embedded == nullptr) source.problem = "the model embeds no such image";
        return source;
    }
    if (written.empty() || written[0] == '*') {
        source.problem = "the model embeds no such image";
        return source;
    }
    if ((source.embedded = scene.GetEmbeddedTexture(written.c_str())) != nullptr) return source;
    std::string path = written;
    std::replace(path.begin(), path.end(), '\\', '/');
    if (path[0] != '/') path = modelFolder + "/" + path;
    if (!exists(path)) path = nameInAnyCase(modelFolder, path.substr(path.rfind('/') + 1));
    if (path.empty()) {
        source.problem = "no such file as written, nor by its name beside the model";
        return source;
    }
    source.path = path;
    source.problem = fileProblem(path.c_str());
    return source;
}

DecodedImage decodeImageBytes(const unsigned char* bytes, size_t size, int maxSide) {
    int width = 0;
    int height = 0;
    int channels = 0;
    if (size > size_t(INT_MAX) || !stbi_info_from_memory(bytes, int(size), &width, &height, &channels))
        return refused(std::string("not an image it reads (") + stbi_failure_reason() + ")");
    const std::string problem = sideProblem(width, height, maxSide);
    if (!problem.empty()) return refused(problem);
    DecodedImage image;
    {
        ImportMemoryBound bound;
        image.owned.reset(stbi_load_from_memory(bytes, int(size), &image.width, &image.height, &channels, 4));
    }
    if (image.owned == nullptr)
        return refused(std::string("truncated or corrupt (") + stbi_failure_reason() + ")");
    image.pixels = image.owned.get();
    return image;
}

DecodedImage decodeImage(const ImageSource& source, int maxSide) {
    if (!source.problem.empty()) return refused(source.problem);
    if (const aiTexture* embedded = source.embedded) {
        if (embedded->pcData == nullptr) return refused("the model embeds it without data");
        if (embedded->mHeight == 0)  // compressed: mWidth bytes of a file
            return decodeImageBytes(reinterpret_cast<const unsigned char*>(embedded->pcData),
                                    embedded->mWidth, maxSide);
        const std::string problem = sideProblem(embedded->mWidth, embedded->mHeight, maxSide);
        if (!problem.empty()) return refused(problem);
        DecodedImage image;
        image.width = int(embedded->mWidth);
        image.height = int(embedded->mHeight);
        image.bgra = true;  // aiTexel's order
        image.pixels = reinterpret_cast<const unsigned char*>(embedded->pcData);
        return image;
    }
    // Non-blocking: a file that became a pipe since it was looked at must not hang the start.
    const int fd = open(source.path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return refused(std::strerror(errno));
    struct stat status {};
    std::vector<unsigned char> bytes;
    std::string problem;
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))
        problem = "it is not a regular file";
    else if (status.st_size > kMaxImageFileBytes)
        problem = "it is larger than any image it takes";
    else {
        bytes.resize(size_t(status.st_size));
        size_t got = 0;
        for (ssize_t n = 0; got < bytes.size() && (n = read(fd, bytes.data() + got, bytes.size() - got)) > 0;)
            got += size_t(n);
        bytes.resize(got);  // shorter if it shrank meanwhile
    }
    close(fd);
    if (!problem.empty()) return refused(problem);
    return decodeImageBytes(bytes.data(), bytes.size(), maxSide);
}
