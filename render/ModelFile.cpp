// Checks and the memory-bounded import of a user's model file.
#include "render/ModelFile.h"

#include <assimp/cimport.h>
#include <assimp/config.h>
#include <assimp/scene.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>

namespace {
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
constexpr bool kAddressSanitizer = __has_feature(address_sanitizer);
#else
constexpr bool kAddressSanitizer = false;
#endif

// What an import may add to the address space: half the machine's memory, at most this.
// Real models need far less (the largest of the importer's own test models, 141 MB).
constexpr rlim_t kMaxImportBytes = rlim_t(8) << 30;

rlim_t addressSpaceInUse() {
    unsigned long pages = 0;
    if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%lu", &pages) != 1) pages = 0;
        std::fclose(statm);
    }
    return rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE));
}
}  // namespace

rlim_t importBudget() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return kMaxImportBytes;
    return std::min(rlim_t(pages) * rlim_t(pageSize) / 2, kMaxImportBytes);
}

// Not under AddressSanitizer, whose shadow alone spans terabytes: that build bounds allocations
// through its allocator's options (app/main.cpp).
ImportMemoryBound::ImportMemoryBound() {
    const rlim_t inUse = kAddressSanitizer ? 0 : addressSpaceInUse();
    if (inUse == 0 || getrlimit(RLIMIT_AS, &saved_) != 0) return;
    rlimit bounded = saved_;
    bounded.rlim_cur = std::min(saved_.rlim_cur, inUse + importBudget());
    active_ = setrlimit(RLIMIT_AS, &bounded) == 0;
}

ImportMemoryBound::~ImportMemoryBound() {
    if (active_) setrlimit(RLIMIT_AS, &saved_);
}

namespace {
std::string oneLine(std::string text) {
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}
}  // namespace

std::string fileProblem(const char* path) {
    struct stat status {};
    if (stat(path, &status) != 0) return std::strerror(errno);
    if (S_ISDIR(status.st_mode)) return "it is a directory, not a file";
    if (S_ISFIFO(status.st_mode)) return "it is a named pipe, not a file";
    if (!S_ISREG(status.st_mode)) return "it is not a regular file";
    if (status.st_size == 0) return "it is empty";
    // Non-blocking in case it has become a pipe since.
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::strerror(errno);
    close(fd);
    return std::string();
}

std::string modelFileProblem(const char* path) {
    const std::string problem = fileProblem(path);
    if (!problem.empty()) return problem;
    const char* name = std::strrchr(path, '/') ? std::strrchr(path, '/') + 1 : path;
    const char* extension = std::strrchr(name, '.');
    if (extension == nullptr) return "it has no extension, by which the importer picks its reader";
    if (!aiIsExtensionSupported(extension))
        return std::string("no importer here reads ") + extension + " files";
    return std::string();
}

ModelImport importModel(const char* path, ModelUp up) {
    ModelImport result;
    const std::string problem = modelFileProblem(path);
    if (!problem.empty()) {
        result.error = std::string("cannot open ") + path + ": " + problem;
        return result;
    }
    const std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    std::string why;
    {
        ImportMemoryBound bound;
        // The bound makes running out of memory an ordinary outcome; not every importer catches it,
        // and a mesh that many nodes name is copied for each of them.
        try {
            // The importer turns zero-area triangles into lines or points by default: dropped, they
            // stay as unseen as they were, where drawn they would streak the model.
            aiPropertyStore* properties = aiCreatePropertyStore();
            aiSetImportPropertyInteger(properties, AI_CONFIG_PP_FD_REMOVE, 1);
            result.scene = aiImportFileExWithProperties(path, kImportFlags, nullptr, properties);
            aiReleasePropertyStore(properties);
            result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            if (result.scene == nullptr) why = oneLine(aiGetErrorString());
            if ((result.meshes = sceneHasMeshes(result.scene)))
                result.parts = buildPlacedParts(*result.scene, upTurn(*result.scene, up));
        } catch (const std::bad_alloc&) {
            aiReleaseImport(result.scene);
            result.scene = nullptr;
            why = "std::bad_alloc";
        }
    }
    if (result.scene == nullptr) {
        if (why.find("bad_alloc") != std::string::npos) why += " (needs more memory than an import may take)";
        result.error =
            std::string("cannot import ") + path + ": " + (why.empty() ? "the importer gave no reason" : why);
    }
    return result;
}
