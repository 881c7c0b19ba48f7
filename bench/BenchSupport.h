// Shared by the benchmarks: a working directory the App can start in, quiet stdout,
// clocks, order statistics and peak memory. Header only: every bench/*.cpp is a program.
#pragma once

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>

#include <GL/glew.h>
#include <vector>

#ifndef HANDVIEW_SOURCE_DIR
#error "HANDVIEW_SOURCE_DIR must name the repository root (the shaders come from there)"
#endif

namespace bench {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

inline double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A frame's time, up to the end of its drawing: GL returns before the work is done.
template <typename Frame>
double timedFrame(Frame&& frame) {
    const Clock::time_point start = Clock::now();
    frame();
    glFinish();
    return secondsSince(start);
}

// A temporary directory laid out as the program expects: obj/shapes.obj is the model (its
// .mtl files beside it, linked) and shaders/simple/ holds copies of the shipped stages.
class ModelDir {
public:
    explicit ModelDir(const fs::path& model) {
        std::string pattern = (fs::temp_directory_path() / "handview-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) fail("cannot create a temporary directory");
        root_ = pattern;
        const fs::path source = fs::absolute(model);
        if (!fs::is_regular_file(source)) fail("no model at " + source.string());
        fs::create_directories(root_ / "obj");
        fs::create_symlink(source, root_ / "obj" / "shapes.obj");
        for (const fs::directory_entry& entry : fs::directory_iterator(source.parent_path()))
            if (entry.path().extension() == ".mtl")
                fs::create_symlink(entry.path(), root_ / "obj" / entry.path().filename());
        const fs::path shaders = fs::path(HANDVIEW_SOURCE_DIR) / "shaders" / "simple";
        fs::create_directories(root_ / "shaders" / "simple");
        for (const char* stage : {"ColoredPointL.vsh", "ColoredPointL.fsh"})
            fs::copy_file(shaders / stage, root_ / "shaders" / "simple" / stage);
    }
    ~ModelDir() {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    ModelDir(const ModelDir&) = delete;
    ModelDir& operator=(const ModelDir&) = delete;

    const fs::path& path() const { return root_; }

    [[noreturn]] static void fail(const std::string& why) {
        std::fprintf(stderr, "bench: %s\n", why.c_str());
        std::exit(2);
    }

private:
    fs::path root_;
};

class ScopedChdir {
public:
    explicit ScopedChdir(const fs::path& to) : back_(fs::current_path()) { fs::current_path(to); }
    ~ScopedChdir() {
        std::error_code ignored;
        fs::current_path(back_, ignored);
    }
    ScopedChdir(const ScopedChdir&) = delete;
    ScopedChdir& operator=(const ScopedChdir&) = delete;

private:
    fs::path back_;
};

// Standard output goes to /dev/null while alive: the importer's log and the shader messages
// are still formatted and written, only not shown, so both sides of a comparison pay the same.
class QuietStdout {
public:
    QuietStdout() {
        flushAll();
        saved_ = dup(STDOUT_FILENO);
        std::FILE* null = std::fopen("/dev/null", "w");
        if (saved_ < 0 || null == nullptr) ModelDir::fail("cannot redirect standard output");
        dup2(fileno(null), STDOUT_FILENO);
        std::fclose(null);
    }
    ~QuietStdout() {
        flushAll();
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
    }
    QuietStdout(const QuietStdout&) = delete;
    QuietStdout& operator=(const QuietStdout&) = delete;

private:
    static void flushAll() {
        std::cout.flush();
        std::fflush(stdout);
    }
    int saved_ = -1;
};

struct Spread {
    double median = 0.0;
    double min = 0.0;
    double max = 0.0;
};

inline Spread spreadOf(std::vector<double> values) {
    if (values.empty()) return {};
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
    return {median, values.front(), values.back()};
}

inline long peakResidentKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;  // kilobytes on Linux
}

// Parses a positive count argument, or exits with the usage line.
inline int countArgument(const char* text, const char* usage) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 1 || value > 100000) {
        std::fprintf(stderr, "%s\n", usage);
        std::exit(2);
    }
    return static_cast<int>(value);
}

// One figure per line, "result <name> <value>", for scripts/bench to pick up.
inline void result(const std::string& name, double value) {
    std::printf("result %s %.6g\n", name.c_str(), value);
}

}  // namespace bench
