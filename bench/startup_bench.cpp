// Start-up against its bound: the bare import of the model versus the program's own start-up
// up to the first presented frame, alternating in one run; or one of them once, for peak memory.
// The model is the default scene's file, or (--named) a model named on the command line.
#include <assimp/cimport.h>
#include <assimp/scene.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "app/App.h"

namespace {

constexpr const char* kUsage =
    "usage: startup_bench MODEL.obj [N]           alternate bare import and App start-up, N times each "
    "(default 5)\n"
    "       startup_bench --import-once MODEL.obj  bare import once, then print its peak memory\n"
    "       startup_bench --app-once MODEL.obj     App start-up and first frame once, then print its peak "
    "memory\n"
    "       startup_bench --named MODEL [N]        the same as the first for a model named on the command line "
    "(any format: checked, bounded, placed by its nodes and fitted)";
constexpr int kDefaultRuns = 5;

struct ImportTimes {
    double import = 0.0;
    double release = 0.0;
};

// (a) What start-up cannot beat: the import with the program's flags and log stream, and its release.
ImportTimes bareImport(const char* path = kMeshPath) {
    bench::QuietStdout quiet;
    const bench::Clock::time_point start = bench::Clock::now();
    aiLogStream stream = aiGetPredefinedLogStream(aiDefaultLogStream_STDOUT, nullptr);
    aiAttachLogStream(&stream);
    const aiScene* scene = aiImportFile(path, kImportFlags);
    ImportTimes times;
    times.import = bench::secondsSince(start);
    if (scene == nullptr) bench::ModelDir::fail(std::string("import failed: ") + aiGetErrorString());
    aiReleaseImport(scene);
    times.release = bench::secondsSince(start) - times.import;
    aiDetachAllLogStreams();
    return times;
}

struct AppStart {
    double seconds = 0.0;
    size_t parts = 0;
    size_t arrayBytes = 0;  // CPU-side vertex and index arrays of all parts
};

// (b) The program's start-up: App construction, init() and one step(), until the frame is done.
AppStart appStart(const char* named = nullptr) {
    AppStart started;
    std::unique_ptr<App> app;
    {
        bench::QuietStdout quiet;
        const bench::Clock::time_point start = bench::Clock::now();
        app = std::make_unique<App>();
        app->modelPath = named;
        if (!app->init()) bench::ModelDir::fail("App::init failed (is DISPLAY set?)");
        app->step();
        glFinish();
        started.seconds = bench::secondsSince(start);
    }
    started.parts = app->mesh.parts.size();
    for (const OglMeshPart& part : app->mesh.parts)
        started.arrayBytes += part.vertexBuffer.vertices.size() * sizeof(float) +
                              part.indexBuffer.indices.size() * sizeof(uint32_t);
    {
        bench::QuietStdout quiet;
        app.reset();
        SDL_Quit();  // the App leaves SDL running; the next one starts clean
        aiDetachAllLogStreams();
    }
    return started;
}

void printSpread(const char* label, const std::string& key, const std::vector<double>& seconds) {
    const bench::Spread s = bench::spreadOf(seconds);
    std::printf("%-34s median %8.3f s   min %8.3f s   max %8.3f s\n", label, s.median, s.min, s.max);
    bench::result(key + ".median_s", s.median);
    bench::result(key + ".min_s", s.min);
    bench::result(key + ".max_s", s.max);
}

int compare(const char* model, int runs, bool namedModel) {
    // A named model is opened where it is; the shaders then come from the working directory.
    const std::string path = bench::fs::absolute(model).string();
    const char* const named = namedModel ? path.c_str() : nullptr;
    std::unique_ptr<bench::ModelDir> dir(namedModel ? nullptr : new bench::ModelDir(model));
    bench::ScopedChdir inDir(named ? bench::fs::path(HANDVIEW_SOURCE_DIR) : dir->path());
    const char* const imported = named ? named : kMeshPath;

    // One untimed round first: the driver, the shader compiler and the file are then warm for both.
    bareImport(imported);
    const AppStart first = appStart(named);

    std::vector<double> imports, importReleases, apps;
    for (int i = 0; i < runs; ++i) {
        const ImportTimes a = bareImport(imported);
        imports.push_back(a.import);
        importReleases.push_back(a.import + a.release);
        apps.push_back(appStart(named).seconds);
        std::fprintf(stderr, "run %d/%d: import+release %.3f s, start-up %.3f s\n", i + 1, runs,
                     importReleases.back(), apps.back());
    }
    std::printf("model %s: %zu parts, %.1f MB of vertex and index arrays; %d runs each, alternating\n", model,
                first.parts, first.arrayBytes / 1e6, runs);
    printSpread("(a) bare import + release", "startup.import", importReleases);
    printSpread("    of which the import alone", "startup.import_only", imports);
    printSpread("(b) App start-up to first frame", "startup.app", apps);
    const double ratio = bench::spreadOf(apps).median / bench::spreadOf(importReleases).median;
    std::printf("ratio b/a (medians) %.3f\n", ratio);
    bench::result("startup.ratio", ratio);
    return 0;
}

int importOnce(const char* model) {
    bench::ModelDir dir(model);
    bench::ScopedChdir inDir(dir.path());
    const ImportTimes a = bareImport();
    std::printf("bare import + release %.3f s, peak resident %ld kB\n", a.import + a.release,
                bench::peakResidentKb());
    bench::result("memory.import.peak_kb", bench::peakResidentKb());
    return 0;
}

int appOnce(const char* model) {
    bench::ModelDir dir(model);
    bench::ScopedChdir inDir(dir.path());
    const AppStart b = appStart();
    std::printf("App start-up %.3f s, %zu parts, arrays %zu bytes, peak resident %ld kB\n", b.seconds,
                b.parts, b.arrayBytes, bench::peakResidentKb());
    bench::result("memory.app.peak_kb", bench::peakResidentKb());
    bench::result("memory.app.array_kb", b.arrayBytes / 1024.0);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--import-once") == 0) return importOnce(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "--app-once") == 0) return appOnce(argv[2]);
    if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "--named") == 0)
        return compare(argv[2], argc == 4 ? bench::countArgument(argv[3], kUsage) : kDefaultRuns, true);
    if ((argc == 2 || argc == 3) && argv[1][0] != '-')
        return compare(argv[1], argc == 3 ? bench::countArgument(argv[2], kUsage) : kDefaultRuns, false);
    std::fprintf(stderr, "%s\n", kUsage);
    return 2;
}
